#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// Plays the target on the master side of a pseudo-terminal, from its own
// thread: keeps every byte that arrives, cuts the stream into lines at CR LF,
// notes when each line arrived and answers it as Answer says.
class TDownloadTarget {
public:
    // Arrival counts the lines received so far, this one included (from 1).
    // The bytes returned are sent back at once.
    using TAnswer = std::function<QByteArray(int arrival, const QByteArray& line)>;

    explicit TDownloadTarget(int masterFd, TAnswer answer = {});
    ~TDownloadTarget();
    TDownloadTarget(const TDownloadTarget&) = delete;
    TDownloadTarget& operator=(const TDownloadTarget&) = delete;

    QByteArray Received() const;
    // The lines ended by CR LF so far, without it.
    QList<QByteArray> Lines() const;
    int LineCount() const;
    // When each line's CR LF arrived, in milliseconds of a monotonic clock.
    QList<double> LineTimes() const;

private:
    void Run();
    void TakeLines();

    const int FMaster;
    const TAnswer FAnswer;
    mutable std::mutex FLock;
    QByteArray FReceived;
    qsizetype FParsed = 0;
    QList<QByteArray> FLines;
    QList<double> FTimes;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};
