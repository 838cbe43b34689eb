#include "platform/TSerialDevice.h"

#include "platform/ModemStatus.h"
#include "platform/OpenDiagnosis.h"
#include "platform/SystemError.h"
#include "platform/TModemLineWaiter.h"
#include "platform/TNetworkLink.h"
#include "platform/TReadDeadline.h" // MillisecondsUntil
#include "platform/TReceiveQueue.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How often the waiter looks at a draining transmit queue, and at modem
// lines where the driver cannot wait for their changes; poll() reports
// neither.
constexpr int TxDrainCheckMs = 2;
constexpr auto LinePollInterval = std::chrono::milliseconds(100);
constexpr quint32 ModemLineEvents = EV_CTS | EV_DSR | EV_MODEMLINES;
constexpr quint32 LineEventBits = ModemLineEvents | EV_ERR;
// Pause between failing waits on a closed or hung-up device.
constexpr int FirstBackOffMs = 10;
constexpr int MaxBackOffMs = 250;

constexpr short HangUpEvents = POLLHUP | POLLERR | POLLNVAL;

int QueueCount(int fd, unsigned long request) {
    int count = 0;
    return ::ioctl(fd, request, &count) == 0 ? count : 0;
}

bool IsLineGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

} // namespace

TSerialDevice::TSerialDevice()
    : FWakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      FLineSignal(std::make_shared<TModemLineSignal>(FWakeFd)) {}

TSerialDevice::~TSerialDevice() {
    Close();
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

bool TSerialDevice::Fail(int error) {
    FError = error;
    FErrorText = SystemErrorText(error);
    return false;
}

bool TSerialDevice::Open(const QString& path) {
    FErrorText.clear();
    FError = 0;
    if (IsOpen())
        return Fail(EBUSY);
    if (TNetworkLink::IsNetworkUrl(path))
        return OpenNetwork(path);
    // Only a character device is opened: opening anything else read-write
    // may have side effects. A live lock file of another program counts as
    // that program's open.
    if (const int refused = RefuseBeforeOpen(path))
        return Fail(refused);
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno);
    int error = 0;
    if (!::isatty(fd))
        error = ENOTTY;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    if (error != 0) {
        ::close(fd);
        return Fail(error);
    }
    // Keeps out other openers that do not lock (root ignores this).
    ::ioctl(fd, TIOCEXCL);

    TKernelTermios found{};
    FFoundLine.reset();
    if (SaveLineState(fd, found))
        FFoundLine = found;
    FModemBits = ModemStatusSource().Read(fd);
    FEventCounts = ReadLineCounters(fd);
    FErrorCounts = FEventCounts;
    FOpenCounts = FEventCounts;
    FHasModemLines = FModemBits || FEventCounts;
    FLockFile = CreateLockFile(path);
    FLineSignal->Changed.store(false);
    FLineSignal->Unsupported.store(false);
    FNextLinePoll = {};
    FHeldLineEvents = 0;
    std::lock_guard lock(FLock);
    FMask.store(0);
    FTxPending.store(false);
    FReceiveHeld.store(false);
    FHungUp.store(false);
    ++FSession;
    FFd.store(fd);
    return true;
}

void TSerialDevice::Close() {
    // Ended before the descriptor goes: it waits on it.
    FLineWaiter.reset();
    std::unique_lock lock(FLock);
    const int fd = FFd.load();
    if (fd < 0)
        return;
    // A waiter leaves at once and no new one starts on this descriptor.
    ++FMaskGeneration;
    Wake();
    FIdle.wait(lock, [this] { return FWaiters == 0; });
    FFd.store(-1);
    ++FSession;
    FMask.store(0);
    FTxPending.store(false);
    const bool hungUp = FHungUp.exchange(false);
    lock.unlock();
    if (FNetwork) {
        FNetwork.reset(); // closes its socket
        return;
    }
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

bool TSerialDevice::SetQueueSizes(int, int) {
    return IsOpen() || Fail(EBADF);
}

int TSerialDevice::TransmitQueueSize() const {
    // The serial core and the USB serial drivers buffer one page.
    return int(::sysconf(_SC_PAGESIZE));
}

bool TSerialDevice::SetLineSettings(const TLineSettings& settings) {
    const int fd = FFd.load();
    if (fd < 0)
        return Fail(EBADF);
    if (FNetwork) {
        const bool applied = FNetwork->SetLineSettings(settings);
        // Commands the socket had no room for: the monitor sends them when
        // it has.
        Wake();
        return applied || Fail(EINVAL);
    }
    termios former{};
    if (::tcgetattr(fd, &former) != 0)
        return Fail(errno);
    termios wanted = former;
    if (!BuildLineTermios(wanted, settings))
        return Fail(EINVAL);
    if (!ApplyLineTermios(fd, wanted, settings.Baudrate))
        return Fail(errno);
    // The driver takes what it can: a rate it cannot make exactly shows up
    // only when read back.
    FLineSpeed = ReadLineSpeed(fd);
    // Linux raised both lines inside open() already; this puts them where
    // they belong as soon as it can.
    SetOutputLine(TIOCM_DTR, settings.DTR);
    SetOutputLine(TIOCM_RTS, settings.RTS);
    return true;
}

bool TSerialDevice::SetOutputLine(int line, bool on) {
    const int fd = FFd.load();
    return fd >= 0 && ModemStatusSource().SetLines(fd, line, on);
}

bool TSerialDevice::SendBreak() {
    const int fd = FFd.load();
    return fd >= 0 && ModemStatusSource().SendBreak(fd);
}

std::optional<int> TSerialDevice::ModemLines() const {
    const int fd = FFd.load();
    if (fd < 0)
        return std::nullopt;
    return ModemStatusSource().Read(fd);
}

std::optional<TLineErrorCounts> TSerialDevice::ErrorCountsSinceOpen() const {
    const int fd = FFd.load();
    if (fd < 0 || !FOpenCounts)
        return std::nullopt;
    const std::optional<TLineCounters> now = ReadLineCounters(fd);
    if (!now)
        return std::nullopt;
    return now->Errors - FOpenCounts->Errors;
}

bool TSerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    if (!IsOpen())
        return Fail(EBADF);
    FTimeouts = timeouts;
    return true;
}

bool TSerialDevice::SetEventMask(quint32 mask) {
    if (!IsOpen())
        return Fail(EBADF);
    FMask.store(mask);
    UpdateLineWaiter(mask);
    ++FMaskGeneration;
    Wake();
    return true;
}

// The waiter runs only while the mask asks for line changes and the driver
// has modem lines; once it found the driver cannot wait, the lines are
// polled instead (LinePollDue).
void TSerialDevice::UpdateLineWaiter(quint32 mask) {
    const bool wanted =
        (mask & ModemLineEvents) && FHasModemLines && !FLineSignal->Unsupported.load();
    if (!wanted)
        FLineWaiter.reset();
    else if (!FLineWaiter)
        FLineWaiter = std::make_unique<TModemLineWaiter>(FFd.load(), FLineSignal);
}

void TSerialDevice::Wake() {
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FWakeFd, &one, sizeof one);
}

void TSerialDevice::DrainWake() {
    quint64 count = 0;
    [[maybe_unused]] const ssize_t got = ::read(FWakeFd, &count, sizeof count);
}

void TSerialDevice::BackOff() {
    FBackOffMs = FBackOffMs == 0 ? FirstBackOffMs : std::min(FBackOffMs * 2, MaxBackOffMs);
    pollfd wake{FWakeFd, POLLIN, 0};
    if (::poll(&wake, 1, FBackOffMs) > 0)
        DrainWake();
}

int TSerialDevice::Enter() {
    std::lock_guard lock(FLock);
    const int fd = FFd.load();
    if (fd < 0 || FHungUp.load())
        return -1;
    ++FWaiters;
    return fd;
}

void TSerialDevice::Leave() {
    std::unique_lock lock(FLock);
    if (--FWaiters == 0)
        FIdle.notify_all();
}

bool TSerialDevice::WaitEvent(quint32& events, quint64* session) {
    events = 0;
    std::unique_lock lock(FLock);
    if (session)
        *session = FSession.load();
    const int fd = FFd.load();
    if (fd < 0 || FHungUp.load()) {
        lock.unlock();
        BackOff();
        return false;
    }
    ++FWaiters;
    const quint64 generation = FMaskGeneration.load();
    lock.unlock();

    const bool caught = WaitOnDevice(fd, generation, events);

    Leave();
    if (caught)
        FBackOffMs = 0;
    else
        BackOff();
    return caught;
}

void TSerialDevice::Sleep(std::chrono::milliseconds duration) {
    FGathering.store(true);
    // A write since the last read ends the gathering as well: it may have
    // come before the flag was up, and its answer may be on its way.
    if (FWrites.load() == FWritesAtRead) {
        // The wake-up is left set: the next wait sees it and looks again.
        pollfd wake{FWakeFd, POLLIN, 0};
        ::poll(&wake, 1, int(duration.count()));
    }
    FGathering.store(false);
}

// The monitor is woken only where a write changes what it waits for: while
// it lets a slow stream gather (the answer to what was just sent must not
// wait a frame), and when the transmit queue becomes something to watch.
// A wake-up after every write cost a writer of many small pieces (the
// download, a line at a time) two thread switches a piece for nothing.
void TSerialDevice::NoteWritten() {
    ++FWrites;
    const bool watchTransmit = (FMask.load() & EV_TXEMPTY) && !FTxPending.exchange(true);
    // A network port still wakes the monitor after every write: without it,
    // a key sent after a stalled peer had drained was left undelivered.
    if (watchTransmit || FGathering.load() || FNetwork)
        Wake();
}

void TSerialDevice::HoldReceive(bool hold) {
    if (FReceiveHeld.exchange(hold) != hold)
        Wake();
}

bool TSerialDevice::WaitOnDevice(int fd, quint64 generation, quint32& events) {
    for (;;) {
        if (FMaskGeneration.load() != generation) {
            events = 0;
            return true;
        }
        quint32 mask = FMask.load();
        if (FReceiveHeld.load())
            mask &= ~EV_RXCHAR;
        events = PendingEvents(fd, mask);
        if (events != 0)
            return true;
        if (FHungUp.load())
            return false;
        // A held receive still watches for a hang-up (poll reports it always).
        // Telnet commands the socket had no room for go once it has.
        const bool owed = FNetwork && FNetwork->HasOwed();
        pollfd fds[2] = {{fd, short(((mask & EV_RXCHAR) ? POLLIN : 0) | (owed ? POLLOUT : 0)), 0},
                         {FWakeFd, POLLIN, 0}};
        if (::poll(fds, 2, NextCheckDelay(mask)) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents & POLLIN)
            DrainWake();
        if (owed && (fds[0].revents & POLLOUT))
            FNetwork->SendOwed();
        // A hung-up tty stays readable for ever; FIONREAD may even go on
        // reporting bytes that no read delivers.
        if (fds[0].revents & HangUpEvents)
            MarkHungUp();
    }
}

int TSerialDevice::ReadAvailable(TReceiveQueue& queue) {
    FWritesAtRead = FWrites.load();
    const int fd = Enter();
    if (fd < 0)
        return 0;
    if (FNetwork) {
        const int moved = ReadNetwork(queue);
        Leave();
        return moved;
    }
    int moved = 0;
    for (;;) {
        const TReceiveQueue::TSpan span = queue.FreeSpan();
        if (span.Size == 0)
            break;
        const ssize_t n = ::read(fd, span.Data, span.Size);
        if (n > 0) {
            queue.Commit(std::size_t(n));
            moved += int(n);
            if (std::size_t(n) < span.Size)
                break; // the kernel has nothing more just now
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            MarkHungUp();
        break;
    }
    Leave();
    return moved;
}

quint32 TSerialDevice::PendingEvents(int fd, quint32 mask) {
    // Held back while bytes were reported: now they follow those bytes.
    if (const quint32 held = std::exchange(FHeldLineEvents, 0) & mask)
        return held;
    quint32 events = 0;
    if ((mask & EV_RXCHAR) && !FHungUp.load() &&
        (FNetwork ? NetworkReadable(fd) : QueueCount(fd, FIONREAD) > 0))
        events |= EV_RXCHAR;
    if ((mask & EV_TXEMPTY) && FTxPending.load() && QueueCount(fd, TIOCOUTQ) == 0 &&
        FTxPending.exchange(false))
        events |= EV_TXEMPTY;
    if (mask & LineEventBits) {
        quint32 lineEvents = 0;
        if (FLineSignal->Changed.exchange(false) || LinePollDue(mask))
            lineEvents = LineEvents(fd, mask, true);
        else if ((events & EV_RXCHAR) && (mask & EV_ERR))
            lineEvents = LineEvents(fd, mask, false);
        if (events & EV_RXCHAR)
            FHeldLineEvents = lineEvents;
        else
            events |= lineEvents;
    }
    return events;
}

// ReadLines: the modem lines too, not only the counters (on a USB adapter
// each look at the lines is a transfer; the counters are kept by the host).
// A network port's server reports its changes itself.
quint32 TSerialDevice::LineEvents(int fd, quint32 mask, bool readLines) {
    quint32 events = FNetwork ? FNetwork->TakeLineEvents() : 0;
    if (FModemBits && readLines) {
        if (const std::optional<int> bits = ModemStatusSource().Read(fd)) {
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
        if (const std::optional<TLineCounters> counts = ReadLineCounters(fd)) {
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

// Only where the driver cannot wait for line changes, while the mask asks
// for them.
bool TSerialDevice::LinePolling(quint32 mask) const {
    return (mask & ModemLineEvents) && FHasModemLines && FLineSignal->Unsupported.load();
}

bool TSerialDevice::LinePollDue(quint32 mask) {
    if (!LinePolling(mask))
        return false;
    const Clock::time_point now = Clock::now();
    if (now < FNextLinePoll)
        return false;
    FNextLinePoll = now + LinePollInterval;
    return true;
}

int TSerialDevice::NextCheckDelay(quint32 mask) const {
    int delay = -1;
    if (LinePolling(mask))
        delay = std::max(1, MillisecondsUntil(FNextLinePoll));
    if ((mask & EV_TXEMPTY) && FTxPending.load())
        delay = TxDrainCheckMs;
    return delay;
}

int TSerialDevice::Write(const char* data, int count) {
    const int fd = FFd.load();
    if (fd < 0 || count <= 0 || FHungUp.load())
        return 0;
    if (FNetwork)
        return WriteNetwork(data, count);
    const std::optional<Clock::time_point> deadline = WriteDeadline(FTimeouts, count);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, data + done, size_t(count - done));
        if (n > 0) {
            done += int(n);
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
        if (n < 0 && IsLineGone(errno))
            MarkHungUp();
        break;
    }
    if (done > 0)
        NoteWritten();
    return done;
}

int TSerialDevice::WriteSome(const char* data, int count, int waitMs) {
    const int fd = FFd.load();
    if (fd < 0 || FHungUp.load())
        return -1;
    if (FNetwork) {
        const int taken =
            FNetwork->Write(data, count, Clock::now() + std::chrono::milliseconds(waitMs), true);
        if (FNetwork->Gone())
            MarkHungUp();
        if (taken > 0)
            NoteWritten();
        return taken == 0 && FNetwork->Gone() ? -1 : taken;
    }
    bool waited = false;
    for (;;) {
        const ssize_t n = ::write(fd, data, size_t(count));
        if (n > 0) {
            NoteWritten();
            return int(n);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            if (waited)
                return 0;
            pollfd device{fd, POLLOUT, 0};
            if (::poll(&device, 1, waitMs) < 0 && errno != EINTR)
                return -1;
            waited = true;
            continue;
        }
        if (n < 0 && IsLineGone(errno))
            MarkHungUp();
        return count == 0 ? 0 : -1;
    }
}

int TSerialDevice::InputQueueCount() const {
    const int fd = FFd.load();
    return fd < 0 || FHungUp.load() ? 0 : QueueCount(fd, FIONREAD);
}

int TSerialDevice::OutputQueueCount() const {
    const int fd = FFd.load();
    return fd < 0 || FHungUp.load() ? 0 : QueueCount(fd, TIOCOUTQ);
}

quint32 TSerialDevice::ClearErrors() {
    const int fd = FFd.load();
    if (fd >= 0 && FNetwork)
        return FNetwork->TakeErrors();
    if (fd < 0 || !FErrorCounts)
        return 0;
    const std::optional<TLineCounters> now = ReadLineCounters(fd);
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

// ---------------------------------------------------------------------------
// Network ports

bool TSerialDevice::CarriesLineSettings() const {
    return !FNetwork || FNetwork->CarriesLineSettings();
}

bool TSerialDevice::OpenNetwork(const QString& url) {
    // The window keeps painting while a connection is made, so a retry's
    // timer may try to open again meanwhile: that one waits its turn.
    if (FConnecting)
        return Fail(EALREADY);
    FConnecting = true;
    auto link = std::make_unique<TNetworkLink>();
    const bool connected = link->Connect(url);
    FConnecting = false;
    if (!connected) {
        FErrorText = link->ErrorText();
        return false;
    }
    return OpenConnected(std::move(link));
}

bool TSerialDevice::OpenConnected(std::unique_ptr<TNetworkLink> link) {
    FErrorText.clear();
    FError = 0;
    if (IsOpen())
        return Fail(EBUSY);
    if (!link || link->Fd() < 0)
        return Fail(ENOTCONN);
    // A network port has no modem ioctls nor error counters: the server's
    // notices stand in for them.
    FModemBits.reset();
    FEventCounts.reset();
    FErrorCounts.reset();
    std::lock_guard lock(FLock);
    FNetwork = std::move(link);
    FMask.store(0);
    FTxPending.store(false);
    FReceiveHeld.store(false);
    FHungUp.store(false);
    ++FSession;
    FFd.store(FNetwork->Fd());
    return true;
}

// Readable covers the end of the connection too: the read then finds it.
bool TSerialDevice::NetworkReadable(int fd) const {
    if (FNetwork->HasPending())
        return true;
    pollfd socket{fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&socket, 1, 0) > 0 && socket.revents != 0;
}

int TSerialDevice::ReadNetwork(TReceiveQueue& queue) {
    int moved = 0;
    for (;;) {
        const TReceiveQueue::TSpan span = queue.FreeSpan();
        if (span.Size == 0)
            break;
        const int n = FNetwork->ReadInto(span.Data, int(std::min<std::size_t>(span.Size, 1 << 20)));
        if (n < 0)
            MarkHungUp();
        if (n <= 0)
            break;
        queue.Commit(std::size_t(n));
        moved += n;
    }
    return moved;
}

int TSerialDevice::WriteNetwork(const char* data, int count) {
    const std::optional<Clock::time_point> deadline = WriteDeadline(FTimeouts, count);
    const int done =
        FNetwork->Write(data, count, deadline.value_or(Clock::time_point{}), deadline.has_value());
    if (FNetwork->Gone())
        MarkHungUp();
    if (done > 0)
        NoteWritten();
    return done;
}
