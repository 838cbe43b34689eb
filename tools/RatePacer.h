#pragma once

#include <chrono>
#include <cstddef>

// Limits a byte stream to a rate, as a serial line does. Bytes move in
// chunks of at most ChunkBytes: an idle line may pass one chunk at once,
// after that the credit grows with the time that passes. The time points
// are given by the caller, so the pacing can be checked without waiting.
class RatePacer {
public:
    using Clock = std::chrono::steady_clock;

    RatePacer(double bytesPerSecond, std::size_t chunkBytes, Clock::time_point start);

    // Bytes that may move at Now.
    std::size_t Available(Clock::time_point now);
    // Takes Count bytes (at most what Available returned) off the credit.
    void Consume(std::size_t count);
    // Time from Now until min(Wanted, ChunkBytes) bytes may move.
    Clock::duration WaitFor(std::size_t wanted, Clock::time_point now);

    std::size_t ChunkBytes() const { return FChunkBytes; }

private:
    void Refill(Clock::time_point now);

    double FBytesPerSecond;
    std::size_t FChunkBytes;
    double FCredit;
    Clock::time_point FLastRefill;
};
