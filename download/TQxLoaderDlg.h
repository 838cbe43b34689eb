#pragma once

#include "settings/TTransferSync.h"

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class TDownloadLines;
class TDownloadReader;
class TQxComPort;
class TQxLoadTask;

// The download dialog: the user picks a file, starts the download, follows
// its progress and may cancel it. The last file is remembered in the settings
// file (section "Transfer", key "LastFile").
//
// Idle: Download reads the file off the main thread (TDownloadReader), then
// starts a task (TQxLoadTask) with its lines; Cancel, Escape and the close
// box close the dialog. Busy (reading or sending): Download is disabled,
// Cancel and Escape cancel, closing is refused. When the task ends the dialog
// closes by itself, unless the task failed: then its message is shown and
// the dialog is idle again. A file that cannot be read, or is no text file,
// is named with the reason and leaves the dialog idle.
class TQxLoaderDlg : public QDialog {
    Q_OBJECT

public:
    static const QString MissingFileText;
    static const QString NoFileName;

    explicit TQxLoaderDlg(QWidget* owner = nullptr);
    // A task still running is cancelled and no longer reports here.
    ~TQxLoaderDlg() override;

    // The port the download sends on (not owned); the program's port if none.
    TQxComPort* ComPort() const { return FComPort; }
    void SetComPort(TQxComPort* port) { FComPort = port; }
    // The file name, kept as given (file names are case-sensitive) and shown
    // in the edit.
    const QString& Filename() const { return FFilename; }
    void SetFilename(const QString& name);
    void SetSyncSettings(const TTransferSync& sync) { FSync = sync; }
    bool Busy() const { return FBusy; }

    void OpenBtnClick();
    void LoadBtnClick();
    void CancelBtnClick();
    // Whether the dialog may close now: not while a download runs.
    bool FormCloseQuery() const { return !FBusy; }
    // Writes the file name to "LastFile"; false (with the message shown) when
    // the settings file cannot be written. A settings file that could not be
    // read is left alone without a word (the start named it).
    bool SaveLastFile();

    void done(int result) override;

    QPushButton* LoadBtn;
    QPushButton* CancelBtn;
    QFrame* Panel1;
    QLabel* Label1;
    QLineEdit* HexFileEdit;
    QToolButton* SpeedButton1;
    QLabel* MsgLabel;
    QProgressBar* ProgressBar;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void FormCreate();
    void StartReading();
    void ReadingDone(TDownloadReader& reader);
    void StartTask(TDownloadLines lines);
    void TaskProgress(int max, int position);
    void TaskDone(TQxLoadTask& task);

    TQxLoadTask* FTask = nullptr;
    TDownloadReader* FReader = nullptr;
    // Cancel was pressed while the file was read.
    bool FReadCancelled = false;
    TQxComPort* FComPort = nullptr;
    TTransferSync FSync;
    QString FFilename;
    bool FBusy = false;
    bool FPlaced = false;
};

// The Download command of the main window: shows the dialog modally for Port
// with the line synchronisation Sync, and frees it when it closes.
void RunDownloadDialog(QWidget* owner, TQxComPort& port, const TTransferSync& sync);
