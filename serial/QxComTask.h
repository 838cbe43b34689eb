#pragma once

#include "platform/Thread.h"

#include <QtGlobal>

#include <chrono>

class TQxComPort;

// The port's monitor: waits for line events of the open device and has the
// main thread raise them (TQxComPort::DispatchCommEvent), waiting until the
// handler returned before it waits again. It never reads or writes data.
// Created paused; the port resumes it after each open and pauses it before
// each close and during WaitForSequence(). The port owns it and ends it with
// TerminateAndWait() before going, so no event follows the port's end.
// A slow stream of received bytes is handed over in batches (see the
// implementation): at most about once per screen frame.
class TQxComTask : public TThread {
public:
    explicit TQxComTask(TQxComPort& port);

protected:
    void Execute() override;

private:
    // Main thread: raises the caught events, unless the device was closed
    // since (they are dropped) or the monitor was paused meanwhile (they are
    // kept for after the resume, so a WaitForSequence() in progress does not
    // lose its bytes to OnReceive).
    void DeliverEvent();

    using Clock = std::chrono::steady_clock;

    TQxComPort& FPort;
    quint32 FEventMask = 0;
    quint64 FSession = 0;
    bool FHeld = false;
    // Bytes waiting when the last receive event was raised; -1 when the
    // last delivery raised none.
    int FReceivedCount = -1;
};
