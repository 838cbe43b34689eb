#include "serial/QxComTask.h"

#include "serial/QxComPort.h"

namespace {

// A line slower than this (five times the fastest baud rate offered) is
// handed over in batches: after a receive event its next one waits for the
// rest of ReceiveBatch, so that a stream trickling in small blocks reaches
// the main thread about as often as the screen shows it rather than once
// per block. Nothing is lost meanwhile, the bytes stay in the device's
// queue; a faster line (a flood into a pseudo-terminal) is never held up.
constexpr double SlowLineBytesPerSecond = 64 * 1024;
constexpr std::chrono::milliseconds ReceiveBatch{16};
// Bytes arriving after a longer quiet time start something new (an echo, an
// answer, the start of a flood) whose pace is not known yet: they are not
// taken for a slow line, so the next bytes follow them at once.
constexpr std::chrono::milliseconds QuietTime{100};

// Whether Count bytes gathered over Interval since the last receive event
// make a slow line.
bool IsSlowLine(int count, std::chrono::steady_clock::duration interval) {
    if (interval > QuietTime)
        return false;
    const double seconds = std::chrono::duration<double>(interval).count();
    return count < SlowLineBytesPerSecond * seconds;
}

} // namespace

TQxComTask::TQxComTask(TQxComPort& port) : FPort(port) {}

void TQxComTask::Execute() {
    Clock::time_point receiveNotBefore;
    Clock::time_point lastReceive;
    while (ParkWhilePaused()) {
        if (FHeld)
            FHeld = false;
        else if (!FPort.FDevice.WaitEvent(FEventMask, &FSession, receiveNotBefore))
            continue;
        const Clock::time_point caught = Clock::now();
        FReceivedCount = -1;
        // A cancelled hand-over may still be running on the main thread: its
        // count is not ours to read then.
        if (!Synchronize([this] { DeliverEvent(); }) || FReceivedCount < 0)
            continue;
        if (IsSlowLine(FReceivedCount, caught - lastReceive))
            receiveNotBefore = caught + ReceiveBatch;
        lastReceive = caught;
    }
}

void TQxComTask::DeliverEvent() {
    if (FSession != FPort.FDevice.Session())
        return;
    if (Paused()) {
        FHeld = true;
        return;
    }
    if (FEventMask & EV_RXCHAR)
        FReceivedCount = FPort.FDevice.InputQueueCount();
    FPort.DispatchCommEvent(FEventMask);
}
