#pragma once

#include <QString>
#include <QtGlobal>

// How a transfer ended. None is success, and a transfer reports it only
// after the other side acknowledged the end.
enum class TTransferError {
    None,
    NoAnswer,        // the receiver never asked for the first block
    Refused,         // a block (or the end) refused or unanswered too often
    CancelledByPeer, // the other side sent the cancel sequence
    Cancelled,       // the user cancelled
    LineLost,        // the port closed, the adapter was pulled, the network dropped
    LineStalled,     // the line took no bytes for too long
    FileUnreadable,
    FileTooLarge,
    FileExists,     // the user kept an existing file
    WriteFailed,    // a received file could not be written
    BadName,        // the sender named no usable file
    Garbage,        // bytes that never formed a block
    Incomplete,     // the sender ended a file short of the size it announced
    ProgramMissing, // a program the protocol runs (lrzsz's sz, rz) is not installed
};

struct TTransferResult {
    TTransferError Error = TTransferError::None;
    QString Text;        // for the user: what happened, the reason included
    QString PartialFile; // a received file left incomplete under this name
    qint64 Bytes = 0;    // file bytes acknowledged (sent) or written (received)
    bool Ok() const { return Error == TTransferError::None; }
};

// Where a transfer stands, reported from its thread after every block.
struct TTransferProgress {
    QString File; // the file's name without its folder
    int FileIndex = 0;
    int FileCount = 1;
    qint64 Bytes = 0;  // of this file
    qint64 Total = -1; // size of this file; -1 while not known
    qint64 Blocks = 0;
    int Retries = 0; // blocks sent again or refused, over the whole transfer
};

// Every wait of a protocol and how often it tries again.
struct TTransferTimeouts {
    int FirstAnswerMs = 60000; // the receiver's first request
    int BlockAnswerMs = 10000; // an answer to a block, or the next block
    int RequestEveryMs = 3000; // a receiver repeats its first request this often
    int ByteGapMs = 1000;      // between two bytes of one block
    int Retries = 10;          // a block refused this many times ends the transfer
    int SettleMs = 500;        // a cancelled line is quiet this long before it is handed back
    int WriteStallMs = 10000;  // the line takes no byte for this long
};

// Files above this size are not sent, and receiving stops there.
constexpr qint64 MaxTransferFileSize = Q_INT64_C(0xFFFFFFFF);

QString TransferErrorName(TTransferError error);
