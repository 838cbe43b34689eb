#pragma once

#include "platform/TransportEvents.h"

#include <chrono>

// Milliseconds until Deadline, rounded up, for poll(); 0 once it passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);

// The read time-outs of TCommTimeouts as a clock for one read of Count
// bytes: how long the receive queue's reader may still wait for more.
class TReadDeadline {
public:
    TReadDeadline(const TCommTimeouts& timeouts, qint64 count);
    // The read returns at once with what is there (an interval of
    // MaxTimeout with both totals 0).
    bool ReturnAtOnce() const { return FReturnAtOnce; }
    // Bytes arrived now: the interval limit runs from here.
    void NoteBytes() { FLastBytes = std::chrono::steady_clock::now(); }
    // How long to wait for more after Got bytes: -1 for no limit, 0 when the
    // read must return now.
    int WaitMs(qint64 got) const;

private:
    std::chrono::milliseconds FInterval;
    bool FReturnAtOnce;
    bool FHasTotal;
    std::chrono::steady_clock::time_point FDeadline;
    std::chrono::steady_clock::time_point FLastBytes;
};
