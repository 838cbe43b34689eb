#pragma once

#include "transfer/TByteChannel.h"
#include "transfer/TransferTypes.h"

#include <QByteArray>
#include <atomic>
#include <functional>

// What every transfer protocol stands on: the line with deadlines, the
// user's cancel, progress reports and one way to end. A protocol is a state
// machine in Transfer(); each of its waits goes through ReadByte and ends by
// a byte, a time-out, the line's loss or the user's cancel, and each way out
// ends in Finish or CancelLine. Run() blocks, so it belongs to a thread of
// its own (a plain std::thread or QThread does).
class TTransferSession {
public:
    explicit TTransferSession(TByteChannel& channel) : FChannel(channel) {}
    virtual ~TTransferSession() = default;
    TTransferSession(const TTransferSession&) = delete;
    TTransferSession& operator=(const TTransferSession&) = delete;

    // Runs the transfer to its end.
    TTransferResult Run();
    // Asks the running transfer to cancel: it sends the cancel sequence,
    // waits for the line to settle and ends with Cancelled. Any thread.
    void RequestCancel() { FCancelRequested = true; }
    bool CancelRequested() const { return FCancelRequested; }

    TTransferTimeouts Timeouts;
    // Called from the transfer's thread after every block.
    std::function<void(const TTransferProgress&)> OnProgress;

protected:
    virtual TTransferResult Transfer() = 0;

    // What a wait may end with besides a byte (0..255).
    enum : int { WaitTimedOut = -1, WaitLost = -2, WaitCancelled = -3 };
    int ReadByte(int timeoutMs);
    // Reads Count bytes, each within the byte gap; false when one did not
    // come (Last then holds the WaitXxx code).
    bool ReadBytes(QByteArray& bytes, qsizetype count, int& last);
    // Drops what arrives until the line has been quiet for QuietMs (or
    // LimitMs passed: a line that never goes quiet is not waited for); the
    // number of bytes dropped.
    qint64 Purge(int quietMs, int limitMs);
    // After one CAN: true when a second follows at once (the other side
    // cancels; a lone CAN is noise).
    bool SecondCancel();

    // Writes Bytes; false when the line is gone or stalled (End() then says so).
    bool Send(const QByteArray& bytes);

    // The ways out. CancelLine sends the cancel sequence first and lets the
    // line settle, so the other side stops and its remains do not reach the
    // terminal.
    TTransferResult Finish(TTransferError error, const QString& text);
    TTransferResult CancelLine(TTransferError error, const QString& text);
    // The ending of a wait that did not bring a byte (WaitXxx); TimedOut
    // ends with Error and Text.
    TTransferResult EndOfWait(int wait, TTransferError error, const QString& text);
    // The end after a failed Send.
    TTransferResult LineFailure();

    void Report() {
        if (OnProgress)
            OnProgress(FProgress);
    }

    TByteChannel& FChannel;
    TTransferProgress FProgress;
    qint64 FBytesDone = 0; // over all files, for the result

private:
    std::atomic<bool> FCancelRequested{false};
    QByteArray FPending;
    qsizetype FPendingAt = 0;
    bool FWriteStalled = false;
};
