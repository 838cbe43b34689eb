#include "transfer/TXmodemReceiver.h"

#include "platform/TInteraction.h"
#include "transfer/XmodemFrames.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

using namespace Xmodem;

namespace {
// Bytes that formed no good block, since the last good one, before the
// line counts as flooded with garbage.
constexpr qint64 GarbageLimit = 16384;
} // namespace

TXmodemReceiver::TXmodemReceiver(TByteChannel& channel, bool ymodem, const QString& target)
    : TTransferSession(channel), FYmodem(ymodem), FTarget(target) {}

TTransferResult TXmodemReceiver::Transfer() {
    TTransferResult result;
    if (FYmodem) {
        result = ReceiveBatch();
    } else if (!StartFile(FTarget)) {
        result = FEnd;
    } else if (!ReceiveData(-1, Timeouts.FirstAnswerMs) || !FinishFile(-1, {})) {
        result = FEnd;
    } else {
        result = Finish(TTransferError::None, QStringLiteral("Received"));
    }
    if (FPart.isOpen()) {
        FPart.close();
        result.PartialFile = FPart.fileName();
        result.Text += QStringLiteral("; the partial file is kept as %1").arg(FPart.fileName());
    }
    return result;
}

TTransferResult TXmodemReceiver::ReceiveBatch() {
    for (bool first = true;; first = false) {
        TBlock block;
        const int waitMs =
            first ? Timeouts.FirstAnswerMs : Timeouts.BlockAnswerMs * Timeouts.Retries;
        if (!AwaitBlock(block, CRC_REQUEST, true, Timeouts.RequestEveryMs, waitMs))
            return FEnd;
        if (block.End) { // the sender missed our answer to its last EOT
            if (!Answer(ACK))
                return FEnd;
            continue;
        }
        if (block.Number != 0)
            return CancelLine(
                TTransferError::Refused,
                QStringLiteral("Block %1 came where a file header belongs").arg(block.Number));
        const THeader header = ParseHeaderData(block.Data);
        if (header.EndOfBatch()) {
            if (!Answer(ACK))
                return FEnd;
            return Finish(TTransferError::None, QStringLiteral("Received"));
        }
        const QString name = SafeFileName(header.RawName);
        if (name.isEmpty())
            return CancelLine(TTransferError::BadName,
                              QStringLiteral("The sender named no usable file"));
        FProgress.File = name;
        FProgress.FileIndex = int(FReceived.size());
        FProgress.FileCount = FProgress.FileIndex + 1;
        FProgress.Total = header.Size;
        FProgress.Bytes = 0;
        if (header.Size > MaxTransferFileSize)
            return CancelLine(
                TTransferError::FileTooLarge,
                QStringLiteral("%1 announces %2 bytes, more than 4 GB").arg(name).arg(header.Size));
        if (!StartFile(QDir(FTarget).filePath(name)) || !Answer(ACK) ||
            !ReceiveData(header.Size, Timeouts.BlockAnswerMs * Timeouts.Retries) ||
            !FinishFile(header.Size, header.Modified))
            return FEnd;
    }
}

bool TXmodemReceiver::StartFile(const QString& path) {
    FPath = path;
    if (FProgress.File.isEmpty())
        FProgress.File = QFileInfo(path).fileName();
    if (QFileInfo::exists(path)) {
        const bool replace = ConfirmReplace
                                 ? ConfirmReplace(path)
                                 : Interaction().Question(
                                       nullptr, QStringLiteral("%1 exists. Replace it?").arg(path));
        if (!replace) {
            FEnd = CancelLine(TTransferError::FileExists,
                              QStringLiteral("%1 exists and was kept").arg(path));
            return false;
        }
    }
    FPart.setFileName(path + QStringLiteral(".part"));
    if (!FPart.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        FEnd = CancelLine(
            TTransferError::WriteFailed,
            QStringLiteral("Unable to write %1: %2").arg(FPart.fileName(), FPart.errorString()));
        return false;
    }
    Report();
    return true;
}

bool TXmodemReceiver::ReceiveData(qint64 size, int firstWaitMs) {
    quint8 expected = 1;
    bool started = false;
    for (;;) {
        TBlock block;
        const bool ok =
            started ? AwaitBlock(block, NAK, false, Timeouts.BlockAnswerMs,
                                 Timeouts.BlockAnswerMs * Timeouts.Retries)
                    : AwaitBlock(block, CRC_REQUEST, true, Timeouts.RequestEveryMs, firstWaitMs);
        if (!ok)
            return false;
        if (block.End)
            return Answer(ACK);
        if (block.Number == quint8(expected - 1)) {
            // A block again: our answer was lost. A repeated header still
            // waits for the 'C' that starts the data.
            if (!Answer(ACK) || (!started && !Answer(CRC_REQUEST)))
                return false;
            continue;
        }
        if (block.Number != expected) {
            FEnd = CancelLine(TTransferError::Refused,
                              QStringLiteral("Block %1 came where block %2 belongs")
                                  .arg(block.Number)
                                  .arg(expected));
            return false;
        }
        started = true;
        qint64 take = block.Data.size();
        if (size >= 0)
            take = qBound<qint64>(0, size - FProgress.Bytes, take);
        if (FProgress.Bytes + take > MaxTransferFileSize) {
            FEnd = CancelLine(TTransferError::FileTooLarge,
                              QStringLiteral("%1 grew beyond 4 GB").arg(FProgress.File));
            return false;
        }
        if (FPart.write(block.Data.constData(), take) != take) {
            FEnd = CancelLine(TTransferError::WriteFailed,
                              QStringLiteral("Unable to write %1: %2")
                                  .arg(FPart.fileName(), FPart.errorString()));
            return false;
        }
        FProgress.Bytes += take;
        FBytesDone += take;
        ++FProgress.Blocks;
        ++expected;
        Report();
        if (!Answer(ACK))
            return false;
    }
}

bool TXmodemReceiver::FinishFile(qint64 size, const QDateTime& modified) {
    if (size >= 0 && FProgress.Bytes < size) {
        FEnd = Finish(TTransferError::Incomplete, QStringLiteral("%1 ended after %2 of %3 bytes")
                                                      .arg(FProgress.File)
                                                      .arg(FProgress.Bytes)
                                                      .arg(size));
        return false;
    }
    if (modified.isValid())
        FPart.setFileTime(modified, QFileDevice::FileModificationTime);
    if (!FPart.flush()) {
        FEnd = Finish(
            TTransferError::WriteFailed,
            QStringLiteral("Unable to write %1: %2").arg(FPart.fileName(), FPart.errorString()));
        return false;
    }
    FPart.close();
    QFile::remove(FPath);
    if (!FPart.rename(FPath)) {
        FEnd = Finish(TTransferError::WriteFailed,
                      QStringLiteral("Unable to rename %1 to %2: %3")
                          .arg(FPart.fileName(), FPath, FPart.errorString()));
        FEnd.PartialFile = FPart.fileName();
        return false;
    }
    FReceived.append(FPath);
    return true;
}

bool TXmodemReceiver::Answer(char byte) {
    if (Send(QByteArray(1, byte)))
        return true;
    FEnd = LineFailure();
    return false;
}

TXmodemReceiver::TRead TXmodemReceiver::ReadBlock(TBlock& block, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int got = ReadByte(int(deadline.remainingTime()));
        if (got == quint8(SOH) || got == quint8(STX)) {
            const int blockSize = got == quint8(STX) ? 1024 : 128;
            QByteArray frame;
            int last = 0;
            if (!ReadBytes(frame, 2 + blockSize + 2, last)) {
                FGarbage += frame.size();
                if (last == WaitTimedOut)
                    return TRead::Bad;
                FEnd = EndOfWait(last, TTransferError::None, {});
                return TRead::Over;
            }
            const auto data = CheckBlock(frame, blockSize, true, block.Number);
            if (!data) {
                FGarbage += frame.size();
                return TRead::Bad;
            }
            block.Data = *data;
            FGarbage = 0;
            return TRead::Block;
        }
        if (got == quint8(EOT)) {
            block.End = true;
            return TRead::End;
        }
        if (got == quint8(CAN) && SecondCancel()) {
            FEnd =
                Finish(TTransferError::CancelledByPeer, QStringLiteral("Cancelled by the sender"));
            return TRead::Over;
        }
        if (got == WaitTimedOut)
            return TRead::TimedOut;
        if (got < 0) {
            FEnd = EndOfWait(got, TTransferError::None, {});
            return TRead::Over;
        }
        if (++FGarbage > GarbageLimit)
            return TRead::Bad;
    }
}

bool TXmodemReceiver::AwaitBlock(TBlock& block, char request, bool askFirst, int everyMs,
                                 int totalMs) {
    if (askFirst && !Answer(request))
        return false;
    QDeadlineTimer total(totalMs);
    int badBlocks = 0;
    for (;;) {
        const int sliceMs = int(qMin<qint64>(everyMs, total.remainingTime()));
        switch (ReadBlock(block, sliceMs)) {
        case TRead::Block:
        case TRead::End:
            return true;
        case TRead::Over:
            return false;
        case TRead::TimedOut:
            break;
        case TRead::Bad:
            ++badBlocks;
            ++FProgress.Retries;
            Report();
            FGarbage += Purge(300, 3000);
            if (FGarbage > GarbageLimit) {
                FEnd = CancelLine(TTransferError::Garbage,
                                  QStringLiteral("The line carries bytes that form no block"));
                return false;
            }
            if (badBlocks >= Timeouts.Retries) {
                FEnd = CancelLine(TTransferError::Refused,
                                  QStringLiteral("%1 bad blocks in a row").arg(badBlocks));
                return false;
            }
            break;
        }
        if (total.hasExpired()) {
            FEnd = CancelLine(
                TTransferError::NoAnswer,
                QStringLiteral("No block from the sender within %1 s").arg(totalMs / 1000.0));
            return false;
        }
        if (!Answer(request))
            return false;
    }
}
