#include "platform/TReadDeadline.h"

#include <optional>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return int(std::chrono::ceil<milliseconds>(left).count());
}

TReadDeadline::TReadDeadline(const TCommTimeouts& timeouts, qint64 count)
    : FInterval(timeouts.ReadIntervalTimeout),
      FReturnAtOnce(timeouts.ReadIntervalTimeout == TCommTimeouts::MaxTimeout &&
                    timeouts.ReadTotalTimeoutMultiplier == 0 &&
                    timeouts.ReadTotalTimeoutConstant == 0),
      FHasTotal(timeouts.ReadTotalTimeoutMultiplier != 0 || timeouts.ReadTotalTimeoutConstant != 0),
      FDeadline(Clock::now() + milliseconds(qint64(timeouts.ReadTotalTimeoutMultiplier) * count +
                                            timeouts.ReadTotalTimeoutConstant)),
      FLastBytes(Clock::now()) {}

int TReadDeadline::WaitMs(qint64 got) const {
    if (FReturnAtOnce)
        return 0;
    std::optional<Clock::time_point> until;
    if (FHasTotal)
        until = FDeadline;
    if (FInterval.count() != 0 && got > 0) {
        const Clock::time_point intervalEnd = FLastBytes + FInterval;
        until = until ? std::min(*until, intervalEnd) : intervalEnd;
    }
    return until ? MillisecondsUntil(*until) : -1;
}
