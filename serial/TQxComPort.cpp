#include "serial/TQxComPort.h"

#include "platform/TInteraction.h"
#include "platform/TNetworkLink.h"
#include "platform/OpenDiagnosis.h"
#include "platform/TickCount.h"
#include "serial/TLineWriter.h"
#include "serial/TQxComTask.h"
#include "serial/TDeviceWatch.h"
#include "settings/SerialDeviceMap.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>

#include <sys/ioctl.h>

namespace {

const char* const OpenWarningText =
    "Unable to open the selected serial interface!\n\r\n\r     Please check, if any other "
    "application\n\r             already uses this device.";

constexpr qsizetype MaxWritePiece = 65535;

} // namespace

TQxComPort::TQxComPort()
    : FMainThreadContext(std::make_unique<QObject>()), FTask(std::make_unique<TQxComTask>(*this)) {
    // Notices and the frame timer run on the main thread, whoever builds the port.
    if (QCoreApplication* application = QCoreApplication::instance())
        FMainThreadContext->moveToThread(application->thread());
    FFrameTimer = new QTimer(FMainThreadContext.get());
    FFrameTimer->setSingleShot(true);
    FFrameTimer->callOnTimeout([this] { DeliverReceived(); });
    // Room after a full queue: the monitor may read the device again.
    FReceived.OnRoom = [this] { FDevice.HoldReceive(false); };
    FDeviceWatch = new TDeviceWatch([this] { TryReconnect(); }, FMainThreadContext.get());
    FReconnectContext->Context = FMainThreadContext.get();
    FWriter = std::make_unique<TLineWriter>(
        [this](const char* data, int count) { return WriteQueued(data, count); },
        FMainThreadContext.get());
    FWriter->OnStalled = [this](bool stalled) {
        if (OnOutputStalled)
            OnOutputStalled(stalled);
    };
}

TQxComPort::~TQxComPort() {
    {
        // A background connect still running drops its result.
        std::lock_guard guard(FReconnectContext->Lock);
        FReconnectContext->Context = nullptr;
    }
    FRequests = 0;
    ClosePort();
    FDeviceWatch->Stop();
    FTask->TerminateAndWait();
    FTask.reset();
    FWriter.reset();
}

void TQxComPort::SetComPort(TComPort value) {
    if (value == FComPort)
        return;
    FComPort = value;
    if (FRequests > 0) {
        const int requests = FRequests;
        FRequests = 0;
        ClosePort();
        OpenPort(false);
        FRequests = requests;
    }
}

void TQxComPort::ReopenIfMoved() {
    if (FRequests == 0 || SerialDevicePath(FComPort) == FOpenPath)
        return;
    const int requests = FRequests;
    FRequests = 0;
    ClosePort();
    OpenPort(false);
    FRequests = requests;
}

void TQxComPort::SetDTR(bool on) {
    FDTR = on;
    FDevice.SetOutputLine(TIOCM_DTR, on);
}

void TQxComPort::SetRTS(bool on) {
    FRTS = on;
    FDevice.SetOutputLine(TIOCM_RTS, on);
}

bool TQxComPort::SendBreak() {
    return FDevice.SendBreak();
}

void TQxComPort::SetBaudrate(TBaudrate value) {
    if (value == FBaudrate && FOtherBaudrate == 0)
        return;
    FBaudrate = value;
    FOtherBaudrate = 0;
    ApplySettings();
}

int TQxComPort::BaudrateValue() const {
    return FOtherBaudrate != 0 ? FOtherBaudrate : BaudrateValues.at(FBaudrate);
}

void TQxComPort::SetBaudrateValue(int value) {
    if (value <= 0)
        return;
    const auto inTable = std::find(BaudrateValues.begin(), BaudrateValues.end(), value);
    if (inTable != BaudrateValues.end()) {
        SetBaudrate(static_cast<TBaudrate>(inTable - BaudrateValues.begin()));
        return;
    }
    if (value == FOtherBaudrate)
        return;
    FOtherBaudrate = value;
    ApplySettings();
}

int TQxComPort::ActualBaudrate() const {
    if (Open() && FDevice.LineSpeed() > 0)
        return FDevice.LineSpeed();
    return BaudrateValue();
}

void TQxComPort::SetDatabits(TDataBits value) {
    if (value == FDatabits)
        return;
    FDatabits = value;
    ApplySettings();
}

void TQxComPort::SetStopBits(TStopBits value) {
    if (value == FStopBits)
        return;
    FStopBits = value;
    ApplySettings();
}

void TQxComPort::SetFlowControl(TFlowControl value) {
    if (value == FFlowControl)
        return;
    FFlowControl = value;
    ApplySettings();
}

void TQxComPort::SetParity(TParity value) {
    if (value == FParity)
        return;
    FParity = value;
    ApplySettings();
}

quint32 TQxComPort::RxBufferCount() {
    if (!Open())
        return 0;
    FDevice.ClearErrors();
    return quint32(FReceived.Count());
}

quint32 TQxComPort::TxBufferFree() {
    if (!Open())
        return 0;
    FDevice.ClearErrors();
    return FTxQueueSize - std::min(FTxQueueSize, quint32(FDevice.OutputQueueCount()));
}

bool TQxComPort::OpenPort(bool silent) {
    ++FRequests;
    if (Open())
        return true;
    // DTR and RTS start as the settings say at each open by the user; a
    // reconnect keeps what the line control made of them.
    FDTR = OutputLineHighAtOpen("DTR");
    FRTS = OutputLineHighAtOpen("RTS");
    QString reason;
    if (OpenDevice(reason)) {
        if (FDisconnected.load())
            EndDisconnection();
        return true;
    }
    if (!silent)
        ShowOpenWarning(reason);
    return false;
}

bool TQxComPort::OpenDevice(QString& reason) {
    const QString path = SerialDevicePath(FComPort);
    FOpenPath = path;
    if (FDevice.Open(path) && StartDevice())
        return true;
    // A network port's reason (name not found, refused, timed out) is its own.
    reason = TNetworkLink::IsNetworkUrl(path) ? FDevice.ErrorText()
                                              : DescribeOpenFailure(path, FDevice.Error());
    FDevice.Close();
    return false;
}

bool TQxComPort::StartDevice() {
    if (!ApplySettings() || !FDevice.SetEventMask(WantedEvents()))
        return false;
    FTxQueueSize = quint32(FDevice.TransmitQueueSize());
    FReceived.Restart();
    FTask->Resume();
    return true;
}

void TQxComPort::CloseDevice(bool forgetReceived) {
    // What waits to be sent belonged to this connection.
    if (TThread::IsMainThread())
        FWriter->Clear();
    FTask->Pause();
    FDevice.SetEventMask(0);
    FDevice.Close();
    FReceived.End();
    if (forgetReceived)
        FReceived.Clear();
}

void TQxComPort::NoteHangUp(quint64 session) {
    QMetaObject::invokeMethod(
        FMainThreadContext.get(), [this, session] { ConnectionLost(session); },
        Qt::QueuedConnection);
}

// A held descriptor would make the kernel give the returning adapter
// another name: the device is closed at once.
void TQxComPort::ConnectionLost(quint64 session) {
    if (session != FDevice.Session() || !Open())
        return;
    // What came before the device went away is still handed over.
    DeliverReceived();
    // Marked before the close, so that a writer on another thread (the
    // download) that finds the device closed knows why.
    const bool requested = FRequests > 0;
    FDisconnected.store(requested);
    CloseDevice(false);
    if (!requested)
        return;
    if (SerialReconnectEnabled())
        FDeviceWatch->Watch(SerialDevicePath(FComPort));
    RaiseConnectionChanged(false);
}

void TQxComPort::TryReconnect() {
    if (!FDisconnected.load() || FRequests == 0) {
        FDeviceWatch->Stop();
        return;
    }
    const QString path = SerialDevicePath(FComPort);
    if (TNetworkLink::IsNetworkUrl(path)) {
        ReconnectInBackground(path);
        return;
    }
    QString reason;
    if (OpenDevice(reason))
        EndDisconnection();
}

// A connect may take seconds (an unanswering host): it runs on a thread of
// its own, so that keys, paste and painting go on meanwhile; the watch's
// retries wait for it. The connection is taken on the main thread, unless
// the port was closed, opened or moved meanwhile.
void TQxComPort::ReconnectInBackground(const QString& path) {
    if (FReconnecting)
        return;
    FReconnecting = true;
    std::thread([this, path, shared = FReconnectContext] {
        auto link =
            std::make_shared<std::unique_ptr<TNetworkLink>>(std::make_unique<TNetworkLink>());
        const bool connected = (*link)->Connect(path);
        std::lock_guard guard(shared->Lock);
        if (!shared->Context)
            return;
        QMetaObject::invokeMethod(
            shared->Context,
            [this, path, link, connected] {
                FReconnecting = false;
                if (connected)
                    AdoptReconnection(path, std::move(*link));
            },
            Qt::QueuedConnection);
    }).detach();
}

void TQxComPort::AdoptReconnection(const QString& path, std::unique_ptr<TNetworkLink> link) {
    if (!FDisconnected.load() || FRequests == 0 || Open() || SerialDevicePath(FComPort) != path)
        return;
    FOpenPath = path;
    if (FDevice.OpenConnected(std::move(link)) && StartDevice()) {
        EndDisconnection();
        return;
    }
    FDevice.Close();
}

void TQxComPort::EndDisconnection() {
    FDisconnected.store(false);
    QMetaObject::invokeMethod(
        FMainThreadContext.get(), [this] { FDeviceWatch->Stop(); }, Qt::AutoConnection);
    RaiseConnectionChanged(true);
}

void TQxComPort::RaiseConnectionChanged(bool connected) {
    // The download opens its request from a thread of its own.
    QMetaObject::invokeMethod(
        FMainThreadContext.get(),
        [this, connected] {
            if (OnConnectionChanged)
                OnConnectionChanged(connected);
        },
        TThread::IsMainThread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

quint32 TQxComPort::WantedEvents() const {
    quint32 wanted = EV_RXCHAR;
    if (OnTransmit)
        wanted |= EV_TXEMPTY;
    if (OnCTSChanged)
        wanted |= EV_CTS;
    if (OnDSRChanged)
        wanted |= EV_DSR;
    if (OnError)
        wanted |= EV_ERR;
    wanted &= PortEventMask;
    if (OnModemLinesChanged)
        wanted |= EV_MODEMLINES;
    return wanted;
}

std::chrono::nanoseconds TQxComPort::LongestReadGap() const {
    return std::chrono::nanoseconds(FTask->LongestReadGapNs.load());
}

void TQxComPort::ResetReadGap() {
    FTask->LongestReadGapNs.store(0);
    FTask->ReadGapReset.store(true);
}

void TQxComPort::HandlersChanged() {
    if (Open())
        FDevice.SetEventMask(WantedEvents());
}

void TQxComPort::ShowOpenWarning(const QString& reason) {
    const auto show = [this, &reason] {
        Interaction().Warning(DialogParent, QString::fromLatin1(OpenWarningText), reason);
    };
    if (TThread::IsMainThread()) {
        show();
    } else if (QCoreApplication* application = QCoreApplication::instance()) {
        // A message box belongs to the main thread (the download opens its
        // request from its own thread).
        QMetaObject::invokeMethod(application, show, Qt::BlockingQueuedConnection);
    }
}

bool TQxComPort::ClosePort() {
    if (FRequests > 0)
        --FRequests;
    if (FRequests != 0)
        return false;
    if (Open())
        CloseDevice(true);
    if (FDisconnected.exchange(false))
        QMetaObject::invokeMethod(
            FMainThreadContext.get(), [this] { FDeviceWatch->Stop(); }, Qt::AutoConnection);
    return true;
}

bool TQxComPort::ApplySettings() {
    if (!Open())
        return false;
    if (!FDevice.SetQueueSizes(PortQueueSize, PortQueueSize))
        return false;
    const TLineSettings line{
        BaudrateValue(), DataBitsCount(FDatabits), int(FStopBits), int(FParity), FDTR, FRTS,
        int(FFlowControl)};
    if (!FDevice.SetLineSettings(line))
        return false;
    return FDevice.SetTimeouts(FTimeouts);
}

bool TQxComPort::WriteString(const QByteArray& s) {
    for (qsizetype done = 0; done < s.size();) {
        const auto piece = quint16(std::min(s.size() - done, MaxWritePiece));
        if (WriteBuffer(s.constData() + done, piece) != piece)
            return false;
        done += piece;
    }
    return true;
}

bool TQxComPort::Send(const QByteArray& bytes, TLineUser who) {
    if (!Open() || Disconnected())
        return false;
    const TLineUser owner = LineOwner();
    if (owner != TLineUser::Keys && (who == TLineUser::Keys || who == TLineUser::Answers))
        return false;
    return FWriter->Send(bytes);
}

qsizetype TQxComPort::PendingOutput() const {
    return FWriter->Pending();
}

void TQxComPort::DiscardOutput() {
    FWriter->Clear();
}

int TQxComPort::WriteQueued(const char* data, int count) {
    if (!Open())
        return -1;
    const int taken = FDevice.WriteSome(data, count, 0);
    if (taken < 0 && FDevice.HungUp())
        NoteHangUp(FDevice.Session());
    return taken;
}

bool TQxComPort::ClaimLine(TLineUser owner, std::function<void()> cancel) {
    if (owner != TLineUser::Download && owner != TLineUser::Transfer)
        return false;
    TLineUser expected = TLineUser::Keys;
    if (!FLineOwner.compare_exchange_strong(expected, owner))
        return false;
    FCancelOwner = std::move(cancel);
    return true;
}

void TQxComPort::ReleaseLine() {
    const bool transfer = FLineOwner.exchange(TLineUser::Keys) == TLineUser::Transfer;
    FCancelOwner = nullptr;
    // What came after the transfer's last read belongs to the terminal again.
    if (transfer && FReceived.Count() > 0)
        QMetaObject::invokeMethod(
            FMainThreadContext.get(), [this] { ReceiveNotice(); }, Qt::QueuedConnection);
}

int TQxComPort::ReadFromWorker(char* buffer, int count, int timeoutMs) {
    if (FReceived.Count() == 0 && (!Open() || FDevice.HungUp() || FReceived.Ended()))
        return -1;
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutConstant = quint32(std::max(timeoutMs, 1));
    return int(FReceived.Read(buffer, std::size_t(std::max(count, 0)), timeouts));
}

bool TQxComPort::CancelLineOwner() {
    if (LineOwner() == TLineUser::Keys)
        return false;
    if (FCancelOwner)
        FCancelOwner();
    return true;
}

int TQxComPort::WriteBuffer(const void* buffer, quint16 count) {
    if (!Open())
        return 0;
    FDevice.ClearErrors();
    const int written = FDevice.Write(static_cast<const char*>(buffer), count);
    if (FDevice.HungUp())
        NoteHangUp(FDevice.Session());
    return written;
}

int TQxComPort::ReadBuffer(void* buffer, quint16 count) {
    if (!Open())
        return 0;
    return int(FReceived.Read(static_cast<char*>(buffer), count, FReadTimeouts));
}

bool TQxComPort::WaitForSequence(const QByteArray& sequence, int timeout) {
    if (!Open())
        return false;
    BeginSequenceWait();
    QByteArray window;
    const bool matched = ScanSequence(sequence, window, timeout);
    EndSequenceWait();
    return matched;
}

// The bytes read during the wait are not announced, nor are other events
// raised meanwhile; the monitor goes on filling the queue.
void TQxComPort::BeginSequenceWait() {
    HoldEvents();
    FReadTimeouts = WaitTimeouts;
}

bool TQxComPort::ScanSequence(const QByteArray& sequence, QByteArray& window, int sliceMs) {
    const qint64 start = TickCount();
    // A line that went away delivers nothing more; waiting out the time
    // would only spin.
    const auto exhausted = [this] {
        return (!Open() || FDevice.HungUp()) && FReceived.Count() == 0;
    };
    while (TickCount() < start + sliceMs && !exhausted()) {
        char ch = 0;
        if (ReadBuffer(&ch, 1) != 1)
            continue;
        DoScan(ch);
        window.append(ch);
        if (window.size() > sequence.size())
            window.remove(0, 1);
        if (window == sequence)
            return true;
    }
    return false;
}

void TQxComPort::EndSequenceWait() {
    FReadTimeouts = FTimeouts;
    ReleaseEvents();
}

TQxComPort::TWriteOutcome TQxComPort::WriteFromWorker(const QByteArray& bytes,
                                                      const std::function<bool()>& cancelled,
                                                      int stallMs) {
    constexpr int CancelCheckMs = 100;
    if (const TWriteOutcome queued = AwaitQueuedOutput(cancelled, stallMs);
        queued != TWriteOutcome::Written)
        return queued;
    qsizetype done = 0;
    qint64 lastProgress = TickCount();
    while (done < bytes.size()) {
        if (cancelled())
            return TWriteOutcome::Cancelled;
        const int piece = int(std::min<qsizetype>(bytes.size() - done, MaxWritePiece));
        const int taken = FDevice.WriteSome(bytes.constData() + done, piece, CancelCheckMs);
        if (taken < 0) {
            if (FDevice.HungUp())
                NoteHangUp(FDevice.Session());
            return TWriteOutcome::Failed;
        }
        if (taken > 0) {
            done += taken;
            lastProgress = TickCount();
        } else if (TickCount() - lastProgress >= stallMs) {
            return TWriteOutcome::Stalled;
        }
    }
    return TWriteOutcome::Written;
}

TQxComPort::TWriteOutcome TQxComPort::AwaitQueuedOutput(const std::function<bool()>& cancelled,
                                                        int stallMs) {
    constexpr auto Poll = std::chrono::milliseconds(10);
    qsizetype before = PendingOutput();
    qint64 lastProgress = TickCount();
    while (before > 0) {
        if (cancelled())
            return TWriteOutcome::Cancelled;
        if (!Open() || FDevice.HungUp())
            return TWriteOutcome::Failed;
        std::this_thread::sleep_for(Poll);
        const qsizetype now = PendingOutput();
        if (now < before)
            lastProgress = TickCount();
        else if (TickCount() - lastProgress >= stallMs)
            return TWriteOutcome::Stalled;
        before = now;
    }
    return TWriteOutcome::Written;
}

void TQxComPort::HoldEvents() {
    ++FHoldCount;
}

void TQxComPort::ReleaseEvents() {
    if (--FHoldCount > 0)
        return;
    const quint32 held = std::exchange(FHeldEvents, 0);
    const bool owed = std::exchange(FNoticeOwed, false);
    // Raised from the event loop, as the monitor would have: the caller may
    // be a handler itself.
    QMetaObject::invokeMethod(
        FMainThreadContext.get(),
        [this, held, owed, session = FDevice.Session()] {
            if (owed || FReceived.Count() > 0)
                DeliverReceived();
            if (held != 0)
                DeliverLineEvents(held, session);
        },
        Qt::QueuedConnection);
}

void TQxComPort::NoteReceived() {
    if (!FNoticePending.exchange(true))
        QMetaObject::invokeMethod(
            FMainThreadContext.get(), [this] { ReceiveNotice(); }, Qt::QueuedConnection);
}

// Until the bytes are delivered the notice stays pending, so the monitor
// posts no further one meanwhile (one wake-up of the main thread per frame).
void TQxComPort::ReceiveNotice() {
    if (FHoldCount > 0) {
        FNoticeOwed = true;
        return;
    }
    if (FFrameTimer->isActive())
        return;
    const auto since = std::chrono::steady_clock::now() - FLastDelivery;
    if (since >= ReceiveFrame) {
        DeliverReceived();
        return;
    }
    FFrameTimer->start(std::chrono::ceil<std::chrono::milliseconds>(ReceiveFrame - since));
}

void TQxComPort::DeliverReceived() {
    FFrameTimer->stop();
    // A file transfer reads the bytes itself (ReadFromWorker).
    if (FLineOwner.load() == TLineUser::Transfer)
        return;
    // A handler that runs the event loop must not get bytes inside itself.
    if (FHoldCount > 0 || FDelivering) {
        FNoticeOwed = FNoticeOwed || FHoldCount > 0;
        if (FDelivering)
            FDeliverAgain = true;
        return;
    }
    FDelivering = true;
    // Bytes committed from here on bring a new notice.
    FNoticePending.store(false);
    // Only what waits now: bytes that keep coming wait for the next frame,
    // so a flood never keeps the main thread from painting.
    const quint64 end = FReceived.Taken() + FReceived.Count();
    if (FReceived.Taken() < end)
        FLastDelivery = std::chrono::steady_clock::now();
    while (FReceived.Taken() < end) {
        const quint64 before = FReceived.Taken();
        DoReceive();
        // A handler that took nothing leaves the bytes for the next notice.
        if (FReceived.Taken() == before)
            break;
    }
    FDelivering = false;
    if (std::exchange(FDeliverAgain, false))
        QMetaObject::invokeMethod(
            FMainThreadContext.get(), [this] { ReceiveNotice(); }, Qt::QueuedConnection);
}

void TQxComPort::DeliverLineEvents(quint32 eventMask, quint64 session) {
    if (session != FDevice.Session())
        return;
    if (FHoldCount > 0) {
        FHeldEvents |= eventMask;
        return;
    }
    if (FReceived.Count() > 0)
        DeliverReceived();
    DispatchCommEvent(eventMask & ~EV_RXCHAR);
    if (eventMask & EV_MODEMLINES)
        DoModemLinesChanged();
}

void TQxComPort::DispatchCommEvent(quint32 eventMask) {
    if (eventMask & EV_RXCHAR)
        DoReceive();
    else if (eventMask & EV_TXEMPTY)
        DoTransmit();
    else if (eventMask & EV_ERR)
        DoError();
    else if (eventMask & EV_CTS)
        DoCTSChanged();
    else if (eventMask & EV_DSR)
        DoDSRChanged();
}

void TQxComPort::DoReceive() {
    FDevice.ClearErrors();
    const auto count = quint16(std::min<std::size_t>(FReceived.Count(), 0xFFFF));
    if (OnReceive)
        OnReceive(count);
}

void TQxComPort::DoTransmit() {
    if (OnTransmit)
        OnTransmit();
}

void TQxComPort::DoScan(char& ch) {
    if (OnScan)
        OnScan(ch);
}

void TQxComPort::DoCTSChanged() {
    if (OnCTSChanged)
        OnCTSChanged();
}

void TQxComPort::DoDSRChanged() {
    if (OnDSRChanged)
        OnDSRChanged();
}

void TQxComPort::DoError() {
    FDevice.ClearErrors();
    if (OnError)
        OnError();
}

void TQxComPort::DoModemLinesChanged() {
    if (OnModemLinesChanged)
        OnModemLinesChanged();
}

namespace {

std::unique_ptr<TQxComPort>& SerialPortInstance() {
    static std::unique_ptr<TQxComPort> instance;
    return instance;
}

} // namespace

TQxComPort& SerialPort() {
    std::unique_ptr<TQxComPort>& instance = SerialPortInstance();
    if (!instance)
        instance = std::make_unique<TQxComPort>();
    return *instance;
}

void DestroySerialPort() {
    SerialPortInstance().reset();
}
