#pragma once

#include "platform/LineTermios.h"
#include "platform/TLineCounters.h"
#include "platform/TransportEvents.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

class TNetworkLink;
class TReceiveQueue;
class TModemLineWaiter;
class TTransport;
struct TModemLineSignal;

// One serial device (a tty) with the operations the serial port component
// needs: exclusive open, line parameters, blocking writes, an event wait
// that a mask change releases, reading into a receive queue (whose Read
// keeps the read time-outs), queue counts. The bytes and the line control
// go through a transport (TTransport: a local terminal or a network port);
// the device keeps the waiting, the event mask and the modem-line waiter.
//
// Threads: one thread (the port monitor) may sit in WaitEvent() while
// another opens, configures, reads, writes, changes the mask and closes.
// Everything but WaitEvent() belongs to one thread at a time.
class TSerialDevice {
public:
    TSerialDevice();
    ~TSerialDevice();
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens the tty at Path for reading and writing, exclusively: another
    // open of the same device (by this or another program, or a live UUCP
    // lock file of another program) fails with "Device or resource busy".
    // Never creates a file; anything but a character device is refused
    // without being opened. An open device is announced in a UUCP lock file
    // where a lock directory takes one (CreateLockFile). The event mask
    // starts at 0. On failure Error() is the errno and ErrorText() its text.
    // A path "rfc2217://host:port" or "tcp://host:port" opens a serial port
    // on another machine instead (TNetworkLink); it behaves as a tty, a
    // connection that ends as a line that hung up.
    bool Open(const QString& path);
    // Opens with a network connection made elsewhere (TNetworkLink::Connect
    // on another thread, so that a reconnect never holds the caller), as
    // Open() of its address would; false with EBUSY when already open.
    bool OpenConnected(std::unique_ptr<TNetworkLink> link);
    // Releases a pending wait, then closes. Nothing happens when closed.
    void Close();
    bool IsOpen() const { return FFd.load() >= 0; }
    // False for a network port that is a plain byte stream: line settings
    // and modem lines do not reach the far side.
    bool CarriesLineSettings() const;
    // The system's reason for the last failed operation.
    QString ErrorText() const { return FErrorText; }
    int Error() const { return FError; }

    // Queue sizes cannot be chosen on Linux; the call only checks the device
    // is open. TransmitQueueSize() is the driver's transmit buffer.
    bool SetQueueSizes(int inputSize, int outputSize);
    int TransmitQueueSize() const;

    // Applies the line parameters and raises DTR and RTS (a device without
    // modem lines is fine). False when a parameter is out of range or the
    // driver does not take it; the line then keeps its former parameters.
    // Any bit rate is asked for; LineSpeed() is what the driver then set.
    bool SetLineSettings(const TLineSettings& settings);
    // Raises (On) or drops one output line (TIOCM_DTR or TIOCM_RTS); false
    // when closed or the device has no such line.
    bool SetOutputLine(int line, bool on);
    // Holds the line in the break state for about 250 ms (the caller waits).
    bool SendBreak();
    // The modem lines (TIOCM_CTS, TIOCM_DSR, TIOCM_CD, TIOCM_RI ...), or
    // nothing when closed or the driver does not answer.
    std::optional<int> ModemLines() const;
    // The line error counters since the open, or nothing when closed or
    // the driver keeps none.
    std::optional<TLineErrorCounts> ErrorCountsSinceOpen() const;
    // The bit rate the driver reported after the last SetLineSettings; 0
    // when it could not tell.
    int LineSpeed() const { return FLineSpeed; }
    // Only the write time-outs count here (Write, WriteSome); reads go
    // through a receive queue, whose reader passes the read time-outs to
    // TReceiveQueue::Read.
    bool SetTimeouts(const TCommTimeouts& timeouts);

    // Sets the events WaitEvent() waits for and releases a pending wait,
    // which then reports the empty mask.
    bool SetEventMask(quint32 mask);
    quint32 EventMask() const { return FMask.load(); }
    // Blocks until an event of the mask occurs, the mask is changed or the
    // device is closed. True with the caught events (0 after a mask change
    // or close); false when the device is closed or hung up, after backing
    // off so that a caller retrying at once does not spin. Session (if given)
    // receives the open the events belong to (see Session()).
    // EV_RXCHAR is reported as long as received bytes wait, unless receiving
    // is held (HoldReceive); EV_TXEMPTY once the transmit queue drained after
    // a write; EV_CTS, EV_DSR and EV_MODEMLINES from changes of the modem
    // lines (ModemStatusSource()), which a thread of the device waits for
    // while the mask asks for them (a driver that cannot wait is looked at
    // every 100 ms instead); EV_ERR from the driver's error counters,
    // looked at when bytes arrive (line errors come with bytes) and when the
    // lines changed. Line events found together with received bytes are
    // reported alone at the next call, after those bytes. An idle line
    // wakes nobody.
    bool WaitEvent(quint32& events, quint64* session = nullptr);
    // While held, WaitEvent() leaves received bytes in the kernel (the
    // reader has no room for them); a change releases a pending wait.
    void HoldReceive(bool hold);
    // Moves what the kernel has received into Queue without waiting, as far
    // as it has room; the bytes moved. A read that finds the line gone
    // (end of file, EIO) marks it hung up.
    int ReadAvailable(TReceiveQueue& queue);
    // Sleeps for Duration unless a close, a mask change or a write releases
    // the waiter first.
    void Sleep(std::chrono::milliseconds duration);
    // Changes at every open and close.
    quint64 Session() const { return FSession.load(); }

    // Writes Count bytes and returns how many the kernel took: all of them
    // unless the write time-outs ran out or the line hung up.
    int Write(const char* data, int count);
    // Writes what the kernel takes of Count bytes, waiting at most WaitMs
    // for room: the bytes taken (0 when there was no room in time), or -1
    // when the device is closed, hung up or failed. Any thread may call it
    // while another reads.
    int WriteSome(const char* data, int count, int waitMs);

    // Bytes waiting in the receive queue and in the transmit queue.
    int InputQueueCount() const;
    int OutputQueueCount() const;
    // The line errors (CE_...) seen since the last call, then forgotten.
    quint32 ClearErrors();
    // The line hung up (adapter pulled, other side of a pty closed): reads
    // and writes return 0 and waits fail until the device is closed.
    bool HungUp() const { return FHungUp.load(); }

private:
    bool OpenNetwork(const QString& url);
    // Takes Transport as the open line.
    bool Adopt(std::unique_ptr<TTransport> transport);
    bool Fail(int error);
    void Wake();
    void DrainWake();
    // After a write that moved bytes (any thread).
    void NoteWritten();
    // After a read or write: a transport that found the line gone marks it
    // hung up.
    int Took(const TTransferStep& step);
    void BackOff();
    void MarkHungUp() { FHungUp.store(true); }
    bool WaitOnDevice(int fd, quint64 generation, quint32& events);
    // Counts a user of the descriptor (Close waits until none is left);
    // -1 when closed or hung up.
    int Enter();
    void Leave();
    quint32 PendingEvents(quint32 mask);
    bool LinePollDue(quint32 mask);
    bool LinePolling(quint32 mask) const;
    void UpdateLineWaiter(quint32 mask);
    int NextCheckDelay(quint32 mask) const;

    std::atomic<int> FFd{-1};
    int FWakeFd = -1;
    QString FErrorText;
    int FError = 0;
    TCommTimeouts FTimeouts;
    int FLineSpeed = 0;
    // The open line; owns the descriptor.
    std::unique_ptr<TTransport> FTransport;

    std::mutex FLock;
    std::condition_variable FIdle;
    int FWaiters = 0;

    std::atomic<quint32> FMask{0};
    std::atomic<quint64> FMaskGeneration{0};
    std::atomic<quint64> FSession{0};
    std::atomic<bool> FHungUp{false};
    std::atomic<bool> FTxPending{false};
    std::atomic<bool> FReceiveHeld{false};
    // Writes so far, and as the monitor's last read found them; set while
    // the monitor lets a slow stream gather.
    std::atomic<quint64> FWrites{0};
    quint64 FWritesAtRead = 0;
    std::atomic<bool> FGathering{false};
    int FBackOffMs = 0;

    // Waits for modem-line changes while the mask asks for them.
    std::unique_ptr<TModemLineWaiter> FLineWaiter;
    std::shared_ptr<TModemLineSignal> FLineSignal;
    // Where the driver cannot wait: when the lines are next looked at.
    std::chrono::steady_clock::time_point FNextLinePoll;
    // Line events held back while bytes were reported (the waiter's own).
    quint32 FHeldLineEvents = 0;
    bool FConnecting = false;
};
