#pragma once

#include "transfer/TTransferSession.h"

#include <QFile>
#include <QStringList>

// Receives with XMODEM-CRC (one file under a name the user gave) or YMODEM
// (a batch into a folder, under the names the sender gives, reduced to plain
// file names). A file is written under its name plus ".part" and takes its
// own name only once complete; an incomplete one stays under the ".part"
// name and the result says so. An existing file is replaced only when
// ConfirmReplace says yes. The size a YMODEM header announces bounds the
// file, and nothing beyond 4 GB is written.
class TXmodemReceiver : public TTransferSession {
public:
    // Ymodem: Target is the folder; else the file to write.
    TXmodemReceiver(TByteChannel& channel, bool ymodem, const QString& target);

    // Asked (on the transfer's thread) before an existing file is replaced;
    // true replaces it. Unset, the user is asked through Interaction().
    std::function<bool(const QString& path)> ConfirmReplace;
    // Files received whole, with their paths.
    QStringList ReceivedFiles() const { return FReceived; }

protected:
    TTransferResult Transfer() override;

private:
    struct TBlock {
        bool End = false; // EOT instead of a block
        quint8 Number = 0;
        QByteArray Data;
    };
    enum class TRead { Block, End, TimedOut, Bad, Over };
    TRead ReadBlock(TBlock& block, int timeoutMs);
    bool AwaitBlock(TBlock& block, char request, bool askFirst, int everyMs, int totalMs);
    TTransferResult ReceiveBatch();
    bool StartFile(const QString& path);
    bool ReceiveData(qint64 size, int firstWaitMs);
    bool FinishFile(qint64 size, const QDateTime& modified);
    bool Answer(char byte);

    bool FYmodem;
    QString FTarget;
    QString FPath;
    QFile FPart;
    qint64 FGarbage = 0;
    QStringList FReceived;
    TTransferResult FEnd;
};
