#include "download/TQxLoadTask.h"

#include "platform/MacroText.h"
#include "platform/TickCount.h"
#include "serial/TQxComPort.h"

#include <QThread>

#include <algorithm>

const QString TQxLoadTask::NoResponseText = QStringLiteral(
    "      No response - download canceled!\n\rPlease check the settings for the serial "
    "interface\n\r   and make sure the target is in receive mode.");

const QString TQxLoadTask::WriteFailedText = QStringLiteral(
    "      Write failed - download canceled!\n\rThe serial interface did not take the line:\n\r"
    "   the device is gone or refuses the data.");

const QString TQxLoadTask::WriteStalledText = QStringLiteral(
    "      Write failed - download canceled!\n\rThe serial interface took no data for 5 "
    "seconds:\n\r   the line is held or the target stopped reading.");

const QString TQxLoadTask::ConnectionLostText = QStringLiteral(
    "   Connection lost - download canceled!\n\rThe serial device went away (unplugged?).");

namespace {

// How long the main thread reads for the handshake before it handles its
// events again.
constexpr int ScanSliceMs = 20;

} // namespace

TQxLoadTask::TQxLoadTask(TQxComPort& port, const QString& fileName)
    : TQxLoadTask(port, TDownloadLines::FromFile(fileName)) {}

TQxLoadTask::TQxLoadTask(TQxComPort& port, TDownloadLines lines)
    : FPort(port), FLines(std::move(lines)) {
    FreeOnTerminate = true;
}

void TQxLoadTask::Execute() {
    FLineCount = FLines.Count();
    FLineIndex = 0;
    // The port shows its own warning when it cannot be opened; the request
    // is balanced in every case.
    if (FPort.OpenPort(false))
        TransferLines();
    FPort.ClosePort();
}

void TQxLoadTask::TransferLines() {
    try {
        while (FLineCount > FLineIndex && !Terminated()) {
            const bool isLastLine = FLineIndex == FLineCount - 1;
            // A device that went away takes no more lines, whatever the mode.
            if (!TransferLine(isLastLine) || FPort.Disconnected())
                throw ETransferAborted();
            ++FLineIndex;
            OnMainThread([this] { ReportProgress(); });
        }
    } catch (const EWriteFailed& failure) {
        ErrorText = FPort.Disconnected() ? ConnectionLostText : failure.Text;
    } catch (...) {
        // Whatever ended the loop, also an error raised on the main thread
        // while sending or reporting, the user sees the one message.
        ErrorText = FPort.Disconnected() ? ConnectionLostText : NoResponseText;
    }
}

bool TQxLoadTask::TransferLine(bool isLastLine) {
    int tries = 0;
    bool done = false;
    do {
        SendLine();
        done = FAcknowledged || isLastLine;
        if (!done && ++tries > 1)
            return false;
        if (Terminated())
            done = true;
    } while (!done);
    return true;
}

bool TQxLoadTask::OnMainThread(const std::function<void()>& call) {
    if (Synchronize(call))
        return true;
    Terminate();
    return false;
}

void TQxLoadTask::SendLine() {
    const QByteArrayView line = FLines.Line(FLineIndex);
    QByteArray text;
    text.reserve(line.size() + 2);
    text.append(line);
    text.append("\r\n", 2);
    FAcknowledged = true;
    switch (FPort.WriteFromWorker(
        text, [this] { return Terminated(); }, StallTimeoutMs)) {
    case TQxComPort::TWriteOutcome::Written:
        break;
    case TQxComPort::TWriteOutcome::Cancelled:
        return;
    case TQxComPort::TWriteOutcome::Stalled:
        throw EWriteFailed(WriteStalledText);
    case TQxComPort::TWriteOutcome::Failed:
        throw EWriteFailed(WriteFailedText);
    }
    switch (FSync.Mode) {
    case smDelayed:
        QThread::msleep(DelayMs);
        break;
    case smAcknowledged:
        FAcknowledged = WaitForAcknowledge();
        break;
    case smNone:
        break;
    }
}

// The port reads on the main thread, which handles its events between the
// slices; the port holds its events throughout, so no byte of the answer
// goes to OnReceive between two slices. A cancel ends the wait early.
bool TQxLoadTask::WaitForAcknowledge() {
    const QByteArray sequence = DecodeMacro(FSync.Sequence);
    if (!OnMainThread([this] { FPort.BeginSequenceWait(); }))
        return false;
    QByteArray window;
    bool matched = false;
    const qint64 deadline = TickCount() + AcknowledgeTimeoutMs;
    for (qint64 now = TickCount(); !matched && now < deadline && !Terminated() && !FPort.HungUp();
         now = TickCount()) {
        const int slice = int(std::min<qint64>(ScanSliceMs, deadline - now));
        if (!OnMainThread([&] { matched = FPort.ScanSequence(sequence, window, slice); }))
            return false;
    }
    OnMainThread([this] { FPort.EndSequenceWait(); });
    return matched;
}

void TQxLoadTask::ReportProgress() {
    if (OnProgress)
        OnProgress(*this, FLineCount, FLineIndex);
}
