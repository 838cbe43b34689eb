#include "transfer/TTransferProgressDlg.h"

#include "transfer/TTransferRun.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int RefreshMs = 200;
// The rate is not shown before this much of a file went by.
constexpr qint64 RateAfterMs = 500;

QString ByteCount(qint64 bytes) {
    return QLocale().toString(bytes);
}

QString Duration(qint64 seconds) {
    return seconds >= 3600 ? QStringLiteral("%1:%2:%3")
                                 .arg(seconds / 3600)
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("%1:%2")
                                 .arg(seconds / 60)
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

TTransferProgressDlg::TTransferProgressDlg(QWidget* owner, TTransferRun& run, const QString& title)
    : QDialog(owner), FRun(run), FTimer(new QTimer(this)) {
    setWindowTitle(title);
    BuildControls();
    FTimer->callOnTimeout(this, &TTransferProgressDlg::ShowProgress);
}

void TTransferProgressDlg::BuildControls() {
    FileLabel = new QLabel(this);
    BytesLabel = new QLabel(this);
    RateLabel = new QLabel(this);
    TimeLeftLabel = new QLabel(this);
    RetriesLabel = new QLabel(this);
    Bar = new QProgressBar(this);
    Bar->setRange(0, 0);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setAccessibleName(QStringLiteral("Cancel"));
    connect(CancelBtn, &QPushButton::clicked, this, &TTransferProgressDlg::CancelBtnClick);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File:"), FileLabel);
    form->addRow(QStringLiteral("Transferred:"), BytesLabel);
    form->addRow(QStringLiteral("Rate:"), RateLabel);
    form->addRow(QStringLiteral("Time left:"), TimeLeftLabel);
    form->addRow(QStringLiteral("Retries:"), RetriesLabel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Bar);
    layout->addWidget(CancelBtn, 0, Qt::AlignRight);
    setMinimumWidth(380);
}

TTransferResult TTransferProgressDlg::Exec() {
    FRun.OnFinished = [this](const TTransferResult& result) {
        FResult = result;
        FEnded = true;
        FTimer->stop();
        accept();
    };
    FFileClock.start();
    ShowProgress();
    FTimer->start(RefreshMs);
    if (!FEnded)
        exec();
    // The loop was ended from outside (the program quits) before the run.
    if (!FEnded) {
        FResult.Error = TTransferError::Cancelled;
        FResult.Text = QStringLiteral("The program ended during the transfer");
        FRun.OnFinished = nullptr;
    }
    return FResult;
}

void TTransferProgressDlg::ShowProgress() {
    const TTransferProgress progress = FRun.Progress();
    if (progress.FileIndex != FFileIndex) {
        FFileIndex = progress.FileIndex;
        FFileClock.restart();
    }
    QString file =
        progress.File.isEmpty() ? QStringLiteral("(waiting for the other side)") : progress.File;
    if (progress.FileCount > 1)
        file += QStringLiteral(" (%1 of %2)").arg(progress.FileIndex + 1).arg(progress.FileCount);
    FileLabel->setText(file);
    QString bytes = ByteCount(progress.Bytes);
    if (progress.Total >= 0)
        bytes += QStringLiteral(" of ") + ByteCount(progress.Total);
    BytesLabel->setText(QStringLiteral("%1 bytes, %2 blocks").arg(bytes).arg(progress.Blocks));
    RetriesLabel->setText(QString::number(progress.Retries));
    const qint64 elapsedMs = FFileClock.elapsed();
    const double rate = elapsedMs >= RateAfterMs ? progress.Bytes * 1000.0 / elapsedMs : 0;
    RateLabel->setText(rate > 0 ? QStringLiteral("%1 bytes/s").arg(ByteCount(qint64(rate)))
                                : QStringLiteral("-"));
    if (progress.Total > 0) {
        Bar->setRange(0, 1000);
        Bar->setValue(int(qMin<qint64>(1000, progress.Bytes * 1000 / progress.Total)));
    }
    TimeLeftLabel->setText(rate > 0 && progress.Total >= progress.Bytes
                               ? Duration(qint64((progress.Total - progress.Bytes) / rate))
                               : QStringLiteral("-"));
}

void TTransferProgressDlg::CancelBtnClick() {
    FRun.Cancel();
    CancelBtn->setEnabled(false);
    CancelBtn->setText(QStringLiteral("Cancelling..."));
}

// Escape cancels the transfer; the dialog stays until it has ended.
void TTransferProgressDlg::reject() {
    if (FEnded) {
        QDialog::reject();
        return;
    }
    CancelBtnClick();
}

void TTransferProgressDlg::closeEvent(QCloseEvent* event) {
    if (FEnded) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    CancelBtnClick();
}
