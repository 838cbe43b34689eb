#include "tests/support/target/TargetProcess.h"

#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

TargetProcess::~TargetProcess() {
    CloseClient();
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QString TargetProcess::ProgramPath() {
    return QStringLiteral(QX_TARGET_PATH);
}

bool TargetProcess::Start(const QStringList& args) {
    FProcess.setProcessChannelMode(QProcess::SeparateChannels);
    FProcess.start(ProgramPath(), args);
    if (!FProcess.waitForStarted(10000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (!FProcess.canReadLine() && timer.elapsed() < 10000)
        FProcess.waitForReadyRead(100);
    if (!FProcess.canReadLine())
        return false;
    FSlavePath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
    return FSlavePath.startsWith("/dev/");
}

bool TargetProcess::OpenClient() {
    CloseClient();
    FClient = ::open(FSlavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return FClient >= 0;
}

void TargetProcess::CloseClient() {
    if (FClient >= 0)
        ::close(FClient);
    FClient = -1;
}

bool TargetProcess::Write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FClient, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0)
            done += n;
    }
    return true;
}

QByteArray TargetProcess::Read(int count, int timeoutMs) {
    QByteArray result;
    char buffer[65536];
    while (result.size() < count) {
        pollfd p{FClient, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            break;
        const ssize_t n =
            ::read(FClient, buffer, std::min<qsizetype>(sizeof buffer, count - result.size()));
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    return result;
}

bool TargetProcess::Stop(int signal) {
    ::kill(static_cast<pid_t>(FProcess.processId()), signal);
    return WaitForEnd();
}

bool TargetProcess::WaitForEnd(int timeoutMs) {
    return FProcess.state() == QProcess::NotRunning || FProcess.waitForFinished(timeoutMs);
}

QMap<QByteArray, QByteArray> TargetProcess::Summary() {
    FOutput += FProcess.readAllStandardOutput();
    QMap<QByteArray, QByteArray> summary;
    for (const QByteArray& line : FOutput.split('\n')) {
        const qsizetype colon = line.indexOf(": ");
        if (colon > 0)
            summary.insert(line.left(colon), line.mid(colon + 2).trimmed());
    }
    return summary;
}

TargetRun RunTarget(const QStringList& args) {
    QProcess process;
    process.start(TargetProcess::ProgramPath(), args);
    TargetRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Output = process.readAllStandardOutput();
    run.Errors = process.readAllStandardError();
    return run;
}
