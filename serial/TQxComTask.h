#pragma once

#include "platform/TThread.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>

class TQxComPort;

// The port's monitor: reads the open device as bytes arrive into the port's
// receive queue and tells the main thread without waiting for it; waits for
// the other line events and has the main thread raise them, waiting until
// their handler returned. Created paused; the port resumes it after each
// open and pauses it before each close. The port owns it and ends it with
// TerminateAndWait() before going, so no event follows the port's end.
class TQxComTask : public TThread {
public:
    explicit TQxComTask(TQxComPort& port);

    // The longest time between two reads that found bytes; written by the
    // monitor, read and reset by anyone (see TQxComPort::LongestReadGap).
    std::atomic<qint64> LongestReadGapNs{0};
    std::atomic<bool> ReadGapReset{false};

protected:
    void Execute() override;

private:
    using Clock = std::chrono::steady_clock;

    // Moves the device's bytes into the queue; true when some came.
    bool ReadReceived();
    // After a small read on a slow stream: lets more bytes gather before
    // the next read (see the implementation).
    void GatherSlowStream(int bytes);
    void NoteReadGap(Clock::time_point now);

    TQxComPort& FPort;
    Clock::time_point FLastRead;
    Clock::time_point FLastBytes;
};
