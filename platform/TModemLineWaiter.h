#pragma once

#include <atomic>
#include <memory>
#include <thread>

// What a modem-line waiter tells the device that owns it. Shared, so that a
// waiter its device gave up on (see ~TModemLineWaiter) never touches freed
// memory.
struct TModemLineSignal {
    explicit TModemLineSignal(int wakeFd);
    ~TModemLineSignal();
    TModemLineSignal(const TModemLineSignal&) = delete;
    TModemLineSignal& operator=(const TModemLineSignal&) = delete;

    // Sets Changed and wakes the device's event wait.
    void Raise();

    // The lines may have changed since the device last looked.
    std::atomic<bool> Changed{false};
    // The driver cannot wait for line changes (no TIOCMIWAIT).
    std::atomic<bool> Unsupported{false};

private:
    // A copy of the device's wake-up descriptor.
    int FWakeFd = -1;
};

// Waits in a thread of its own for the modem input lines (CTS, DSR, DCD, RI)
// of an open device to change, which poll() does not report, so that a
// quiet line wakes nobody. Each change, and once at the start (the lines
// may have moved before anyone waited), raises the signal. A driver that
// cannot wait marks the signal Unsupported; a failed wait (the line hung
// up) raises it once more; the thread ends in both cases.
class TModemLineWaiter {
public:
    TModemLineWaiter(int fd, std::shared_ptr<TModemLineSignal> signal);
    // Interrupts the wait and joins the thread; a driver whose wait ignores
    // the interruption is left to it after a while, so a close never hangs.
    ~TModemLineWaiter();
    TModemLineWaiter(const TModemLineWaiter&) = delete;
    TModemLineWaiter& operator=(const TModemLineWaiter&) = delete;

    struct TState;

private:
    std::shared_ptr<TState> FState;
    std::thread FThread;
};
