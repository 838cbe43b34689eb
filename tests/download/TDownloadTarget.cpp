#include "tests/download/TDownloadTarget.h"

#include <chrono>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void WriteAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return;
        if (n > 0)
            done += n;
    }
}

} // namespace

TDownloadTarget::TDownloadTarget(int masterFd, TAnswer answer)
    : FMaster(masterFd), FAnswer(std::move(answer)), FThread([this] { Run(); }) {}

TDownloadTarget::~TDownloadTarget() {
    FStop = true;
    FThread.join();
}

void TDownloadTarget::Run() {
    char buffer[65536];
    while (!FStop.load()) {
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        {
            std::lock_guard lock(FLock);
            FReceived.append(buffer, n);
        }
        TakeLines();
    }
}

void TDownloadTarget::TakeLines() {
    for (;;) {
        QByteArray line;
        int arrival = 0;
        {
            std::lock_guard lock(FLock);
            const qsizetype end = FReceived.indexOf("\r\n", FParsed);
            if (end < 0)
                return;
            line = FReceived.mid(FParsed, end - FParsed);
            FParsed = end + 2;
            FLines << line;
            FTimes << NowMs();
            arrival = int(FLines.size());
        }
        if (FAnswer)
            WriteAll(FMaster, FAnswer(arrival, line));
    }
}

QByteArray TDownloadTarget::Received() const {
    std::lock_guard lock(FLock);
    return FReceived;
}

QList<QByteArray> TDownloadTarget::Lines() const {
    std::lock_guard lock(FLock);
    return FLines;
}

int TDownloadTarget::LineCount() const {
    std::lock_guard lock(FLock);
    return int(FLines.size());
}

QList<double> TDownloadTarget::LineTimes() const {
    std::lock_guard lock(FLock);
    return FTimes;
}
