#include "transfer/TRawSender.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {
constexpr qint64 ChunkSize = 4096;
}

TRawSender::TRawSender(TByteChannel& channel, const QString& path)
    : TTransferSession(channel), FPath(path) {}

TTransferResult TRawSender::Transfer() {
    QFile file(FPath);
    if (!file.open(QIODevice::ReadOnly))
        return Finish(TTransferError::FileUnreadable,
                      QStringLiteral("Unable to read %1: %2").arg(FPath, file.errorString()));
    FProgress.File = QFileInfo(FPath).fileName();
    FProgress.Total = file.size();
    Report();
    const bool pausing = PauseMs > 0 && (PauseEvery > 0 || PauseAfterLine);
    while (!file.atEnd()) {
        if (CancelRequested())
            return Finish(TTransferError::Cancelled, QStringLiteral("Cancelled"));
        qint64 want = ChunkSize;
        if (pausing && PauseEvery > 0)
            want = qMin(want, PauseEvery - FProgress.Bytes % PauseEvery);
        QByteArray chunk = file.read(want);
        if (chunk.isEmpty() || file.error() != QFileDevice::NoError)
            return Finish(TTransferError::FileUnreadable,
                          QStringLiteral("Unable to read %1: %2").arg(FPath, file.errorString()));
        if (pausing && PauseAfterLine) {
            const qsizetype lineEnd = chunk.indexOf('\n');
            if (lineEnd >= 0 && lineEnd + 1 < chunk.size()) {
                file.seek(file.pos() - (chunk.size() - lineEnd - 1));
                chunk.truncate(lineEnd + 1);
            }
        }
        if (!Send(chunk))
            return LineFailure();
        FProgress.Bytes += chunk.size();
        FBytesDone += chunk.size();
        ++FProgress.Blocks;
        Report();
        const bool atCount = PauseEvery > 0 && FProgress.Bytes % PauseEvery == 0;
        const bool atLine = PauseAfterLine && chunk.endsWith('\n');
        if (pausing && (atCount || atLine) && !Pause())
            return Finish(TTransferError::Cancelled, QStringLiteral("Cancelled"));
    }
    return Finish(TTransferError::None, QStringLiteral("Sent"));
}

bool TRawSender::Pause() {
    QDeadlineTimer deadline(PauseMs);
    while (!deadline.hasExpired()) {
        if (CancelRequested())
            return false;
        QThread::msleep(quint64(qMin<qint64>(deadline.remainingTime(), 20)));
    }
    return true;
}
