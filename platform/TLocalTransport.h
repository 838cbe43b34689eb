#pragma once

#include "platform/TTransport.h"

#include <QString>

#include <memory>
#include <optional>

// A local terminal (a tty): exclusive open with a UUCP lock file, termios
// line settings, the modem lines and the driver's error counters. The line
// is given back at close as it was found.
class TLocalTransport final : public TTransport {
public:
    // Opens the tty at Path for reading and writing, exclusively (see
    // TSerialDevice::Open); nothing, with Error set to the errno, on failure.
    static std::unique_ptr<TLocalTransport> Open(const QString& path, int& error);
    ~TLocalTransport() override;

    void Close(bool hungUp) override;
    bool CarriesLineSettings() const override { return true; }
    int SetLineSettings(const TLineSettings& settings) override;
    int LineSpeed() const override { return FLineSpeed; }
    bool SetOutputLine(int line, bool on) override;
    bool SendBreak() override;
    std::optional<int> ModemLines() const override;
    std::optional<TLineErrorCounts> ErrorCountsSinceOpen() const override;
    quint32 TakeErrors() override;
    bool HasModemLines() const override { return FHasModemLines; }
    quint32 LineEvents(quint32 mask, bool readLines) override;

    bool Readable() const override { return InputQueueCount() > 0; }
    TTransferStep Read(TReceiveQueue& queue) override;
    TTransferStep Write(const char* data, int count, TTransportDeadline deadline) override;
    TTransferStep WriteSome(const char* data, int count, int waitMs) override;
    bool WakeAfterEveryWrite() const override { return false; }

private:
    TLocalTransport(int fd, const QString& path);

    bool FClosed = false;
    // The UUCP lock file this open wrote; empty when none.
    QString FLockFile;
    // The line as the device was found, given back at close.
    std::optional<TKernelTermios> FFoundLine;
    int FLineSpeed = 0;
    // The driver answers modem-line or counter calls.
    bool FHasModemLines = false;
    // What LineEvents compares against (the monitor's own).
    std::optional<int> FModemBits;
    std::optional<TLineCounters> FEventCounts;
    // The counters at open, for ErrorCountsSinceOpen().
    std::optional<TLineCounters> FOpenCounts;
    // What TakeErrors() compares against.
    std::optional<TLineCounters> FErrorCounts;
};
