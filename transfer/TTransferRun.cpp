#include "transfer/TTransferRun.h"

#include "serial/TQxComPort.h"

#include <QThread>

TTransferRun::TTransferRun(TQxComPort& port,
                           std::function<std::unique_ptr<TTransferSession>(TByteChannel&)> make)
    : FPort(port), FChannel(port), FSession(make(FChannel)) {
    FSession->OnProgress = [this](const TTransferProgress& progress) {
        const std::lock_guard lock(FLock);
        FProgress = progress;
        if (!progress.File.isEmpty() && !FFileNames.contains(progress.File))
            FFileNames << progress.File;
    };
}

// Normally the thread has ended by now (OnFinished came), or never started;
// when the program ends in the middle, the transfer is cancelled and
// awaited (every wait of a session ends, a cancelled one within seconds).
TTransferRun::~TTransferRun() {
    if (FThread) {
        Cancel();
        FThread->wait();
        delete FThread;
        FPort.ReleaseLine();
        FPort.ClosePort();
    }
}

bool TTransferRun::Start() {
    // The port shows its own warning when it cannot be opened.
    if (!FPort.OpenPort(false)) {
        FPort.ClosePort();
        return false;
    }
    if (FPort.Disconnected()) {
        FPort.ClosePort();
        FError = QStringLiteral("The serial device is disconnected.");
        return false;
    }
    if (!FPort.ClaimLine(TLineUser::Transfer, [this] { Cancel(); })) {
        FPort.ClosePort();
        FError = QStringLiteral("The line is busy: a download or transfer is running.");
        return false;
    }
    FThread = QThread::create([this] { FResult = FSession->Run(); });
    QObject::connect(FThread, &QThread::finished, FThread, [this] { Finished(); });
    FThread->start();
    return true;
}

void TTransferRun::Cancel() {
    {
        const std::lock_guard lock(FLock);
        FCancelled = true;
    }
    FSession->RequestCancel();
}

bool TTransferRun::CancelRequested() const {
    const std::lock_guard lock(FLock);
    return FCancelled;
}

QStringList TTransferRun::FileNames() const {
    const std::lock_guard lock(FLock);
    return FFileNames;
}

TTransferProgress TTransferRun::Progress() const {
    const std::lock_guard lock(FLock);
    return FProgress;
}

void TTransferRun::Finished() {
    FThread->wait();
    FThread->deleteLater();
    FThread = nullptr;
    FPort.ReleaseLine();
    FPort.ClosePort();
    if (OnFinished)
        OnFinished(FResult);
}
