#include "transfer/TFdChannel.h"

#include "platform/SystemError.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

TByteChannel::TStatus TFdChannel::Read(char* buffer, qsizetype count, qsizetype& got,
                                       int timeoutMs) {
    got = 0;
    QDeadlineTimer deadline(qMax(timeoutMs, 0));
    for (;;) {
        pollfd p{FReadFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Lost(errno);
        if (ready == 0)
            return TStatus::TimedOut;
        const ssize_t n = ::read(FReadFd, buffer, size_t(count));
        if (n > 0) {
            got = n;
            return TStatus::Ok;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return Lost(n == 0 ? EPIPE : errno);
    }
}

TByteChannel::TStatus TFdChannel::Write(const char* data, qsizetype count, int timeoutMs) {
    QDeadlineTimer deadline(qMax(timeoutMs, 0));
    qsizetype done = 0;
    while (done < count) {
        pollfd p{FWriteFd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Lost(errno);
        if (ready == 0)
            return TStatus::TimedOut;
        const ssize_t n = ::write(FWriteFd, data + done, size_t(count - done));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return Lost(errno);
        done += n;
    }
    return TStatus::Ok;
}

TByteChannel::TStatus TFdChannel::Lost(int error) {
    FLostReason = SystemErrorText(error);
    return TStatus::Lost;
}
