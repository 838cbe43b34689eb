#pragma once

#include "transfer/TPortChannel.h"
#include "transfer/TTransferSession.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class QThread;
class TQxComPort;

// One transfer on the serial port: takes an open request and the line
// (TLineUser::Transfer, so that keys, macros, answers and downloads wait and
// the pane sees no protocol bytes), runs the session on a thread of its own
// and gives both back when it ended. A quit cancels it through the port
// (CancelLineOwner) as it cancels a download.
//
// Use on the main thread: create, set OnFinished, Start(); the run reports
// its end through OnFinished on the main thread. It must outlive the
// thread: delete it only after OnFinished (or when Start failed).
class TTransferRun {
public:
    TTransferRun(TQxComPort& port,
                 std::function<std::unique_ptr<TTransferSession>(TByteChannel&)> make);
    ~TTransferRun();
    TTransferRun(const TTransferRun&) = delete;
    TTransferRun& operator=(const TTransferRun&) = delete;

    // False when the port cannot be opened (it showed why) or is
    // disconnected, or another owner holds the line (Error() says which).
    bool Start();
    QString Error() const { return FError; }
    bool Running() const { return FThread != nullptr; }
    // Any time: the session sends the cancel sequence and ends.
    void Cancel();
    bool CancelRequested() const;

    // The latest progress, any thread.
    TTransferProgress Progress() const;
    // The files the transfer went to, in order, without their folders.
    QStringList FileNames() const;
    // Main thread, once, after the thread ended and the line was given back.
    std::function<void(const TTransferResult&)> OnFinished;
    // The session while it exists (to set its time-outs before Start).
    TTransferSession& Session() { return *FSession; }

private:
    void Finished();

    TQxComPort& FPort;
    TPortChannel FChannel;
    std::unique_ptr<TTransferSession> FSession;
    QThread* FThread = nullptr;
    TTransferResult FResult;
    QString FError;
    mutable std::mutex FLock;
    TTransferProgress FProgress;
    QStringList FFileNames;
    bool FCancelled = false;
};
