#include "platform/TReceiveQueue.h"

#include "platform/TReadDeadline.h"

#include <algorithm>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TReceiveQueue::TReceiveQueue(std::size_t capacity)
    : FData(new char[capacity]), FCapacity(capacity),
      FWakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TReceiveQueue::~TReceiveQueue() {
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

std::size_t TReceiveQueue::Used(std::size_t read, std::size_t write) const {
    return write >= read ? write - read : write + 2 * FCapacity - read;
}

TReceiveQueue::TSpan TReceiveQueue::FreeSpan() {
    const std::size_t write = FWrite.load(std::memory_order_relaxed);
    const std::size_t read = FRead.load(std::memory_order_acquire);
    const std::size_t free = FCapacity - Used(read, write);
    const std::size_t at = write % FCapacity;
    return {FData.get() + at, std::min(free, FCapacity - at)};
}

void TReceiveQueue::Commit(std::size_t count) {
    if (count == 0)
        return;
    const std::size_t write = FWrite.load(std::memory_order_relaxed);
    // Sequentially consistent with the reader's flag (see WaitForBytes).
    FWrite.store((write + count) % (2 * FCapacity));
    if (FReaderWaits.load())
        WakeReader();
}

bool TReceiveQueue::NoteFull() {
    FFullCount.fetch_add(1, std::memory_order_relaxed);
    FStalled.store(true);
    // Take() may have freed room between FreeSpan() and the flag.
    if (FreeSpan().Size == 0)
        return true;
    FStalled.store(false);
    return false;
}

std::size_t TReceiveQueue::Count() const {
    return Used(FRead.load(std::memory_order_relaxed), FWrite.load(std::memory_order_acquire));
}

std::size_t TReceiveQueue::Take(char* buffer, std::size_t count) {
    const std::size_t read = FRead.load(std::memory_order_relaxed);
    const std::size_t available = Used(read, FWrite.load(std::memory_order_acquire));
    const std::size_t taken = std::min(count, available);
    const std::size_t at = read % FCapacity;
    const std::size_t first = std::min(taken, FCapacity - at);
    std::memcpy(buffer, FData.get() + at, first);
    std::memcpy(buffer + first, FData.get(), taken - first);
    if (taken == 0)
        return 0;
    FRead.store((read + taken) % (2 * FCapacity));
    FTaken += taken;
    if (FStalled.load() && FStalled.exchange(false) && OnRoom)
        OnRoom();
    return taken;
}

std::size_t TReceiveQueue::Read(char* buffer, std::size_t count, const TCommTimeouts& timeouts) {
    std::size_t got = Take(buffer, count);
    TReadDeadline deadline(timeouts, qint64(count));
    if (got == count || deadline.ReturnAtOnce())
        return got;
    while (got < count && !FEnded.load()) {
        const int waitMs = deadline.WaitMs(qint64(got));
        if (waitMs == 0)
            break;
        WaitForBytes(waitMs);
        const std::size_t more = Take(buffer + got, count - got);
        if (more > 0) {
            got += more;
            deadline.NoteBytes();
        }
    }
    // Bytes that came with the end are still the caller's.
    return got + Take(buffer + got, count - got);
}

void TReceiveQueue::WaitForBytes(int timeoutMs) {
    FReaderWaits.store(true);
    // Commit() stores the write index before it looks at the flag, and we
    // store the flag before we look at the index: one of us sees the other.
    if (Count() == 0 && !FEnded.load()) {
        pollfd wake{FWakeFd, POLLIN, 0};
        ::poll(&wake, 1, timeoutMs);
    }
    FReaderWaits.store(false);
    quint64 drained = 0;
    [[maybe_unused]] const ssize_t got = ::read(FWakeFd, &drained, sizeof drained);
}

void TReceiveQueue::WakeReader() {
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FWakeFd, &one, sizeof one);
}

void TReceiveQueue::Clear() {
    FRead.store(FWrite.load());
    if (FStalled.exchange(false) && OnRoom)
        OnRoom();
}

void TReceiveQueue::End() {
    FEnded.store(true);
    WakeReader();
}

void TReceiveQueue::Restart() {
    FEnded.store(false);
}
