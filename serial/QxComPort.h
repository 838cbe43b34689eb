#pragma once

// The serial port component: the one owner of the serial device.
// Its parameter types and display tables (TComPort ... ComPortNames ...)
// come with it.
#include "platform/LineParameters.h"
#include "platform/SerialDevice.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;
class TQxComTask;

// Device time-outs while WaitForSequence() reads byte by byte: each
// one-byte read returns within about 1 ms.
inline constexpr TCommTimeouts WaitTimeouts{1, 0, 1, 0, 0};
// The line events the monitor watches: EV_RXCHAR, EV_TXEMPTY, EV_CTS,
// EV_DSR, EV_ERR.
inline constexpr quint32 PortEventMask = 0x9D;
inline constexpr int PortQueueSize = 2048;

// One serial device with its five line parameters, opened by counted
// requests. Reads, writes and events belong to the main thread; the monitor
// thread (TQxComTask) only waits for line events and has them raised on the
// main thread, one at a time, each handler returning before the next wait.
// OpenPort and ClosePort may also be called from another thread as long as
// no other call of the port overlaps them.
class TQxComPort {
public:
    TQxComPort();
    // Closes the device whatever requests are left and ends the monitor:
    // no event is raised once the destructor has started.
    virtual ~TQxComPort();
    TQxComPort(const TQxComPort&) = delete;
    TQxComPort& operator=(const TQxComPort&) = delete;

    // The device: with requests held, a change closes the old device and
    // opens the new one (with the warning if that fails), keeping the count.
    TComPort ComPort() const { return FComPort; }
    void SetComPort(TComPort value);
    // With requests held, reopens the device when the port's [Devices]
    // entry names another path than the last open tried, so that a device
    // newly given to the port takes over at once (warning on failure).
    void ReopenIfMoved();
    // Line parameters: a change is applied to an open device at once (a
    // value the device rejects stays stored, the line keeps its former
    // setting) and to a closed one at its next open.
    TBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TBaudrate value);
    // The bit rate asked for: the table's value of Baudrate(), or a rate set
    // with SetBaudrateValue. SetBaudrateValue takes any rate above 0 (others
    // are ignored); a rate of the table sets Baudrate() as SetBaudrate does,
    // any other leaves Baudrate() as it was.
    int BaudrateValue() const;
    void SetBaudrateValue(int value);
    // The rate the driver set when the line was last configured (a driver
    // makes the nearest rate it can); the asked rate while closed or when
    // the driver cannot tell.
    int ActualBaudrate() const;
    TDataBits Databits() const { return FDatabits; }
    void SetDatabits(TDataBits value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity value);
    // Bytes waiting to be read; free room in the transmit queue. 0 while
    // closed. Both clear the line's error state.
    quint32 RxBufferCount();
    quint32 TxBufferFree();
    // Outstanding open requests. Setting it only replaces the counter.
    int Requests() const { return FRequests; }
    void SetRequests(int value) { FRequests = value; }
    bool Open() const { return FDevice.IsOpen(); }

    // Line control. DTR and RTS start as [COM-Device] DTR= and RTS= say at
    // each open (high unless 0) and keep what SetDTR/SetRTS made of them
    // while open; a change while closed waits for the open. SendBreak holds
    // the line in the break state for about 250 ms; false while closed.
    bool DTR() const { return FDTR; }
    void SetDTR(bool on);
    bool RTS() const { return FRTS; }
    void SetRTS(bool on);
    bool SendBreak();
    // The modem lines (TIOCM_CTS, TIOCM_DSR, TIOCM_CD, TIOCM_RI) and the
    // line error counters since the open; nothing while closed or when the
    // driver does not answer.
    std::optional<int> ModemLines() const { return FDevice.ModemLines(); }
    std::optional<TLineErrorCounts> ErrorCounts() const { return FDevice.ErrorCountsSinceOpen(); }

    // Counts one request (also when the open then fails) and opens and
    // configures the device unless it is open. True when it is open. On
    // failure the warning box shows, unless Silent, with a detail that names
    // the device, the system's reason and what to do (DescribeOpenFailure).
    bool OpenPort(bool silent);
    // Drops one request and closes the device when none is left: true then
    // (whether or not a device was open), false while requests remain.
    bool ClosePort();

    // Writes every byte of S (in pieces of at most 65535 bytes, each
    // returning when the device has taken it); true when all were taken.
    bool WriteString(const QByteArray& s);
    // Writes Count bytes; the number the device took (0 while closed).
    int WriteBuffer(const void* buffer, quint16 count);
    // Reads up to Count bytes within the device time-outs: returns when all
    // came, 40 ms after the last byte, or 10 + Count ms after the start.
    int ReadBuffer(void* buffer, quint16 count);
    // Reads byte by byte, each byte shown to OnScan (whose handler may
    // change it), until the last bytes equal Sequence (true) or Timeout ms
    // have passed (false). Bytes after the match stay for OnReceive. An empty
    // Sequence matches the first byte; Timeout 0 or less reads nothing.
    bool WaitForSequence(const QByteArray& sequence, int timeout);
    // The same wait cut into slices, so that the main thread may handle its
    // events between them (all three calls belong to the main thread):
    // BeginSequenceWait pauses the monitor, which then neither takes nor
    // announces bytes until EndSequenceWait; each ScanSequence reads byte by
    // byte for at most SliceMs, showing each byte to OnScan and keeping the
    // last bytes received in Window, and is true once they equal Sequence.
    void BeginSequenceWait();
    bool ScanSequence(const QByteArray& sequence, QByteArray& window, int sliceMs);
    void EndSequenceWait();

    // How a write from another thread ended.
    enum class TWriteOutcome { Written, Cancelled, Stalled, Failed };
    // Writes every byte of Bytes from the calling thread (the download's),
    // so that the main thread goes on reading what the target sends back
    // meanwhile. Gives up when Cancelled() turns true (it is asked at least
    // every 100 ms), when the device took nothing for StallMs, or when the
    // line is gone or the port closed (Failed).
    TWriteOutcome WriteFromWorker(const QByteArray& bytes, const std::function<bool()>& cancelled,
                                  int stallMs);
    // True once the device reported a hang-up (the adapter was pulled).
    bool HungUp() const { return FDevice.HungUp(); }
    // Pushes queue sizes, line parameters and time-outs to the open device.
    virtual bool ApplySettings();
    // Raises the first event of Mask in this order: EV_RXCHAR, EV_TXEMPTY,
    // EV_ERR, EV_CTS, EV_DSR; the other bits are dropped.
    void DispatchCommEvent(quint32 eventMask);

    // Events, raised on the main thread. OnReceive gets the bytes waiting
    // (0 is possible: WaitForSequence may have read them).
    std::function<void(quint16 count)> OnReceive;
    std::function<void(char& ch)> OnScan;
    std::function<void()> OnTransmit;
    std::function<void()> OnCTSChanged;
    std::function<void()> OnDSRChanged;
    std::function<void()> OnError;

    // The window the open warning belongs to; none by default.
    QWidget* DialogParent = nullptr;

protected:
    virtual void DoReceive();
    virtual void DoTransmit();
    virtual void DoScan(char& ch);
    virtual void DoCTSChanged();
    virtual void DoDSRChanged();
    virtual void DoError();

private:
    friend class TQxComTask;

    void ShowOpenWarning(const QString& reason);

    TSerialDevice FDevice;
    std::unique_ptr<TQxComTask> FTask;
    TCommTimeouts FTimeouts{40, 1, 10, 0, 0};
    int FRequests = 0;
    quint32 FTxQueueSize = 0;
    TStopBits FStopBits = sb10;
    TDataBits FDatabits = db8;
    TBaudrate FBaudrate = br9600;
    // A rate outside the table, or 0 when FBaudrate holds the rate.
    int FOtherBaudrate = 0;
    TParity FParity = paNONE;
    TComPort FComPort = poCOM1;
    bool FDTR = true;
    bool FRTS = true;
    // The device path the last open tried.
    QString FOpenPath;
};

// The program's one serial port, created on first use. The application
// ends it with DestroySerialPort() after its event loop and before its
// application object goes; tests may use ports of their own instead.
TQxComPort& SerialPort();
void DestroySerialPort();
