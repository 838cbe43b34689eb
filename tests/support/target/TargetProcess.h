#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QStringList>

// Runs qx-target and plays the client: opens the pseudo-terminal it serves
// the way a terminal program opens a serial port.
class TargetProcess {
public:
    TargetProcess() = default;
    ~TargetProcess();
    TargetProcess(const TargetProcess&) = delete;
    TargetProcess& operator=(const TargetProcess&) = delete;

    static QString ProgramPath();

    // Starts the program and reads the slave path from its first line.
    bool Start(const QStringList& args);
    QString SlavePath() const { return FSlavePath; }
    qint64 Pid() const { return FProcess.processId(); }

    bool OpenClient();
    void CloseClient();
    bool Write(const QByteArray& bytes);
    // Reads until Count bytes arrived or TimeoutMs passed without a byte.
    QByteArray Read(int count, int timeoutMs = 5000);

    // Sends Signal and waits for the end; false when it did not end.
    bool Stop(int signal);
    bool WaitForEnd(int timeoutMs = 15000);
    int ExitCode() const { return FProcess.exitCode(); }
    bool EndedNormally() const { return FProcess.exitStatus() == QProcess::NormalExit; }
    // The "name: value" lines printed so far (after the slave path).
    QMap<QByteArray, QByteArray> Summary();

private:
    QProcess FProcess;
    QString FSlavePath;
    QByteArray FOutput;
    int FClient = -1;
};

// Runs qx-target to its end with the given arguments.
struct TargetRun {
    int ExitCode = -1;
    QByteArray Output;
    QByteArray Errors;
};
TargetRun RunTarget(const QStringList& args);
