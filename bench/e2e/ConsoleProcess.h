#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// The real program, copied into an application directory of its own (the
// settings file lives beside the executable) and started there, by default
// on the offscreen platform.
class ConsoleProcess {
public:
    ConsoleProcess();
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    // Writes the settings file, copies the program and starts it with
    // Environment. Settings holds the file's lines (sections and keys).
    bool Start(const QByteArray& settings);
    // Ends the program if it runs and starts it anew in the same directory;
    // StartNs is the moment just before the start.
    bool Restart(qint64& startNs);
    qint64 Pid() const { return FProcess.processId(); }
    bool Running() const { return FProcess.state() == QProcess::Running; }
    // Asks the program to end (SIGTERM) and waits for it.
    void Stop();

    QProcessEnvironment Environment;

private:
    bool Launch();

    QTemporaryDir FDir;
    QProcess FProcess;
};
