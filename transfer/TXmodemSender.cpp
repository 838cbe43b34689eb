#include "transfer/TXmodemSender.h"

#include "transfer/XmodemFrames.h"

#include <QDeadlineTimer>
#include <QFileInfo>

using namespace Xmodem;

TXmodemSender::TXmodemSender(TByteChannel& channel, TXmodemKind kind, const QStringList& files)
    : TTransferSession(channel), FKind(kind), FFiles(files) {
    FProgress.FileCount = int(files.size());
}

TTransferResult TXmodemSender::Transfer() {
    if (FFiles.isEmpty() || (FKind != TXmodemKind::Ymodem && FFiles.size() > 1))
        return Finish(TTransferError::FileUnreadable,
                      QStringLiteral("XMODEM sends exactly one file; YMODEM one or more"));
    // Every file must open before the first byte goes out: a batch that
    // stops half way for a missing file helps nobody.
    for (const QString& path : std::as_const(FFiles)) {
        QFile probe;
        if (!OpenFile(probe, path))
            return FEnd;
    }
    for (int index = 0; index < FFiles.size(); ++index) {
        QFile file;
        if (!OpenFile(file, FFiles[index]))
            return FEnd;
        FProgress.FileIndex = index;
        FProgress.File = QFileInfo(file.fileName()).fileName();
        FProgress.Total = file.size();
        FProgress.Bytes = 0;
        Report();
        if (!WaitForRequest(index == 0 ? Timeouts.FirstAnswerMs : Timeouts.BlockAnswerMs))
            return FEnd;
        if (FKind == TXmodemKind::Ymodem) {
            const QByteArray header = BuildHeaderData(FProgress.File.toUtf8(), file.size(),
                                                      QFileInfo(file).lastModified());
            if (!SendHeader(header) || !WaitForRequest(Timeouts.BlockAnswerMs))
                return FEnd;
        }
        if (!SendFileData(file) || !SendEnd())
            return FEnd;
    }
    if (FKind == TXmodemKind::Ymodem &&
        (!WaitForRequest(Timeouts.BlockAnswerMs) || !SendHeader(QByteArray())))
        return FEnd;
    return Finish(TTransferError::None, QStringLiteral("Sent"));
}

bool TXmodemSender::OpenFile(QFile& file, const QString& path) {
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        FEnd = CancelLine(TTransferError::FileUnreadable,
                          QStringLiteral("Unable to read %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (file.size() > MaxTransferFileSize) {
        FEnd = CancelLine(TTransferError::FileTooLarge,
                          QStringLiteral("%1 is larger than 4 GB").arg(path));
        return false;
    }
    return true;
}

bool TXmodemSender::WaitForRequest(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int got = ReadByte(int(deadline.remainingTime()));
        if (got == quint8(CRC_REQUEST) || got == quint8(NAK)) {
            FCrc = got == quint8(CRC_REQUEST);
            return true;
        }
        if (got == quint8(CAN) && SecondCancel()) {
            FEnd = Finish(TTransferError::CancelledByPeer,
                          QStringLiteral("Cancelled by the receiver"));
            return false;
        }
        if (got < 0) {
            FEnd = EndOfWait(
                got, TTransferError::NoAnswer,
                QStringLiteral("No answer from the receiver within %1 s").arg(timeoutMs / 1000.0));
            return false;
        }
    }
}

bool TXmodemSender::SendBlock(quint8 number, const QByteArray& data, int blockSize, bool header) {
    const QByteArray block = BuildBlock(number, data, blockSize, FCrc, header ? char(0) : PAD);
    for (int attempt = 0; attempt < Timeouts.Retries; ++attempt) {
        if (attempt > 0) {
            ++FProgress.Retries;
            Report();
        }
        if (!Send(block)) {
            FEnd = LineFailure();
            return false;
        }
        // A receiver that missed a header asks for it again with 'C'.
        const TAnswer answer = AwaitAnswer(header);
        if (answer != TAnswer::Again)
            return answer == TAnswer::Acknowledged;
    }
    FEnd = CancelLine(TTransferError::Refused, QStringLiteral("Block %1 of %2 refused %3 times")
                                                   .arg(FProgress.Blocks + 1)
                                                   .arg(FProgress.File)
                                                   .arg(Timeouts.Retries));
    return false;
}

int TXmodemSender::BlockSizeFor(qint64 remaining) const {
    if (FKind == TXmodemKind::Xmodem || !FCrc)
        return 128;
    // The tail goes in short blocks once a long one would be mostly padding.
    return remaining > 896 ? 1024 : 128;
}

bool TXmodemSender::SendFileData(QFile& file) {
    quint8 number = 1;
    qint64 remaining = file.size();
    while (remaining > 0) {
        const int blockSize = BlockSizeFor(remaining);
        const QByteArray data = file.read(blockSize);
        if (data.isEmpty() || file.error() != QFileDevice::NoError) {
            FEnd = CancelLine(
                TTransferError::FileUnreadable,
                QStringLiteral("Unable to read %1: %2").arg(file.fileName(), file.errorString()));
            return false;
        }
        if (!SendBlock(number, data, blockSize))
            return false;
        ++number;
        remaining -= data.size();
        FProgress.Bytes += data.size();
        FBytesDone += data.size();
        ++FProgress.Blocks;
        Report();
    }
    return true;
}

// The receiver's answer to what was just sent: ACK, a request to send it
// again (NAK, silence, or 'C' where AgainOnCrcRequest), or the end of the
// transfer (cancelled by the receiver, line lost, cancelled here), which
// sets FEnd.
TXmodemSender::TAnswer TXmodemSender::AwaitAnswer(bool againOnCrcRequest) {
    QDeadlineTimer deadline(Timeouts.BlockAnswerMs);
    for (;;) {
        const int got = ReadByte(int(deadline.remainingTime()));
        if (got == quint8(ACK))
            return TAnswer::Acknowledged;
        if (got == quint8(NAK) || (againOnCrcRequest && got == quint8(CRC_REQUEST)) ||
            got == WaitTimedOut)
            return TAnswer::Again;
        if (got == quint8(CAN) && SecondCancel()) {
            FEnd = Finish(TTransferError::CancelledByPeer,
                          QStringLiteral("Cancelled by the receiver"));
            return TAnswer::Ended;
        }
        if (got == WaitLost || got == WaitCancelled) {
            FEnd = EndOfWait(got, TTransferError::None, {});
            return TAnswer::Ended;
        }
    }
}

bool TXmodemSender::SendEnd() {
    for (int attempt = 0; attempt < Timeouts.Retries; ++attempt) {
        if (!Send(QByteArray(1, EOT))) {
            FEnd = LineFailure();
            return false;
        }
        const TAnswer answer = AwaitAnswer(false);
        if (answer != TAnswer::Again)
            return answer == TAnswer::Acknowledged;
    }
    FEnd = CancelLine(TTransferError::Refused,
                      QStringLiteral("The end of %1 was not acknowledged").arg(FProgress.File));
    return false;
}

bool TXmodemSender::SendHeader(const QByteArray& data) {
    return SendBlock(0, data, data.size() > 128 ? 1024 : 128, true);
}
