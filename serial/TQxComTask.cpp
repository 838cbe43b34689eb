#include "serial/TQxComTask.h"

#include "serial/TQxComPort.h"

#include <thread>

namespace {

// A slow stream is read in batches: after a read the monitor lets the
// bytes of a few screen frames gather in the kernel before it reads again,
// so that a line trickling in small blocks (a USB adapter hands them over
// every few milliseconds) wakes the program once per batch, not once per
// block. A line up to about 230400 baud gathers five frames (80 ms): each
// batch then ends in one paint of the pane, some 12 a second, and each
// paint costs the program far more than the bytes it shows. A line up to
// five times the fastest standard baud rate gathers two frames. A batch
// stays below about 2 KB, less than any driver buffers; a faster line is
// read as fast as it comes. Bytes the program waits for do not wait for a
// batch: a write ends the gathering (see TSerialDevice::Sleep).
struct TBatchTier {
    double BytesPerSecond;
    std::chrono::milliseconds Gather;
};
constexpr TBatchTier BatchTiers[] = {{25 * 1024, 5 * ReceiveFrame}, {64 * 1024, 2 * ReceiveFrame}};
// Bytes after a longer quiet time start something new (an echo, an
// answer): they are read at once, and the pace is judged afresh.
constexpr std::chrono::milliseconds QuietTime{100};

} // namespace

TQxComTask::TQxComTask(TQxComPort& port) : FPort(port) {}

void TQxComTask::Execute() {
    TSerialDevice& device = FPort.FDevice;
    quint64 lostSession = 0;
    while (ParkWhilePaused()) {
        quint32 events = 0;
        quint64 session = 0;
        if (!device.WaitEvent(events, &session)) {
            if (device.HungUp() && session != lostSession) {
                // Nothing more will come: a reader waiting for bytes stops,
                // and the port closes the device.
                lostSession = session;
                FPort.FReceived.End();
                FPort.NoteHangUp(session);
            }
            continue;
        }
        const bool received = (events & EV_RXCHAR) && ReadReceived();
        // Other events caught together with bytes (the transmit queue ran
        // empty) are dropped, as a mask with several events raises only its
        // first; the device reports line events apart from bytes, at the
        // next wait, so they are raised after the bytes that came before.
        const quint32 others = events & ~EV_RXCHAR;
        if (others != 0 && !received)
            Synchronize([this, others, session] { FPort.DeliverLineEvents(others, session); });
    }
}

bool TQxComTask::ReadReceived() {
    TSerialDevice& device = FPort.FDevice;
    TReceiveQueue& queue = FPort.FReceived;
    const int bytes = device.ReadAvailable(queue);
    if (bytes > 0) {
        FPort.NoteReceived();
        NoteReadGap(Clock::now());
    }
    if (queue.FreeSpan().Size == 0 && queue.NoteFull())
        device.HoldReceive(true);
    else if (bytes > 0)
        GatherSlowStream(bytes);
    return bytes > 0;
}

void TQxComTask::GatherSlowStream(int bytes) {
    const Clock::time_point now = Clock::now();
    const auto interval = now - FLastRead;
    FLastRead = now;
    if (interval > QuietTime)
        return;
    const double seconds = std::chrono::duration<double>(interval).count();
    for (const TBatchTier& tier : BatchTiers) {
        if (bytes < tier.BytesPerSecond * seconds) {
            FPort.FDevice.Sleep(tier.Gather);
            return;
        }
    }
}

void TQxComTask::NoteReadGap(Clock::time_point now) {
    if (ReadGapReset.exchange(false)) {
        LongestReadGapNs.store(0);
        FLastBytes = {};
    }
    if (FLastBytes != Clock::time_point{}) {
        const qint64 gap = std::chrono::nanoseconds(now - FLastBytes).count();
        if (gap > LongestReadGapNs.load(std::memory_order_relaxed))
            LongestReadGapNs.store(gap, std::memory_order_relaxed);
    }
    FLastBytes = now;
}
