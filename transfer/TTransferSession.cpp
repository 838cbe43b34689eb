#include "transfer/TTransferSession.h"

#include "transfer/XmodemFrames.h"

#include <QDeadlineTimer>

namespace {
// A wait is cut into slices this long so that a cancel is seen at once.
constexpr int CancelSliceMs = 100;
} // namespace

TTransferResult TTransferSession::Run() {
    TTransferResult result = Transfer();
    result.Bytes = FBytesDone;
    return result;
}

int TTransferSession::ReadByte(int timeoutMs) {
    QDeadlineTimer deadline(qMax(timeoutMs, 0));
    while (FPendingAt >= FPending.size()) {
        if (FCancelRequested)
            return WaitCancelled;
        const int left = int(deadline.remainingTime());
        if (left <= 0)
            return WaitTimedOut;
        FPending.resize(4096);
        qsizetype got = 0;
        const auto status =
            FChannel.Read(FPending.data(), FPending.size(), got, qMin(left, CancelSliceMs));
        FPending.resize(got);
        FPendingAt = 0;
        if (status == TByteChannel::TStatus::Lost)
            return WaitLost;
    }
    if (FCancelRequested)
        return WaitCancelled;
    return quint8(FPending[FPendingAt++]);
}

bool TTransferSession::ReadBytes(QByteArray& bytes, qsizetype count, int& last) {
    bytes.clear();
    bytes.reserve(count);
    while (bytes.size() < count) {
        // Take what is already buffered in one piece.
        const qsizetype buffered = qMin(count - bytes.size(), FPending.size() - FPendingAt);
        if (buffered > 0) {
            bytes.append(FPending.constData() + FPendingAt, buffered);
            FPendingAt += buffered;
            continue;
        }
        last = ReadByte(Timeouts.ByteGapMs);
        if (last < 0)
            return false;
        bytes.append(char(last));
    }
    return true;
}

qint64 TTransferSession::Purge(int quietMs, int limitMs) {
    qint64 dropped = FPending.size() - FPendingAt;
    FPending.clear();
    FPendingAt = 0;
    QDeadlineTimer limit(limitMs);
    char scratch[4096];
    for (;;) {
        const int left = int(limit.remainingTime());
        qsizetype got = 0;
        if (left <= 0 ||
            FChannel.Read(scratch, sizeof scratch, got, qMin(quietMs, left)) !=
                TByteChannel::TStatus::Ok ||
            got == 0)
            return dropped;
        dropped += got;
    }
}

bool TTransferSession::SecondCancel() {
    const int next = ReadByte(Timeouts.ByteGapMs);
    return next == quint8(Xmodem::CAN);
}

bool TTransferSession::Send(const QByteArray& bytes) {
    const auto status = FChannel.Write(bytes.constData(), bytes.size(), Timeouts.WriteStallMs);
    FWriteStalled = status == TByteChannel::TStatus::TimedOut;
    return status == TByteChannel::TStatus::Ok;
}

TTransferResult TTransferSession::Finish(TTransferError error, const QString& text) {
    TTransferResult result;
    result.Error = error;
    result.Text = text;
    return result;
}

TTransferResult TTransferSession::CancelLine(TTransferError error, const QString& text) {
    if (Send(Xmodem::CancelSequence()))
        Purge(Timeouts.SettleMs, 4 * Timeouts.SettleMs + 2000);
    return Finish(error, text);
}

TTransferResult TTransferSession::EndOfWait(int wait, TTransferError error, const QString& text) {
    switch (wait) {
    case WaitLost:
        return Finish(TTransferError::LineLost,
                      QStringLiteral("The line was lost: %1").arg(FChannel.LostReason()));
    case WaitCancelled:
        return CancelLine(TTransferError::Cancelled, QStringLiteral("Cancelled"));
    default:
        return CancelLine(error, text);
    }
}

TTransferResult TTransferSession::LineFailure() {
    if (FWriteStalled)
        return Finish(
            TTransferError::LineStalled,
            QStringLiteral("The line took no bytes for %1 s").arg(Timeouts.WriteStallMs / 1000));
    return Finish(TTransferError::LineLost,
                  QStringLiteral("The line was lost: %1").arg(FChannel.LostReason()));
}
