#pragma once

#include "platform/TSerialDevice.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

// The bytes a serial device has delivered and nobody has taken yet: a
// bounded ring with one producer (the thread that reads the device) and one
// consumer (the main thread).
//
// Principles of operation:
// - The producer writes into the free part of the ring (FreeSpan) and then
//   publishes the bytes (Commit); the consumer reads the published part and
//   frees it (Take). Neither side locks; the two indexes are the only
//   shared state on the fast path.
// - A full ring is never overwritten: the producer stops (it calls
//   NoteFull, which counts the stall) and waits until Take frees room; Take
//   then calls the room callback once, so the producer can be woken.
// - A consumer that waits for bytes (Read with time-outs) sleeps on a wake-up
//   descriptor that Commit and End signal only while someone waits.
// - End marks that no more bytes will come (device closed or hung up): a
//   waiting read returns at once with what is there.
class TReceiveQueue {
public:
    // Capacity in bytes (a power of two is not needed).
    explicit TReceiveQueue(std::size_t capacity);
    ~TReceiveQueue();
    TReceiveQueue(const TReceiveQueue&) = delete;
    TReceiveQueue& operator=(const TReceiveQueue&) = delete;

    std::size_t Capacity() const { return FCapacity; }

    // Producer: the contiguous free space at the write position (may be
    // shorter than all free room when it wraps); Size 0 when full.
    struct TSpan {
        char* Data;
        std::size_t Size;
    };
    TSpan FreeSpan();
    // Producer: publishes Count bytes written into FreeSpan().
    void Commit(std::size_t count);
    // Producer, when FreeSpan() came back empty: counts the stall and arms
    // the room callback. False when room appeared meanwhile (go on reading).
    bool NoteFull();
    // Called (on the consumer's thread) when Take frees room after a stall.
    std::function<void()> OnRoom;
    // How often the producer found the ring full.
    quint64 FullCount() const { return FFullCount.load(); }

    // Consumer: bytes published and not taken.
    std::size_t Count() const;
    // Consumer: bytes taken since the queue was made.
    quint64 Taken() const { return FTaken; }
    // Consumer: takes up to Count bytes; the number taken.
    std::size_t Take(char* buffer, std::size_t count);
    // Consumer: takes up to Count bytes within the read time-outs (as
    // TSerialDevice::Read does on the device itself): returns when all came,
    // when the interval between two bytes or the total time ran out, or at
    // once when the producer has ended.
    std::size_t Read(char* buffer, std::size_t count, const TCommTimeouts& timeouts);
    // Consumer: forgets every published byte (after the device was closed,
    // so no producer writes any more).
    void Clear();

    // No more bytes until Restart(); wakes a waiting reader.
    void End();
    void Restart();
    bool Ended() const { return FEnded.load(); }

private:
    std::size_t Used(std::size_t read, std::size_t write) const;
    void WakeReader();
    void WaitForBytes(int timeoutMs);

    std::unique_ptr<char[]> FData;
    const std::size_t FCapacity;
    // Positions count modulo 2 * capacity, so full and empty differ.
    alignas(64) std::atomic<std::size_t> FRead{0};
    alignas(64) std::atomic<std::size_t> FWrite{0};
    alignas(64) std::atomic<bool> FReaderWaits{false};
    std::atomic<bool> FStalled{false};
    std::atomic<bool> FEnded{false};
    std::atomic<quint64> FFullCount{0};
    quint64 FTaken = 0;
    int FWakeFd = -1;
};
