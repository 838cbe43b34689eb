#pragma once

#include <QByteArray>

#include <sys/types.h>

// An X server of our own (Xvfb, black root window, no reset when its last
// client leaves, no TCP). Plain POSIX, so it can be started before any Qt
// application object exists. Stopped by the destructor.
class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // The Xvfb on the search path; empty when it is not installed.
    static QByteArray FindServer();
    // Starts it and waits until it has picked its display number.
    bool Start(const QByteArray& server);
    // ":<number>" once started.
    QByteArray Name;

private:
    pid_t FPid = -1;
};

// When Arguments hold "--x11": starts an X server (or says why not on the
// error output and returns false with Skip set), points DISPLAY at it, makes
// Qt use the xcb platform and has every figure reported with "_x11" added
// to its name. Removes the argument. Returns true when not asked for.
bool SetUpX11IfAsked(int& argc, char** argv, VirtualDisplay& display, bool& skip);
