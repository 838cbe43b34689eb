#include "tools/RatePacer.h"

#include <algorithm>
#include <cmath>

RatePacer::RatePacer(double bytesPerSecond, std::size_t chunkBytes, Clock::time_point start)
    : FBytesPerSecond(bytesPerSecond), FChunkBytes(std::max<std::size_t>(chunkBytes, 1)),
      FCredit(static_cast<double>(FChunkBytes)), FLastRefill(start) {}

void RatePacer::Refill(Clock::time_point now) {
    if (now <= FLastRefill)
        return;
    const double seconds = std::chrono::duration<double>(now - FLastRefill).count();
    FCredit = std::min(FCredit + seconds * FBytesPerSecond, static_cast<double>(FChunkBytes));
    FLastRefill = now;
}

std::size_t RatePacer::Available(Clock::time_point now) {
    Refill(now);
    return FCredit < 1.0 ? 0 : static_cast<std::size_t>(std::floor(FCredit));
}

void RatePacer::Consume(std::size_t count) {
    FCredit -= static_cast<double>(count);
}

RatePacer::Clock::duration RatePacer::WaitFor(std::size_t wanted, Clock::time_point now) {
    Refill(now);
    const double needed = static_cast<double>(std::clamp<std::size_t>(wanted, 1, FChunkBytes));
    if (FCredit >= needed)
        return Clock::duration::zero();
    const double seconds = (needed - FCredit) / FBytesPerSecond;
    return std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(seconds));
}
