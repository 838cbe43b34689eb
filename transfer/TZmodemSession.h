#pragma once

#include "transfer/TTransferSession.h"

#include <QSet>
#include <QStringList>

#include <sys/types.h>

// ZMODEM through lrzsz: sz (sending Files) or rz (receiving into Folder)
// runs as a child whose standard input and output are joined to the
// channel by a relay on the transfer's thread, so that a local and a network
// port serve alike. The child's progress lines (on its standard error) feed
// the progress report. A cancel, or the line's loss, ends the child; the
// cancel then sends the cancel sequence. rz renames an incoming file whose
// name is taken and keeps to plain names in the folder; a file it left
// incomplete is renamed to its name plus ".part".
class TZmodemSession : public TTransferSession {
public:
    TZmodemSession(TByteChannel& channel, const QStringList& files);
    TZmodemSession(TByteChannel& channel, const QString& folder);
    ~TZmodemSession() override;

    // The program this session runs ("sz" or "rz"), and whether it is
    // installed.
    QString Program() const { return FSending ? QStringLiteral("sz") : QStringLiteral("rz"); }
    static bool Installed(const QString& program);
    static QString InstallHint();

protected:
    TTransferResult Transfer() override;

private:
    bool Start(QString& error);
    // One round of the relay; false once the child has ended and its output
    // is all passed on, or the line failed (FEnd then says how).
    bool Relay();
    void TakeProgress(const QByteArray& bytes);
    void TakeProgressLine(const QString& line);
    void StopChild();
    int ReapChild(bool wait);
    TTransferResult ChildEnded(int status);
    void KeepPartialFile(TTransferResult& result);

    bool FSending;
    QStringList FFiles;
    QString FFolder;
    QSet<QString> FBefore; // the folder's files before rz ran
    pid_t FChild = -1;
    int FToChild = -1;
    int FFromChild = -1;
    int FChildErrors = -1;
    bool FChildOutputEnded = false;
    QByteArray FToChildPending;
    QByteArray FErrorLine;
    QString FLastMessage;
    bool FLineFailed = false;
    qint64 FFileBytes = 0;
    bool FFileCounted = true;
};
