#include "serial/QxComTask.h"

#include "serial/QxComPort.h"

namespace {

// A delivery that finds fewer bytes than this comes from a slow line; the
// next receive event then waits for the rest of ReceiveBatch, so that a
// stream trickling in small blocks is handed over about as often as the
// screen shows it rather than once per block. Nothing is lost meanwhile:
// the bytes stay in the device's queue, and a fast line is never held up.
constexpr int SlowReceiveBytes = 1024;
constexpr std::chrono::milliseconds ReceiveBatch{16};

} // namespace

TQxComTask::TQxComTask(TQxComPort& port) : FPort(port) {}

void TQxComTask::Execute() {
    Clock::time_point receiveNotBefore;
    while (ParkWhilePaused()) {
        if (FHeld)
            FHeld = false;
        else if (!FPort.FDevice.WaitEvent(FEventMask, &FSession, receiveNotBefore))
            continue;
        const Clock::time_point caught = Clock::now();
        FReceivedCount = -1;
        Synchronize([this] { DeliverEvent(); });
        if (FReceivedCount >= 0 && FReceivedCount < SlowReceiveBytes)
            receiveNotBefore = caught + ReceiveBatch;
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
