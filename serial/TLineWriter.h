#pragma once

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QObject;
class QTimer;

// The bytes the main thread sent that the line has not taken yet.
//
// Send() hands the device what it takes at once (WriteSome, which never
// waits) and keeps the rest, in order, in a bounded queue; while bytes wait,
// a short single-shot timer offers them again. Nothing here ever blocks the
// main thread. A line that takes nothing for StallTime is reported once
// through OnStalled(true), and OnStalled(false) follows when it takes bytes
// again or the queue is dropped.
class TLineWriter {
public:
    static constexpr qsizetype Capacity = 1024 * 1024;
    static constexpr std::chrono::seconds StallTime{5};
    // How soon waiting bytes are offered again: at once at first, less
    // often once the line has taken nothing for a while.
    static constexpr std::chrono::milliseconds RetryInterval{5};
    static constexpr std::chrono::milliseconds IdleRetryInterval{50};

    // WriteSome writes without waiting: the bytes taken (0 when the line has
    // no room), or -1 when the line failed. The retry timer runs on the
    // thread of Context (the main thread).
    TLineWriter(std::function<int(const char* data, int count)> writeSome, QObject* context);
    ~TLineWriter();
    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    // Queues Bytes behind those waiting and writes what the line takes now.
    // False (nothing queued) when they do not fit into Capacity; true for
    // an empty Bytes.
    bool Send(const QByteArray& bytes);
    // Bytes queued, not yet taken by the line; any thread may ask.
    qsizetype Pending() const { return FPending.load(); }
    // Drops what waits (the line closed, or the user stopped a paste).
    void Clear();

    // Main thread: the line took nothing for StallTime (true), or moves
    // again (false).
    std::function<void(bool stalled)> OnStalled;
    // Main thread: the line failed while bytes waited; they were dropped.
    std::function<void()> OnFailed;

private:
    void Drain();
    void ScheduleRetry();
    void SetStalled(bool stalled);

    std::function<int(const char*, int)> FWriteSome;
    std::unique_ptr<QTimer> FRetry;
    QByteArray FQueue;
    // Where the bytes not yet taken begin in FQueue.
    qsizetype FHead = 0;
    std::atomic<qsizetype> FPending{0};
    std::chrono::steady_clock::time_point FLastProgress;
    bool FStalled = false;
};
