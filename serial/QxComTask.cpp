#include "serial/QxComTask.h"

#include "serial/QxComPort.h"

TQxComTask::TQxComTask(TQxComPort& port) : FPort(port) {}

void TQxComTask::Execute() {
    while (ParkWhilePaused()) {
        if (FHeld)
            FHeld = false;
        else if (!FPort.FDevice.WaitEvent(FEventMask, &FSession))
            continue;
        Synchronize([this] { DeliverEvent(); });
    }
}

void TQxComTask::DeliverEvent() {
    if (FSession != FPort.FDevice.Session())
        return;
    if (Paused()) {
        FHeld = true;
        return;
    }
    FPort.DispatchCommEvent(FEventMask);
}
