#include "platform/TModemLineWaiter.h"

#include "platform/TLineCounters.h"
#include "platform/ModemStatus.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int InputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
// A driver's wait is interrupted by a signal; this one is sent to the
// waiting thread only. Its handler does nothing and does not restart the
// call.
const int InterruptSignal = SIGRTMIN + 4;
constexpr auto InterruptRetry = std::chrono::milliseconds(20);
// How long a close keeps interrupting a wait before leaving it behind.
constexpr auto InterruptPatience = std::chrono::seconds(2);

void IgnoreInterrupt(int) {}

void InstallInterruptHandler() {
    static const bool installed = [] {
        struct sigaction action = {};
        action.sa_handler = &IgnoreInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the wait returns with EINTR
        return ::sigaction(InterruptSignal, &action, nullptr) == 0;
    }();
    (void)installed;
}

} // namespace

TModemLineSignal::TModemLineSignal(int wakeFd) : FWakeFd(::fcntl(wakeFd, F_DUPFD_CLOEXEC, 0)) {}

TModemLineSignal::~TModemLineSignal() {
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

void TModemLineSignal::Raise() {
    Changed.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FWakeFd, &one, sizeof one);
}

struct TModemLineWaiter::TState {
    int Fd = -1;
    std::shared_ptr<TModemLineSignal> Signal;
    std::atomic<bool> Stop{false};
    std::mutex Lock;
    std::condition_variable Ended;
    bool Done = false;
};

namespace {

void WaitForLineChanges(const std::shared_ptr<TModemLineWaiter::TState>& state) {
    TModemLineSignal& signal = *state->Signal;
    signal.Raise();
    std::optional<TLineCounters> before = ReadLineCounters(state->Fd);
    while (!state->Stop.load()) {
        const TModemWait result = ModemStatusSource().WaitForChange(state->Fd, InputLines);
        // After a close the descriptor may already belong to something else.
        if (state->Stop.load())
            break;
        if (result == TModemWait::Interrupted)
            continue;
        if (result == TModemWait::Unsupported) {
            signal.Unsupported.store(true);
            signal.Raise();
            break;
        }
        signal.Raise();
        if (result == TModemWait::Failed)
            break;
        // A change between two waits is not reported by the next one; the
        // counters catch it.
        const std::optional<TLineCounters> now = ReadLineCounters(state->Fd);
        if (before && now && now->InputLinesDiffer(*before))
            signal.Raise();
        before = now;
    }
    std::lock_guard lock(state->Lock);
    state->Done = true;
    state->Ended.notify_all();
}

} // namespace

TModemLineWaiter::TModemLineWaiter(int fd, std::shared_ptr<TModemLineSignal> signal)
    : FState(std::make_shared<TState>()) {
    InstallInterruptHandler();
    FState->Fd = fd;
    FState->Signal = std::move(signal);
    FThread = std::thread(WaitForLineChanges, FState);
}

TModemLineWaiter::~TModemLineWaiter() {
    FState->Stop.store(true);
    const auto giveUp = std::chrono::steady_clock::now() + InterruptPatience;
    std::unique_lock lock(FState->Lock);
    // A signal sent just before the thread enters the wait is lost: repeat.
    while (!FState->Done && std::chrono::steady_clock::now() < giveUp) {
        ::pthread_kill(FThread.native_handle(), InterruptSignal);
        FState->Ended.wait_for(lock, InterruptRetry, [this] { return FState->Done; });
    }
    const bool done = FState->Done;
    lock.unlock();
    if (done)
        FThread.join();
    else
        FThread.detach(); // it ends on its own once the driver returns
}
