#include "tests/support/PtyPair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    char name[256] = {};
    int slave = -1;
    if (openpty(&FMaster, &slave, name, nullptr, nullptr) != 0) {
        FMaster = -1;
        return;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    FSlaveKeeper = slave;
    FSlavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair() {
    CloseSlaveKeeper();
    CloseMaster();
}

bool PtyPair::Write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.constData() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{FMaster, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray PtyPair::Read(int count, int timeoutMs) {
    QByteArray result;
    char buffer[65536];
    while (result.size() < count) {
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            break;
        const ssize_t n = ::read(FMaster, buffer, std::min<qsizetype>(sizeof buffer, count - result.size()));
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    return result;
}

QByteArray PtyPair::ReadAll(int quietMs) { return Read(INT_MAX, quietMs); }

void PtyPair::CloseMaster() {
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

void PtyPair::CloseSlaveKeeper() {
    if (FSlaveKeeper >= 0)
        ::close(FSlaveKeeper);
    FSlaveKeeper = -1;
}
