#include "serial/QxComPort.h"

#include "platform/Interaction.h"
#include "platform/OpenDiagnosis.h"
#include "platform/SerialDeviceMap.h"
#include "platform/TickCount.h"
#include "serial/QxComTask.h"

#include <QCoreApplication>

#include <algorithm>

#include <sys/ioctl.h>

namespace {

const char* const OpenWarningText =
    "Unable to open the selected serial interface!\n\r\n\r     Please check, if any other "
    "application\n\r             already uses this device.";

constexpr qsizetype MaxWritePiece = 65535;

} // namespace

TQxComPort::TQxComPort() : FTask(std::make_unique<TQxComTask>(*this)) {}

TQxComPort::~TQxComPort() {
    FRequests = 0;
    ClosePort();
    FTask->TerminateAndWait();
    FTask.reset();
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
    return quint32(FDevice.InputQueueCount());
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
    const QString path = SerialDevicePath(FComPort);
    FOpenPath = path;
    FDTR = OutputLineHighAtOpen("DTR");
    FRTS = OutputLineHighAtOpen("RTS");
    if (FDevice.Open(path) && ApplySettings() && FDevice.SetEventMask(PortEventMask)) {
        FTxQueueSize = quint32(FDevice.TransmitQueueSize());
        FTask->Resume();
        return true;
    }
    const QString reason = DescribeOpenFailure(path, FDevice.Error());
    FDevice.Close();
    if (!silent)
        ShowOpenWarning(reason);
    return false;
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
    if (Open()) {
        FTask->Pause();
        FDevice.SetEventMask(0);
        FDevice.Close();
    }
    return true;
}

bool TQxComPort::ApplySettings() {
    if (!Open())
        return false;
    if (!FDevice.SetQueueSizes(PortQueueSize, PortQueueSize))
        return false;
    const TLineSettings line{
        BaudrateValue(), int(FDatabits) + 4, int(FStopBits), int(FParity), FDTR, FRTS};
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

int TQxComPort::WriteBuffer(const void* buffer, quint16 count) {
    if (!Open())
        return 0;
    FDevice.ClearErrors();
    return FDevice.Write(static_cast<const char*>(buffer), count);
}

int TQxComPort::ReadBuffer(void* buffer, quint16 count) {
    if (!Open())
        return 0;
    return FDevice.Read(static_cast<char*>(buffer), count);
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

void TQxComPort::BeginSequenceWait() {
    // The monitor must neither take nor announce the bytes read here.
    FTask->Pause();
    FDevice.SetTimeouts(WaitTimeouts);
}

bool TQxComPort::ScanSequence(const QByteArray& sequence, QByteArray& window, int sliceMs) {
    if (!Open())
        return false;
    const qint64 start = TickCount();
    // A hung-up line delivers nothing more; waiting out the time would only spin.
    while (TickCount() < start + sliceMs && !FDevice.HungUp()) {
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
    FDevice.SetTimeouts(FTimeouts);
    FTask->Resume();
}

TQxComPort::TWriteOutcome TQxComPort::WriteFromWorker(const QByteArray& bytes,
                                                      const std::function<bool()>& cancelled,
                                                      int stallMs) {
    constexpr int CancelCheckMs = 100;
    qsizetype done = 0;
    qint64 lastProgress = TickCount();
    while (done < bytes.size()) {
        if (cancelled())
            return TWriteOutcome::Cancelled;
        const int piece = int(std::min<qsizetype>(bytes.size() - done, MaxWritePiece));
        const int taken = FDevice.WriteSome(bytes.constData() + done, piece, CancelCheckMs);
        if (taken < 0)
            return TWriteOutcome::Failed;
        if (taken > 0) {
            done += taken;
            lastProgress = TickCount();
        } else if (TickCount() - lastProgress >= stallMs) {
            return TWriteOutcome::Stalled;
        }
    }
    return TWriteOutcome::Written;
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
    const auto count = quint16(std::min(FDevice.InputQueueCount(), 0xFFFF));
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
