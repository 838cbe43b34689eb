#include "tests/support/LrzszOnPty.h"

#include <QStandardPaths>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
void WriteAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size_t(size));
        if (put <= 0)
            return;
        data += put;
        size -= put;
    }
}
} // namespace

LrzszOnPty::LrzszOnPty(int master, const QString& folder, const QString& program,
                       const QStringList& args)
    : FMaster(master) {
    if (!program.isEmpty()) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        Process.setWorkingDirectory(folder);
        Process.setStandardInputFile(QStringLiteral("/proc/self/fd/%1").arg(in[0]));
        Process.setStandardOutputFile(QStringLiteral("/proc/self/fd/%1").arg(out[1]));
        Process.start(QStandardPaths::findExecutable(program), args);
        ::close(in[0]);
        ::close(out[1]);
        FToPeer = in[1];
        FFromPeer = out[0];
    }
    FRelay = std::thread([this] { Relay(); });
}

LrzszOnPty::~LrzszOnPty() {
    FStop = true;
    FRelay.join();
    for (int fd : {FToPeer, FFromPeer})
        if (fd >= 0)
            ::close(fd);
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished();
    }
}

int LrzszOnPty::Finish() {
    if (!Process.waitForFinished(30000))
        Process.kill();
    Process.waitForFinished();
    return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
}

QByteArray LrzszOnPty::Received() {
    const std::lock_guard lock(FLock);
    return FReceived;
}

void LrzszOnPty::Relay() {
    char buffer[16384];
    while (!FStop) {
        pollfd fds[2] = {{FMaster, POLLIN, 0}, {FFromPeer, POLLIN, 0}};
        if (::poll(fds, FFromPeer >= 0 ? 2 : 1, 20) <= 0)
            continue;
        if (fds[0].revents & (POLLNVAL | POLLHUP))
            return; // the line was closed
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(FMaster, buffer, sizeof buffer);
            if (got > 0 && FToPeer >= 0) {
                WriteAll(FToPeer, buffer, got);
            } else if (got > 0) {
                const std::lock_guard lock(FLock);
                FReceived.append(buffer, got);
            }
        }
        if (FFromPeer >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
            const ssize_t got = ::read(FFromPeer, buffer, sizeof buffer);
            if (got > 0) {
                WriteAll(FMaster, buffer, got);
            } else {
                ::close(FFromPeer);
                FFromPeer = -1;
            }
        }
    }
}
