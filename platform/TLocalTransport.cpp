#include "platform/TLocalTransport.h"

#include "platform/ModemStatus.h"
#include "platform/OpenDiagnosis.h"
#include "platform/TReadDeadline.h" // MillisecondsUntil
#include "platform/TReceiveQueue.h"

#include <QFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool IsLineGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

} // namespace

std::unique_ptr<TLocalTransport> TLocalTransport::Open(const QString& path, int& error) {
    // Only a character device is opened: opening anything else read-write
    // may have side effects. A live lock file of another program counts as
    // that program's open.
    if ((error = RefuseBeforeOpen(path)) != 0)
        return nullptr;
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    if (!::isatty(fd))
        error = ENOTTY;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    if (error != 0) {
        ::close(fd);
        return nullptr;
    }
    // Keeps out other openers that do not lock (root ignores this).
    ::ioctl(fd, TIOCEXCL);
    return std::unique_ptr<TLocalTransport>(new TLocalTransport(fd, path));
}

TLocalTransport::TLocalTransport(int fd, const QString& path) : TTransport(fd) {
    TKernelTermios found{};
    if (SaveLineState(fd, found))
        FFoundLine = found;
    FModemBits = ModemStatusSource().Read(fd);
    FEventCounts = ReadLineCounters(fd);
    FErrorCounts = FEventCounts;
    FOpenCounts = FEventCounts;
    FHasModemLines = FModemBits || FEventCounts;
    FLockFile = CreateLockFile(path);
}

TLocalTransport::~TLocalTransport() {
    Close(false);
}

void TLocalTransport::Close(bool hungUp) {
    if (std::exchange(FClosed, true))
        return;
    const int fd = Fd();
    // The next program finds the line as this one found it. Bytes still
    // on their way out would go at the former rate and arrive garbled, so
    // a line with output pending keeps its settings; a line that hung up
    // takes nothing any more.
    int pending = 0;
    if (FFoundLine && !hungUp && ::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending == 0)
        RestoreLineState(fd, *FFoundLine);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    RemoveLockFile(FLockFile);
    FLockFile.clear();
}

int TLocalTransport::SetLineSettings(const TLineSettings& settings) {
    const int fd = Fd();
    termios former{};
    if (::tcgetattr(fd, &former) != 0)
        return errno;
    termios wanted = former;
    if (!BuildLineTermios(wanted, settings))
        return EINVAL;
    if (!ApplyLineTermios(fd, wanted, settings.Baudrate))
        return errno;
    // The driver takes what it can: a rate it cannot make exactly shows up
    // only when read back.
    FLineSpeed = ReadLineSpeed(fd);
    // Linux raised both lines inside open() already; this puts them where
    // they belong as soon as it can.
    SetOutputLine(TIOCM_DTR, settings.DTR);
    SetOutputLine(TIOCM_RTS, settings.RTS);
    return 0;
}

bool TLocalTransport::SetOutputLine(int line, bool on) {
    return ModemStatusSource().SetLines(Fd(), line, on);
}

bool TLocalTransport::SendBreak() {
    return ModemStatusSource().SendBreak(Fd());
}

std::optional<int> TLocalTransport::ModemLines() const {
    return ModemStatusSource().Read(Fd());
}

std::optional<TLineErrorCounts> TLocalTransport::ErrorCountsSinceOpen() const {
    if (!FOpenCounts)
        return std::nullopt;
    const std::optional<TLineCounters> now = ReadLineCounters(Fd());
    if (!now)
        return std::nullopt;
    return now->Errors - FOpenCounts->Errors;
}

quint32 TLocalTransport::TakeErrors() {
    if (!FErrorCounts)
        return 0;
    const std::optional<TLineCounters> now = ReadLineCounters(Fd());
    if (!now)
        return 0;
    quint32 errors = 0;
    const TLineErrorCounts& before = FErrorCounts->Errors;
    if (now->Errors.BufferOverrun != before.BufferOverrun)
        errors |= CE_RXOVER;
    if (now->Errors.Overrun != before.Overrun)
        errors |= CE_OVERRUN;
    if (now->Errors.Parity != before.Parity)
        errors |= CE_RXPARITY;
    if (now->Errors.Frame != before.Frame)
        errors |= CE_FRAME;
    if (now->Errors.Break != before.Break)
        errors |= CE_BREAK;
    FErrorCounts = now;
    return errors;
}

// ReadLines: the modem lines too, not only the counters (on a USB adapter
// each look at the lines is a transfer; the counters are kept by the host).
quint32 TLocalTransport::LineEvents(quint32 mask, bool readLines) {
    quint32 events = 0;
    if (FModemBits && readLines) {
        if (const std::optional<int> bits = ModemStatusSource().Read(Fd())) {
            const int changed = *bits ^ *FModemBits;
            FModemBits = bits;
            if (changed & TIOCM_CTS)
                events |= EV_CTS;
            if (changed & TIOCM_DSR)
                events |= EV_DSR;
            if (changed & (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI))
                events |= EV_MODEMLINES;
        }
    }
    if (FEventCounts) {
        if (const std::optional<TLineCounters> counts = ReadLineCounters(Fd())) {
            // The counters also catch a pulse too short to be seen in the lines.
            if (counts->Cts != FEventCounts->Cts)
                events |= EV_CTS;
            if (counts->Dsr != FEventCounts->Dsr)
                events |= EV_DSR;
            if (counts->InputLinesDiffer(*FEventCounts))
                events |= EV_MODEMLINES;
            if (counts->Errors != FEventCounts->Errors)
                events |= EV_ERR;
            FEventCounts = counts;
        }
    }
    return events & mask;
}

TTransferStep TLocalTransport::Read(TReceiveQueue& queue) {
    TTransferStep step;
    for (;;) {
        const TReceiveQueue::TSpan span = queue.FreeSpan();
        if (span.Size == 0)
            break;
        const ssize_t n = ::read(Fd(), span.Data, span.Size);
        if (n > 0) {
            queue.Commit(std::size_t(n));
            step.Bytes += int(n);
            if (std::size_t(n) < span.Size)
                break; // the kernel has nothing more just now
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            step.LineGone = true;
        break;
    }
    return step;
}

TTransferStep TLocalTransport::Write(const char* data, int count, TTransportDeadline deadline) {
    const int fd = Fd();
    TTransferStep step;
    while (step.Bytes < count) {
        const ssize_t n = ::write(fd, data + step.Bytes, size_t(count - step.Bytes));
        if (n > 0) {
            step.Bytes += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            const int waitMs = deadline ? MillisecondsUntil(*deadline) : -1;
            if (waitMs == 0)
                break;
            pollfd device{fd, POLLOUT, 0};
            if (::poll(&device, 1, waitMs) < 0 && errno != EINTR)
                break;
            continue;
        }
        step.LineGone = n < 0 && IsLineGone(errno);
        break;
    }
    return step;
}

TTransferStep TLocalTransport::WriteSome(const char* data, int count, int waitMs) {
    const int fd = Fd();
    bool waited = false;
    for (;;) {
        const ssize_t n = ::write(fd, data, size_t(count));
        if (n > 0)
            return {int(n), false};
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            if (waited)
                return {0, false};
            pollfd device{fd, POLLOUT, 0};
            if (::poll(&device, 1, waitMs) < 0 && errno != EINTR)
                return {-1, false};
            waited = true;
            continue;
        }
        const bool gone = n < 0 && IsLineGone(errno);
        return {count == 0 ? 0 : -1, gone};
    }
}
