#include "download/TQxLoadTask.h"

#include "platform/MacroText.h"
#include "platform/TickCount.h"
#include "serial/TQxComPort.h"

#include <QObject>
#include <QThread>

#include <algorithm>
#include <utility>

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

const QString TQxLoadTask::LineBusyText = QStringLiteral(
    "      Line busy - download canceled!\n\rA transfer is using the serial interface.");

namespace {

// How long the main thread reads for the handshake before it handles its
// events again.
constexpr int ScanSliceMs = 20;

} // namespace

TQxLoadTask::TQxLoadTask(TQxComPort& port, const QString& fileName)
    : TQxLoadTask(port, TDownloadLines::FromFile(fileName)) {}

TQxLoadTask::TQxLoadTask(TQxComPort& port, TDownloadLines lines)
    : FPort(port), FLines(std::move(lines)), FReportContext(std::make_unique<QObject>()) {
    FreeOnTerminate = true;
}

TQxLoadTask::~TQxLoadTask() = default;

void TQxLoadTask::Execute() {
    FLineCount = FLines.Count();
    FLineIndex = 0;
    if (!FLines.Error().isEmpty()) {
        ErrorText = FLines.Error();
        return;
    }
    // The port shows its own warning when it cannot be opened; the request
    // is balanced in every case.
    if (FPort.OpenPort(false)) {
        OnMainThread([this] {
            FLineClaimed = FPort.ClaimLine(TLineUser::Download, [this] { Terminate(); });
        });
        if (FLineClaimed)
            TransferLines();
        else if (!Terminated())
            ErrorText = LineBusyText;
    }
    FPort.ClosePort();
}

void TQxLoadTask::DoTerminate() {
    if (std::exchange(FLineClaimed, false))
        FPort.ReleaseLine();
    TThread::DoTerminate();
}

void TQxLoadTask::TransferLines() {
    try {
        while (FLineCount > FLineIndex && !Terminated()) {
            QString failure = TransferLine(FLineIndex == FLineCount - 1);
            // A device that went away takes no more lines, whatever the mode.
            if (failure.isEmpty() && FPort.Disconnected())
                failure = ConnectionLostText;
            if (!failure.isEmpty()) {
                Abort(failure);
                return;
            }
            ++FLineIndex;
            PostProgress();
        }
        if (FReportFailed.load())
            Abort(NoResponseText);
    } catch (...) {
        // An error raised on the main thread while a line was sent or
        // reported ends the download with the one message the user knows.
        Abort(NoResponseText);
    }
}

void TQxLoadTask::Abort(const QString& text) {
    ErrorText = FPort.Disconnected() ? ConnectionLostText : text;
}

QString TQxLoadTask::TransferLine(bool isLastLine) {
    int tries = 0;
    bool done = false;
    do {
        if (const QString failure = SendLine(); !failure.isEmpty())
            return failure;
        done = FAcknowledged || isLastLine;
        if (!done && ++tries > 1)
            return NoResponseText;
        if (Terminated())
            done = true;
    } while (!done);
    return QString();
}

bool TQxLoadTask::OnMainThread(const std::function<void()>& call) {
    if (Synchronize(call))
        return true;
    Terminate();
    return false;
}

// One blocking main-thread call per line cost about a third of the
// download's speed to a fast reader: the reports go without waiting, in
// order, and the blocking call is kept only as the brake on a main thread
// that falls behind (it returns once every report before it was raised).
void TQxLoadTask::PostProgress() {
    const int position = FLineIndex.load();
    const auto report = [this, position] {
        --FReportsAhead;
        try {
            ReportProgress(position);
        } catch (...) {
            // Ends the download as an error of a blocking call would.
            FReportFailed.store(true);
            Terminate();
        }
    };
    if (FReportsAhead.load() >= MaxReportsAhead) {
        ++FReportsAhead;
        OnMainThread(report);
        return;
    }
    ++FReportsAhead;
    QMetaObject::invokeMethod(FReportContext.get(), report, Qt::QueuedConnection);
}

QString TQxLoadTask::SendLine() {
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
        return QString();
    case TQxComPort::TWriteOutcome::Stalled:
        return WriteStalledText;
    case TQxComPort::TWriteOutcome::Failed:
        return WriteFailedText;
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
    return QString();
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

void TQxLoadTask::ReportProgress(int position) {
    if (OnProgress)
        OnProgress(*this, FLineCount, position);
}
