#include "transfer/TransferTypes.h"

QString TransferErrorName(TTransferError error) {
    switch (error) {
    case TTransferError::None:
        return QStringLiteral("done");
    case TTransferError::NoAnswer:
        return QStringLiteral("no answer");
    case TTransferError::Refused:
        return QStringLiteral("refused");
    case TTransferError::CancelledByPeer:
        return QStringLiteral("cancelled by the other side");
    case TTransferError::Cancelled:
        return QStringLiteral("cancelled");
    case TTransferError::LineLost:
        return QStringLiteral("line lost");
    case TTransferError::LineStalled:
        return QStringLiteral("line stalled");
    case TTransferError::FileUnreadable:
        return QStringLiteral("file unreadable");
    case TTransferError::FileTooLarge:
        return QStringLiteral("file too large");
    case TTransferError::FileExists:
        return QStringLiteral("file exists");
    case TTransferError::WriteFailed:
        return QStringLiteral("write failed");
    case TTransferError::BadName:
        return QStringLiteral("bad file name");
    case TTransferError::Garbage:
        return QStringLiteral("garbage on the line");
    case TTransferError::Incomplete:
        return QStringLiteral("incomplete");
    case TTransferError::ProgramMissing:
        return QStringLiteral("program missing");
    }
    return {};
}
