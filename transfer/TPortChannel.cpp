#include "transfer/TPortChannel.h"

#include "serial/TQxComPort.h"

TByteChannel::TStatus TPortChannel::Read(char* buffer, qsizetype count, qsizetype& got,
                                         int timeoutMs) {
    got = 0;
    const int read = FPort.ReadFromWorker(buffer, int(qMin<qsizetype>(count, 65536)), timeoutMs);
    if (read < 0)
        return TStatus::Lost;
    got = read;
    return read > 0 ? TStatus::Ok : TStatus::TimedOut;
}

TByteChannel::TStatus TPortChannel::Write(const char* data, qsizetype count, int timeoutMs) {
    switch (FPort.WriteFromWorker(
        QByteArray::fromRawData(data, count), [] { return false; }, timeoutMs)) {
    case TQxComPort::TWriteOutcome::Written:
        return TStatus::Ok;
    case TQxComPort::TWriteOutcome::Stalled:
    case TQxComPort::TWriteOutcome::Cancelled:
        return TStatus::TimedOut;
    case TQxComPort::TWriteOutcome::Failed:
        break;
    }
    return TStatus::Lost;
}

QString TPortChannel::LostReason() const {
    return FPort.HungUp() ? QStringLiteral("the device hung up")
                          : QStringLiteral("the port was closed");
}
