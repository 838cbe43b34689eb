#pragma once

#include "platform/LineTermios.h"
#include "platform/TLineCounters.h"
#include "platform/TransportEvents.h"

#include <optional>

class TReceiveQueue;

// What carries an open port's bytes and line state: a local terminal
// (TLocalTransport) or a serial port on another machine (TNetworkTransport).
// TSerialDevice owns one while open and keeps the waiting, the event mask
// and the threads; the transport does the input, output and line control.
//
// Threads: Readable, Read, LineEvents, WantedPollEvents and PollReady belong
// to the port's monitor; Write and WriteSome to the one writer of the
// moment; the rest to the thread that owns the port.
class TTransport {
public:
    virtual ~TTransport() = default;
    TTransport(const TTransport&) = delete;
    TTransport& operator=(const TTransport&) = delete;

    // The descriptor to wait on.
    int Fd() const { return FFd; }
    // Gives the line back and closes the descriptor. HungUp: the line is
    // gone and takes nothing any more.
    virtual void Close(bool hungUp) = 0;

    // Whether line settings and modem lines reach the far side.
    virtual bool CarriesLineSettings() const = 0;
    // Applies Settings (flow control included); 0, or the errno of the
    // failure (the line then keeps its former settings).
    virtual int SetLineSettings(const TLineSettings& settings) = 0;
    // The bit rate the line runs at after the last SetLineSettings; 0 when
    // it cannot tell.
    virtual int LineSpeed() const { return 0; }
    virtual bool SetOutputLine(int line, bool on) = 0;
    virtual bool SendBreak() = 0;
    virtual std::optional<int> ModemLines() const = 0;
    virtual std::optional<TLineErrorCounts> ErrorCountsSinceOpen() const = 0;
    // The line errors (CE_...) since the last call.
    virtual quint32 TakeErrors() = 0;
    // Whether a thread may wait for the modem lines' changes on Fd().
    virtual bool HasModemLines() const = 0;
    // The line events of Mask (EV_CTS, EV_DSR, EV_MODEMLINES, EV_ERR) since
    // the last call. ReadLines: look at the modem lines, not only the
    // error counters.
    virtual quint32 LineEvents(quint32 mask, bool readLines) = 0;

    // Received bytes wait (or the end of the line, which Read then finds).
    virtual bool Readable() const = 0;
    // Moves what has arrived into Queue without waiting, as far as it has
    // room.
    virtual TTransferStep Read(TReceiveQueue& queue) = 0;
    // Writes Count bytes until all went or Deadline passed.
    virtual TTransferStep Write(const char* data, int count, TTransportDeadline deadline) = 0;
    // Writes what the line takes of Count bytes, waiting at most WaitMs for
    // room; Bytes is -1 when the write failed.
    virtual TTransferStep WriteSome(const char* data, int count, int waitMs) = 0;
    // Whether the monitor must look again after every write, not only when
    // a write changes what it waits for.
    virtual bool WakeAfterEveryWrite() const = 0;
    // Poll events the monitor adds to its wait on Fd() (bytes of the
    // transport's own waiting to go out), and what to do when they came.
    virtual short WantedPollEvents() const { return 0; }
    virtual void PollReady(short /*revents*/) {}

    // Bytes waiting in the receive and in the transmit queue.
    int InputQueueCount() const;
    int OutputQueueCount() const;

protected:
    explicit TTransport(int fd) : FFd(fd) {}

private:
    int FFd;
};
