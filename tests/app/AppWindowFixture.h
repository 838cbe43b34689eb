#pragma once

// The main window as the program builds it, with COM1 on a pseudo-terminal
// in a temporary application directory and a recording fake for prompts.

#include "app/TQxConsoleWindow.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QElapsedTimer>
#include <QList>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

// Notes every write the window hands to the port, with its time.
class RecordingWindow : public TQxConsoleWindow {
public:
    struct Write {
        qint64 AtMs;
        QByteArray Bytes;
    };

    RecordingWindow() { FClock.start(); }
    QList<QByteArray> WrittenBytes() const;
    QList<Write> Writes;

protected:
    void WritePort(const QByteArray& bytes) override;

private:
    QElapsedTimer FClock;
};

// Reads the target side of a pty on its own thread, noting when each piece
// arrived, so that pauses between writes can be seen while the main thread
// is busy sending.
class TimedPtyReader {
public:
    struct Piece {
        qint64 AtMs;
        QByteArray Bytes;
    };

    explicit TimedPtyReader(int masterFd);
    ~TimedPtyReader();

    // The pieces merged into bursts: pieces less than QuietMs apart join.
    QList<Piece> Bursts(int quietMs = 100) const;
    QByteArray All() const;

private:
    int FMaster;
    QElapsedTimer FClock;
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    QList<Piece> FPieces;
    std::thread FThread;
};

struct AppWindowFixture {
    // Parent: where the application directory is made (the system's
    // temporary directory when empty).
    explicit AppWindowFixture(const QString& parent = {});
    ~AppWindowFixture();

    // Builds and shows the window (which opens its port) and waits until it
    // is exposed and its pane has the focus.
    bool Show();
    // Writes one key of the settings file (before Show: what the program
    // finds at its start).
    void WriteSetting(const QByteArray& section, const QByteArray& key,
                      const QByteArray& value) const;
    // The pane's lines with their trailing blanks removed, empty lines at
    // the end dropped.
    QList<QByteArray> ScreenLines() const;

    FakeInteraction Fake;
    TempAppDir Dir;
    PtyPair Pty;
    std::unique_ptr<RecordingWindow> Window;
};

// Loads the toolbar pictures of the application library.
void InitAppResources();
