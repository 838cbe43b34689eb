#pragma once

#include "platform/TTransport.h"

#include <memory>

class TNetworkLink;

// A serial port on another machine (TNetworkLink): a raw TCP stream or
// Telnet with the COM port option. It has no modem ioctls nor error
// counters: the server's notices stand in for them.
class TNetworkTransport final : public TTransport {
public:
    // Takes over a connected link.
    explicit TNetworkTransport(std::unique_ptr<TNetworkLink> link);
    ~TNetworkTransport() override;

    void Close(bool hungUp) override;
    bool CarriesLineSettings() const override;
    int SetLineSettings(const TLineSettings& settings) override;
    bool SetOutputLine(int, bool) override { return false; }
    bool SendBreak() override { return false; }
    std::optional<int> ModemLines() const override { return std::nullopt; }
    std::optional<TLineErrorCounts> ErrorCountsSinceOpen() const override { return std::nullopt; }
    quint32 TakeErrors() override;
    bool HasModemLines() const override { return false; }
    quint32 LineEvents(quint32 mask, bool readLines) override;

    bool Readable() const override;
    TTransferStep Read(TReceiveQueue& queue) override;
    TTransferStep Write(const char* data, int count, TTransportDeadline deadline) override;
    TTransferStep WriteSome(const char* data, int count, int waitMs) override;
    // Without it, a key sent after a stalled peer had drained was left
    // undelivered.
    bool WakeAfterEveryWrite() const override { return true; }
    // Telnet commands the socket had no room for go once it has.
    short WantedPollEvents() const override;
    void PollReady(short revents) override;

private:
    std::unique_ptr<TNetworkLink> FLink;
};
