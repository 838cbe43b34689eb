#pragma once

#include "transfer/TByteChannel.h"

// A byte channel over an open descriptor (a pseudo-terminal, a pipe, a
// socket), for tools and tests. The descriptor stays the caller's.
class TFdChannel : public TByteChannel {
public:
    explicit TFdChannel(int readFd, int writeFd = -1)
        : FReadFd(readFd), FWriteFd(writeFd < 0 ? readFd : writeFd) {}

    TStatus Read(char* buffer, qsizetype count, qsizetype& got, int timeoutMs) override;
    TStatus Write(const char* data, qsizetype count, int timeoutMs) override;
    QString LostReason() const override { return FLostReason; }

private:
    TStatus Lost(int error);

    int FReadFd;
    int FWriteFd;
    QString FLostReason;
};
