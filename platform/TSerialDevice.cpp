#include "platform/TSerialDevice.h"

#include "platform/SystemError.h"
#include "platform/TLocalTransport.h"
#include "platform/TModemLineWaiter.h"
#include "platform/TNetworkLink.h"
#include "platform/TNetworkTransport.h"
#include "platform/TReadDeadline.h" // MillisecondsUntil
#include "platform/TReceiveQueue.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
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
    int error = 0;
    std::unique_ptr<TLocalTransport> local = TLocalTransport::Open(path, error);
    if (!local)
        return Fail(error);
    return Adopt(std::move(local));
}

bool TSerialDevice::Adopt(std::unique_ptr<TTransport> transport) {
    FLineSignal->Changed.store(false);
    FLineSignal->Unsupported.store(false);
    FNextLinePoll = {};
    FHeldLineEvents = 0;
    std::lock_guard lock(FLock);
    FTransport = std::move(transport);
    FMask.store(0);
    FTxPending.store(false);
    FReceiveHeld.store(false);
    FHungUp.store(false);
    ++FSession;
    FFd.store(FTransport->Fd());
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
    FTransport->Close(hungUp);
    FTransport.reset();
}

bool TSerialDevice::CarriesLineSettings() const {
    return !FTransport || FTransport->CarriesLineSettings();
}

bool TSerialDevice::SetQueueSizes(int, int) {
    return IsOpen() || Fail(EBADF);
}

int TSerialDevice::TransmitQueueSize() const {
    // The serial core and the USB serial drivers buffer one page.
    return int(::sysconf(_SC_PAGESIZE));
}

bool TSerialDevice::SetLineSettings(const TLineSettings& settings) {
    if (!IsOpen())
        return Fail(EBADF);
    if (const int error = FTransport->SetLineSettings(settings))
        return Fail(error);
    FLineSpeed = FTransport->LineSpeed();
    // Settings that found no room to go out at once: the monitor sends them
    // when there is.
    if (FTransport->WantedPollEvents() != 0)
        Wake();
    return true;
}

bool TSerialDevice::SetOutputLine(int line, bool on) {
    return IsOpen() && FTransport->SetOutputLine(line, on);
}

bool TSerialDevice::SendBreak() {
    return IsOpen() && FTransport->SendBreak();
}

std::optional<int> TSerialDevice::ModemLines() const {
    if (!IsOpen())
        return std::nullopt;
    return FTransport->ModemLines();
}

std::optional<TLineErrorCounts> TSerialDevice::ErrorCountsSinceOpen() const {
    if (!IsOpen())
        return std::nullopt;
    return FTransport->ErrorCountsSinceOpen();
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
        (mask & ModemLineEvents) && FTransport->HasModemLines() && !FLineSignal->Unsupported.load();
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
// A transport may ask for one after every write all the same.
void TSerialDevice::NoteWritten() {
    ++FWrites;
    const bool watchTransmit = (FMask.load() & EV_TXEMPTY) && !FTxPending.exchange(true);
    if (watchTransmit || FGathering.load() || FTransport->WakeAfterEveryWrite())
        Wake();
}

int TSerialDevice::Took(const TTransferStep& step) {
    if (step.LineGone)
        MarkHungUp();
    return step.Bytes;
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
        events = PendingEvents(mask);
        if (events != 0)
            return true;
        if (FHungUp.load())
            return false;
        // A held receive still watches for a hang-up (poll reports it always).
        const short own = FTransport->WantedPollEvents();
        pollfd fds[2] = {{fd, short(((mask & EV_RXCHAR) ? POLLIN : 0) | own), 0},
                         {FWakeFd, POLLIN, 0}};
        if (::poll(fds, 2, NextCheckDelay(mask)) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents & POLLIN)
            DrainWake();
        if (fds[0].revents & own)
            FTransport->PollReady(fds[0].revents);
        // A hung-up tty stays readable for ever; FIONREAD may even go on
        // reporting bytes that no read delivers.
        if (fds[0].revents & HangUpEvents)
            MarkHungUp();
    }
}

int TSerialDevice::ReadAvailable(TReceiveQueue& queue) {
    FWritesAtRead = FWrites.load();
    if (Enter() < 0)
        return 0;
    const int moved = Took(FTransport->Read(queue));
    Leave();
    return moved;
}

quint32 TSerialDevice::PendingEvents(quint32 mask) {
    // Held back while bytes were reported: now they follow those bytes.
    if (const quint32 held = std::exchange(FHeldLineEvents, 0) & mask)
        return held;
    quint32 events = 0;
    if ((mask & EV_RXCHAR) && !FHungUp.load() && FTransport->Readable())
        events |= EV_RXCHAR;
    if ((mask & EV_TXEMPTY) && FTxPending.load() && FTransport->OutputQueueCount() == 0 &&
        FTxPending.exchange(false))
        events |= EV_TXEMPTY;
    if (mask & LineEventBits) {
        quint32 lineEvents = 0;
        if (FLineSignal->Changed.exchange(false) || LinePollDue(mask))
            lineEvents = FTransport->LineEvents(mask, true);
        else if ((events & EV_RXCHAR) && (mask & EV_ERR))
            lineEvents = FTransport->LineEvents(mask, false);
        if (events & EV_RXCHAR)
            FHeldLineEvents = lineEvents;
        else
            events |= lineEvents;
    }
    return events;
}

// Only where the driver cannot wait for line changes, while the mask asks
// for them.
bool TSerialDevice::LinePolling(quint32 mask) const {
    return (mask & ModemLineEvents) && FTransport->HasModemLines() &&
           FLineSignal->Unsupported.load();
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

// A writer counts as a user of the descriptor, as the reader does: a close
// from another thread (a reconnect under a download) waits for it.
int TSerialDevice::Write(const char* data, int count) {
    if (count <= 0 || Enter() < 0)
        return 0;
    const int done = Took(FTransport->Write(data, count, WriteDeadline(FTimeouts, count)));
    if (done > 0)
        NoteWritten();
    Leave();
    return done;
}

int TSerialDevice::WriteSome(const char* data, int count, int waitMs) {
    if (Enter() < 0)
        return -1;
    const int taken = Took(FTransport->WriteSome(data, count, waitMs));
    if (taken > 0)
        NoteWritten();
    Leave();
    return taken;
}

int TSerialDevice::InputQueueCount() const {
    return !IsOpen() || FHungUp.load() ? 0 : FTransport->InputQueueCount();
}

int TSerialDevice::OutputQueueCount() const {
    return !IsOpen() || FHungUp.load() ? 0 : FTransport->OutputQueueCount();
}

quint32 TSerialDevice::ClearErrors() {
    return IsOpen() ? FTransport->TakeErrors() : 0;
}

// ---------------------------------------------------------------------------
// Network ports

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
    return Adopt(std::make_unique<TNetworkTransport>(std::move(link)));
}
