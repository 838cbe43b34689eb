#pragma once

#include "transfer/TransferTypes.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TTransferRun;

// Follows a running transfer: the file, bytes and blocks, the rate, the
// time left and the retries, read from the run a few times a second. Cancel
// (also Escape and the close box) asks the transfer to cancel; the dialog
// then waits for it to send the cancel sequence and let the line settle,
// and closes once the run has ended.
class TTransferProgressDlg : public QDialog {
    Q_OBJECT

public:
    TTransferProgressDlg(QWidget* owner, TTransferRun& run, const QString& title);

    // Shows the dialog until the run (started already) has ended; its result.
    TTransferResult Exec();

    QLabel* FileLabel;
    QLabel* BytesLabel;
    QLabel* RateLabel;
    QLabel* TimeLeftLabel;
    QLabel* RetriesLabel;
    QProgressBar* Bar;
    QPushButton* CancelBtn;

    void CancelBtnClick();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ShowProgress();

    TTransferRun& FRun;
    QTimer* FTimer;
    QElapsedTimer FFileClock;
    int FFileIndex = -1;
    TTransferResult FResult;
    bool FEnded = false;
};
