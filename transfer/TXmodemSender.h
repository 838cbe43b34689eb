#pragma once

#include "transfer/TTransferSession.h"

#include <QFile>
#include <QStringList>

enum class TXmodemKind { Xmodem, Xmodem1K, Ymodem };

// Sends files with XMODEM (one file, 128-byte blocks), XMODEM-1K (one file,
// 1 KB blocks) or YMODEM (a batch: a header block with name, size and time
// of change before each file, 1 KB blocks, the empty header at the end).
// The receiver chooses the check: 'C' asks for CRC-16, NAK for the 8-bit sum
// (with 128-byte blocks only). Success only once the receiver acknowledged
// the end of every file and, for YMODEM, the closing header.
class TXmodemSender : public TTransferSession {
public:
    TXmodemSender(TByteChannel& channel, TXmodemKind kind, const QStringList& files);

protected:
    TTransferResult Transfer() override;

private:
    // The result of a step that may end the transfer: false when it did,
    // with FEnd saying how.
    bool OpenFile(QFile& file, const QString& path);
    bool WaitForRequest(int timeoutMs);
    bool SendBlock(quint8 number, const QByteArray& data, int blockSize, bool header = false);
    bool SendFileData(QFile& file);
    bool SendEnd();
    enum class TAnswer { Acknowledged, Again, Ended };
    TAnswer AwaitAnswer(bool againOnCrcRequest);
    bool SendHeader(const QByteArray& data);
    int BlockSizeFor(qint64 remaining) const;

    TXmodemKind FKind;
    QStringList FFiles;
    bool FCrc = true;
    TTransferResult FEnd;
};
