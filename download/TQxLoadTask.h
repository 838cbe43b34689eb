#pragma once

#include "download/TDownloadLines.h"
#include "platform/TThread.h"
#include "settings/TTransferSync.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QObject;
class TQxComPort;

// Sends a text file to the target line by line, each line followed by CR LF,
// with one of three line synchronisations: none, a 50 ms pause after each
// line, or a wait for the handshake sequence after each line.
//
// The thread opens and closes its own request on the port, walks through the
// lines, repeats or aborts, and reports. It writes each line itself and
// sleeps the pause itself, so that the main thread goes on painting, reading
// what the target sends back and answering Cancel; the wait for the answer
// runs on the main thread in short slices (the port's reads and its OnScan
// belong there), with the events handled between them. A line that got no
// answer is sent once more; a second failure ends the download with
// ErrorText. The last line never fails. The task owns the line
// (TLineUser::Download) from its start until it has ended, so keys and
// answers wait meanwhile; a quit cancels it through the port
// (CancelLineOwner). Terminate() cancels, also in the
// middle of a long line or a wait: the line in progress counts as done. A
// write that fails (the device went away) or makes no progress for
// StallTimeoutMs ends the download with its own ErrorText in every mode.
//
// Failures in the download layer travel as the message to show: the
// reader's Error, TDownloadLines::Error() and this task's ErrorText, empty
// when all went well; the dialog shows them through TInteraction. No
// exception is used for a failure; only what a main-thread call threw, or
// an allocation that failed, is caught at the top of a thread's run.
//
// Use: create (the file is read at once), set OnProgress and OnTerminate,
// SetSyncSettings, Resume. The task frees itself after OnTerminate returned.
class TQxLoadTask : public TThread {
public:
    static constexpr int DelayMs = 50;
    static constexpr int AcknowledgeTimeoutMs = 1000;
    static constexpr int StallTimeoutMs = 5000;
    static constexpr int MaxReportsAhead = 256;
    static const QString NoResponseText;
    static const QString WriteFailedText;
    static const QString WriteStalledText;
    // The port's device went away (an adapter pulled) during the download.
    static const QString ConnectionLostText;
    // Another owner (a transfer) holds the line.
    static const QString LineBusyText;

    // Reads FileName; a file that cannot be read ends the run at once, with
    // the reason as ErrorText and the port untouched.
    TQxLoadTask(TQxComPort& port, const QString& fileName);
    // Sends Lines, read before (TDownloadReader).
    TQxLoadTask(TQxComPort& port, TDownloadLines lines);
    ~TQxLoadTask() override;

    void SetSyncSettings(const TTransferSync& sync) { FSync = sync; }

    // Raised on the main thread after each line, in order: Max = number of
    // lines, Position = lines done. The task does not wait for it (up to
    // MaxReportsAhead reports may be on their way), so a busy main thread
    // does not slow the line down; all have been raised before OnTerminate.
    std::function<void(TQxLoadTask& sender, int max, int position)> OnProgress;

    // Empty, or the message to show because the download failed; read it in
    // the OnTerminate handler.
    QString ErrorText;

    int LineCount() const { return FLineCount; }
    // Lines done, which is also the index of the line being sent.
    int LineIndex() const { return FLineIndex.load(); }
    const TDownloadLines& Lines() const { return FLines; }

protected:
    void Execute() override;
    // Task thread: writes the current line with CR LF and synchronises.
    // Empty, or the message when the line could not be written.
    virtual QString SendLine();
    // Main thread: raises OnProgress for Position lines done.
    virtual void ReportProgress(int position);
    // Main thread: gives the line back, then raises OnTerminate.
    void DoTerminate() override;

private:
    void TransferLines();
    // Sends the current line until it is acknowledged, once more at most;
    // empty, or the message that ends the download (both attempts failed,
    // or a write failed).
    QString TransferLine(bool isLastLine);
    // Ends the download with Text, or with ConnectionLostText when the
    // device went away meanwhile.
    void Abort(const QString& text);
    // Runs Call on the main thread. False when the application no longer
    // serves such calls (it is shutting down); the run is then ended.
    bool OnMainThread(const std::function<void()>& call);
    // Hands the progress after the current line to the main thread without
    // waiting for it, unless MaxReportsAhead are still on their way.
    void PostProgress();
    // Waits up to AcknowledgeTimeoutMs for the handshake sequence.
    bool WaitForAcknowledge();

    TQxComPort& FPort;
    TDownloadLines FLines;
    TTransferSync FSync;
    int FLineCount = 0;
    std::atomic<int> FLineIndex{0};
    bool FAcknowledged = false;
    bool FLineClaimed = false;
    // Receives the posted reports; going with the task, it takes any report
    // not yet raised with it.
    std::unique_ptr<QObject> FReportContext;
    std::atomic<int> FReportsAhead{0};
    std::atomic<bool> FReportFailed{false};
};
