#include "download/TQxLoadTask.h"

#include "platform/MacroText.h"
#include "serial/QxComPort.h"

#include <QThread>

namespace {

enum TSyncMode : int { smNone = 0, smDelayed = 1, smAcknowledged = 2 };

} // namespace

const QString TQxLoadTask::NoResponseText = QStringLiteral(
    "      No response - download canceled!\n\rPlease check the settings for the serial "
    "interface\n\r   and make sure the target is in receive mode.");

const QString TQxLoadTask::ConnectionLostText = QStringLiteral(
    "   Connection lost - download canceled!\n\rThe serial device went away (unplugged?).");

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
        if (!OnMainThread([this] { SendLine(); }))
            return true;
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
    FPort.WriteString(text);
    FAcknowledged = true;
    switch (FSync.Mode) {
    case smDelayed:
        QThread::msleep(DelayMs);
        break;
    case smAcknowledged:
        FAcknowledged = FPort.WaitForSequence(DecodeMacro(FSync.Sequence), AcknowledgeTimeoutMs);
        break;
    default:
        break;
    }
}

void TQxLoadTask::ReportProgress() {
    if (OnProgress)
        OnProgress(*this, FLineCount, FLineIndex);
}
