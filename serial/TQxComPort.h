#pragma once

// The serial port component: the one owner of the serial device.
// Its parameter types and display tables (TComPort ... ComPortNames ...)
// come with it.
#include "platform/LineParameters.h"
#include "platform/TReceiveQueue.h"
#include "platform/TSerialDevice.h"
#include "serial/TLineUser.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QObject;
class QTimer;
class QWidget;
class TDeviceWatch;
class TLineWriter;
class TNetworkLink;
class TQxComTask;

// Device time-outs while WaitForSequence() reads byte by byte: each
// one-byte read returns within about 1 ms.
inline constexpr TCommTimeouts WaitTimeouts{.ReadIntervalTimeout = 1,
                                            .ReadTotalTimeoutConstant = 1};
// The line events the monitor watches.
inline constexpr quint32 PortEventMask = EV_RXCHAR | EV_TXEMPTY | EV_CTS | EV_DSR | EV_ERR;
inline constexpr int PortQueueSize = 2048;
// What the monitor may read ahead of the main thread: about ten seconds of
// a 3 Mbaud line.
inline constexpr std::size_t ReceiveQueueSize = 4 * 1024 * 1024;
// While bytes stream in, the main thread gets them at most once per screen
// frame; bytes after a quiet frame go at once (an echo shows without delay).
inline constexpr std::chrono::milliseconds ReceiveFrame{16};

// One serial device with its five line parameters, opened by counted
// requests. Reads, writes and events belong to the main thread.
//
// Sending: keys, pastes, macros and the terminal's answers go through
// Send(), which never waits: what the device does not take at once waits in
// a bounded queue (TLineWriter) and goes out as the line drains. A download
// or transfer owns the line while it runs (ClaimLine) and writes from its
// own thread (WriteFromWorker); meanwhile keys and answers are refused.
//
// Receiving: the monitor thread (TQxComTask) reads the device as bytes
// arrive into a bounded queue (ReceiveQueueSize) and tells the main thread
// without waiting for it; a notice that is still pending is not repeated.
// The queue is the device's input for everything else: OnReceive's count,
// ReadBuffer, RxBufferCount and WaitForSequence all take from it, so the
// device is read while the main thread is busy. A full queue stops the
// reading (the kernel and the line's own flow control hold the rest) and is
// counted (ReceiveStalls); no byte is dropped.
// The other line events are raised on the main thread while the monitor
// waits, each after the bytes that came before it.
// A device that goes away (an adapter pulled: hang-up, end of file, EIO) is
// closed at once, its requests kept; the port is then Disconnected() and
// reopens the device, with the same line parameters, as soon as the path
// the settings name for it comes back, unless [COM-Device] Reconnect=0 (a
// network port is reconnected on a thread of its own, so that an
// unanswering server never holds the main thread). OnConnectionChanged
// tells both moments.
// OpenPort and ClosePort may also be called from another thread as long as
// no other call of the port overlaps them.
//
// Failures: operations return a bool, or an outcome (TWriteOutcome) where
// the caller must tell the reasons apart; the device's reason is
// TSerialDevice::ErrorText(). The one
// failure the user must act on, a port that cannot be opened, is shown by
// the port itself through TInteraction (unless the open is silent). No
// exception leaves the port.
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
    TFlowControl FlowControl() const { return FFlowControl; }
    void SetFlowControl(TFlowControl value);
    // Bytes waiting to be read; free room in the transmit queue. 0 while
    // closed. Both clear the line's error state.
    quint32 RxBufferCount();
    quint32 TxBufferFree();
    // Outstanding open requests. Setting it only replaces the counter.
    int Requests() const { return FRequests; }
    void SetRequests(int value) { FRequests = value; }
    bool Open() const { return FDevice.IsOpen(); }
    // False while the device is a network port that passes bytes only (raw
    // TCP, or a Telnet server without the COM port option).
    bool CarriesLineSettings() const { return FDevice.CarriesLineSettings(); }
    // The device went away while requests were held, and has not come back
    // (also in the moment between its hang-up and its close).
    bool Disconnected() const {
        return FDisconnected.load() || (FDevice.IsOpen() && FDevice.HungUp());
    }

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

    // Main thread, never blocks: queues Bytes behind those waiting, writes
    // what the device takes now and the rest as the line drains. False
    // (nothing queued) when the port is closed or disconnected, when the
    // queue (TLineWriter::Capacity) has no room for them, or when a Download
    // or Transfer owns the line and Who is Keys or Answers.
    bool Send(const QByteArray& bytes, TLineUser who = TLineUser::Keys);
    // Bytes Send queued that the device has not taken yet; any thread.
    qsizetype PendingOutput() const;
    // Drops the bytes Send queued (a stopped paste); those the device took
    // are gone already.
    void DiscardOutput();
    // Main thread: true once queued bytes found no room for 5 s, false when
    // the line takes bytes again or the queue is dropped (a close).
    std::function<void(bool stalled)> OnOutputStalled;

    // Main thread: Download or Transfer takes the line; false when another
    // owner holds it (or Owner is Keys or Answers). From then on Send of
    // Keys and Answers is refused; bytes queued before still go out first
    // (WriteFromWorker waits for them). Cancel, if given, is how a quit asks
    // the owner to stop (CancelLineOwner).
    bool ClaimLine(TLineUser owner, std::function<void()> cancel = {});
    // Main thread: gives the line back; nothing happens when nobody owns it.
    void ReleaseLine();
    // The owner, or Keys when nobody owns the line; any thread.
    TLineUser LineOwner() const { return FLineOwner.load(); }
    // Main thread: asks the owner to stop (the cancel it gave); false when
    // nobody owns the line. The owner still releases it when it has ended.
    bool CancelLineOwner();

    // Writes every byte of S (in pieces of at most 65535 bytes, each
    // returning when the device has taken it); true when all were taken.
    // It blocks as long as the line takes nothing: never on the main thread
    // for keys, paste or macros (Send is for them).
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
    // BeginSequenceWait holds the port's events: the monitor goes on queuing
    // what arrives, but nothing is announced until EndSequenceWait, which
    // raises what was held; each ScanSequence reads byte by
    // byte for at most SliceMs, showing each byte to OnScan and keeping the
    // last bytes received in Window, and is true once they equal Sequence.
    void BeginSequenceWait();
    bool ScanSequence(const QByteArray& sequence, QByteArray& window, int sliceMs);
    void EndSequenceWait();

    // Reads received bytes from the calling thread (a file transfer's, which
    // owns the line, so nothing goes to OnReceive meanwhile): up to Count
    // bytes, waiting at most TimeoutMs for the first; -1 when the port is
    // closed or the line is gone and nothing is left to read.
    int ReadFromWorker(char* buffer, int count, int timeoutMs);
    // How a write from another thread ended.
    enum class TWriteOutcome { Written, Cancelled, Stalled, Failed };
    // Writes every byte of Bytes from the calling thread (the download's),
    // so that the main thread goes on reading what the target sends back
    // meanwhile; bytes Send queued go first (it waits for them). Gives up
    // when Cancelled() turns true (it is asked at least every 100 ms), when
    // the device took nothing for StallMs, or when the line is gone or the
    // port closed (Failed).
    TWriteOutcome WriteFromWorker(const QByteArray& bytes, const std::function<bool()>& cancelled,
                                  int stallMs);
    // True once the device reported a hang-up (the adapter was pulled).
    bool HungUp() const { return FDevice.HungUp(); }
    // Pushes queue sizes, line parameters and time-outs to the open device.
    virtual bool ApplySettings();
    // Raises the first event of Mask in this order: EV_RXCHAR, EV_TXEMPTY,
    // EV_ERR, EV_CTS, EV_DSR; the other bits are dropped.
    void DispatchCommEvent(quint32 eventMask);

    // Line events other than received bytes are watched only while a handler
    // wants them (the modem lines need a waiting thread, the transmit queue
    // needs watching after each write). Call this after attaching or
    // removing OnTransmit, OnCTSChanged, OnDSRChanged, OnError or
    // OnModemLinesChanged while the port is open; an open takes the handlers
    // as they are.
    void HandlersChanged();

    // How often the monitor found the receive queue full and stopped reading.
    quint64 ReceiveStalls() const { return FReceived.FullCount(); }
    // The longest time between two reads of the device that both found
    // bytes, since the last ResetReadGap(): under a steady stream, how long
    // the device went unread at most. A diagnostic for benchmarks.
    std::chrono::nanoseconds LongestReadGap() const;
    void ResetReadGap();

    // Events, raised on the main thread. OnReceive gets the bytes waiting
    // (0 is possible: WaitForSequence may have read them); when more than
    // 65535 wait, it is raised again at once for the rest, as long as its
    // handler takes some.
    std::function<void(quint16 count)> OnReceive;
    std::function<void(char& ch)> OnScan;
    std::function<void()> OnTransmit;
    std::function<void()> OnCTSChanged;
    std::function<void()> OnDSRChanged;
    std::function<void()> OnError;
    // Any input line (CTS, DSR, DCD, RI) changed. Raised after the bytes that
    // came before the change and after the event of the change, if any; it
    // is no event of the mask and has no place in its order.
    std::function<void()> OnModemLinesChanged;
    // The device went away (false) or came back (true); main thread.
    std::function<void(bool connected)> OnConnectionChanged;

    // The window the open warning belongs to; none by default.
    QWidget* DialogParent = nullptr;

protected:
    virtual void DoReceive();
    virtual void DoTransmit();
    virtual void DoScan(char& ch);
    virtual void DoCTSChanged();
    virtual void DoDSRChanged();
    virtual void DoError();
    virtual void DoModemLinesChanged();

private:
    friend class TQxComTask;

    void ShowOpenWarning(const QString& reason);
    quint32 WantedEvents() const;
    // Opens and configures the device and starts the monitor; false (device
    // closed) with the system's reason otherwise.
    bool OpenDevice(QString& reason);
    // ForgetReceived: drop what the queue still holds (a close on request);
    // a device that went away leaves it to be handed over.
    void CloseDevice(bool forgetReceived);

    // Any thread: the device of Session hung up.
    void NoteHangUp(quint64 session);
    // Main thread: closes it and waits for its path to come back.
    void ConnectionLost(quint64 session);
    void TryReconnect();
    void ReconnectInBackground(const QString& path);
    void AdoptReconnection(const QString& path, std::unique_ptr<TNetworkLink> link);
    // Configures the device just opened and starts the monitor.
    bool StartDevice();
    void EndDisconnection();
    void RaiseConnectionChanged(bool connected);

    // Monitor thread: bytes were added to the queue.
    void NoteReceived();
    // Main thread: the monitor's notice; hands the queue to OnReceive now
    // or at the end of the current frame.
    void ReceiveNotice();
    void DeliverReceived();
    // Main thread: line events other than EV_RXCHAR caught by the monitor
    // during Session; raised after the bytes that came before them.
    void DeliverLineEvents(quint32 eventMask, quint64 session);
    // Main thread: WaitForSequence keeps notices and events for later.
    void HoldEvents();
    void ReleaseEvents();

    // Main thread: what Send's writer offers the device, without waiting.
    int WriteQueued(const char* data, int count);
    // Worker thread: waits until the bytes Send queued are gone; the same
    // outcomes as WriteFromWorker (Written when none wait).
    TWriteOutcome AwaitQueuedOutput(const std::function<bool()>& cancelled, int stallMs);

    TSerialDevice FDevice;
    TReceiveQueue FReceived{ReceiveQueueSize};
    std::unique_ptr<QObject> FMainThreadContext;
    std::unique_ptr<TLineWriter> FWriter;
    std::atomic<TLineUser> FLineOwner{TLineUser::Keys};
    std::function<void()> FCancelOwner;
    // Where a background connect hands its connection; emptied when the
    // port goes.
    struct TReconnectContext {
        std::mutex Lock;
        QObject* Context = nullptr;
    };
    std::shared_ptr<TReconnectContext> FReconnectContext = std::make_shared<TReconnectContext>();
    bool FReconnecting = false;
    TDeviceWatch* FDeviceWatch = nullptr;
    std::atomic<bool> FDisconnected{false};
    QTimer* FFrameTimer = nullptr;
    std::chrono::steady_clock::time_point FLastDelivery;
    std::atomic<bool> FNoticePending{false};
    int FHoldCount = 0;
    bool FNoticeOwed = false;
    bool FDelivering = false;
    bool FDeliverAgain = false;
    quint32 FHeldEvents = 0;
    std::unique_ptr<TQxComTask> FTask;
    TCommTimeouts FTimeouts{
        .ReadIntervalTimeout = 40, .ReadTotalTimeoutMultiplier = 1, .ReadTotalTimeoutConstant = 10};
    TCommTimeouts FReadTimeouts = FTimeouts;
    int FRequests = 0;
    quint32 FTxQueueSize = 0;
    TStopBits FStopBits = sb10;
    TDataBits FDatabits = db8;
    TBaudrate FBaudrate = br9600;
    // A rate outside the table, or 0 when FBaudrate holds the rate.
    int FOtherBaudrate = 0;
    TParity FParity = paNONE;
    TFlowControl FFlowControl = fcNONE;
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
