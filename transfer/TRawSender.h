#pragma once

#include "transfer/TTransferSession.h"

#include <QString>

// Sends a file's bytes as they are, for targets that read a plain stream.
// For targets without flow control it can pause after every PauseEvery
// bytes, or after every line (LF), for PauseMs. Success once the line took
// every byte.
class TRawSender : public TTransferSession {
public:
    TRawSender(TByteChannel& channel, const QString& path);

    qint64 PauseEvery = 0; // bytes; 0: no pause by count
    bool PauseAfterLine = false;
    int PauseMs = 0;

protected:
    TTransferResult Transfer() override;

private:
    bool Pause();

    QString FPath;
};
