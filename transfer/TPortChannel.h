#pragma once

#include "transfer/TByteChannel.h"

class TQxComPort;

// The program's byte channel: the serial port, whose line the transfer owns
// (ClaimLine(TLineUser::Transfer) before the transfer starts, so that the
// port hands received bytes to no one else). Reads take the port's receive
// queue, writes go through WriteFromWorker; both from the transfer's thread.
class TPortChannel : public TByteChannel {
public:
    explicit TPortChannel(TQxComPort& port) : FPort(port) {}

    TStatus Read(char* buffer, qsizetype count, qsizetype& got, int timeoutMs) override;
    TStatus Write(const char* data, qsizetype count, int timeoutMs) override;
    QString LostReason() const override;

private:
    TQxComPort& FPort;
};
