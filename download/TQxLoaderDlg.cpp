#include "download/TQxLoaderDlg.h"

#include "download/TDownloadReader.h"
#include "download/TQxLoadTask.h"
#include "platform/AppLocation.h"
#include "platform/TAliveGuard.h"
#include "platform/TInteraction.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "settings/DialogPlacement.h"
#include "settings/TSettingsModel.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int ClientWidth = 351;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int OpenButtonWidth = 128;
constexpr int EditWidth = 322;
constexpr int ProgressBarHeight = 18;
constexpr int AllFilesFilter = 3;

// Linux file names are case-sensitive: each pattern is offered in both cases.
const QStringList DownloadFileFilters = {
    QStringLiteral("Motorola-S-Records (*.S19)|*.S19;*.s19"),
    QStringLiteral("Intel-Hex-File (*.HEX)|*.HEX;*.hex"),
    QStringLiteral("Text files (*.TXT)|*.TXT;*.txt"),
    QStringLiteral("All files (*.*)|*"),
};

// The directory part of Name, as an absolute path ending in '/' (the open
// dialog then starts there), or empty when Name has none.
QString DirectoryOf(const QString& name) {
    const qsizetype separator = name.lastIndexOf(QLatin1Char('/'));
    if (separator < 0)
        return {};
    const QString directory = separator == 0 ? QStringLiteral("/") : name.left(separator);
    QString absolute = QFileInfo(directory).absoluteFilePath();
    if (!absolute.endsWith(QLatin1Char('/')))
        absolute += QLatin1Char('/');
    return absolute;
}

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setMinimumSize(ButtonWidth, ButtonHeight);
    return button;
}

} // namespace

const QString TQxLoaderDlg::MissingFileText =
    QStringLiteral("  Can't find the selected file!\n\rPlease check file name and path.");
const QString TQxLoaderDlg::NoFileName =
    QString::fromLatin1(TSettingsModel::Desc(TSettingsModel::skLastFile).Default);

TQxLoaderDlg::TQxLoaderDlg(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Download..."));
    BuildControls();
    FormCreate();
}

TQxLoaderDlg::~TQxLoaderDlg() {
    if (FReader) {
        // The reader ends by itself and frees itself; it must not call back.
        FReader->OnTerminate = nullptr;
        FReader->Terminate();
    }
    if (FTask) {
        // The task ends by itself and frees itself; it must not call back.
        FTask->OnProgress = nullptr;
        FTask->OnTerminate = nullptr;
        FTask->Terminate();
    }
}

void TQxLoaderDlg::BuildControls() {
    LoadBtn = MakeButton(QStringLiteral("Download"), this);
    LoadBtn->setDefault(true);
    CancelBtn = MakeButton(QStringLiteral("Cancel"), this);

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    Label1 = new QLabel(QStringLiteral("File&name:"), Panel1);
    HexFileEdit = new QLineEdit(Panel1);
    HexFileEdit->setMinimumWidth(EditWidth);
    Label1->setBuddy(HexFileEdit);
    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setText(QStringLiteral("&Open file..."));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setMinimumSize(OpenButtonWidth, ButtonHeight);
    MsgLabel = new QLabel(QStringLiteral("Progress:"), Panel1);
    ProgressBar = new QProgressBar(Panel1);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setMinimumHeight(ProgressBarHeight);

    auto* openRow = new QHBoxLayout;
    openRow->addStretch();
    openRow->addWidget(SpeedButton1);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->addWidget(Label1);
    panelLayout->addWidget(HexFileEdit);
    panelLayout->addLayout(openRow);
    panelLayout->addWidget(MsgLabel);
    panelLayout->addWidget(ProgressBar);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(LoadBtn);
    buttonRow->addWidget(CancelBtn);
    auto* dialogLayout = new QVBoxLayout(this);
    dialogLayout->addWidget(Panel1);
    dialogLayout->addLayout(buttonRow);
    // A dialog border: the size follows the contents and the font.
    dialogLayout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(ClientWidth);

    setTabOrder(LoadBtn, CancelBtn);
    setTabOrder(CancelBtn, HexFileEdit);
    LoadBtn->setFocus();

    connect(LoadBtn, &QPushButton::clicked, this, [this] { LoadBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { OpenBtnClick(); });
}

void TQxLoaderDlg::FormCreate() {
    SetFilename(TSettingsModel().LastFile());
}

void TQxLoaderDlg::SetFilename(const QString& name) {
    FFilename = name;
    HexFileEdit->setText(name);
}

void TQxLoaderDlg::OpenBtnClick() {
    TFileDialogRequest request;
    request.Title = QStringLiteral("Open download file...");
    request.InitialFile = DirectoryOf(HexFileEdit->text());
    request.Filters = DownloadFileFilters;
    request.InitialFilter = AllFilesFilter;
    request.DefaultSuffix = QStringLiteral("S19");
    request.MustExist = true;
    const QString chosen = Interaction().ChooseFile(this, request);
    if (!chosen.isEmpty())
        SetFilename(chosen);
}

void TQxLoaderDlg::LoadBtnClick() {
    if (FBusy)
        return;
    FFilename = HexFileEdit->text();
    if (FFilename.isEmpty() || !QFileInfo::exists(FFilename)) {
        Interaction().Warning(this, MissingFileText);
        HexFileEdit->setFocus();
        return;
    }
    if (!SaveLastFile())
        return;
    StartReading();
}

bool TQxLoaderDlg::SaveLastFile() {
    TSettingsModel settings;
    if (settings.SaveLastFile(FFilename))
        return true;
    // A settings file that could not be read is left alone, as the user was
    // told; the download need not wait for it.
    const TProfileWriteError& error = settings.WriteError();
    if (error.KnownUnreadable)
        return true;
    Interaction().Warning(this, error.Text(), error.Reason);
    return false;
}

// A large file or a slow disk would stop the window for as long as the
// read takes: the dialog is busy meanwhile and can be cancelled.
void TQxLoaderDlg::StartReading() {
    auto* reader = new TDownloadReader(FFilename);
    reader->OnTerminate = [this, reader] { ReadingDone(*reader); };
    FReader = reader;
    FReadCancelled = false;
    FBusy = true;
    LoadBtn->setEnabled(false);
    reader->Resume();
}

void TQxLoaderDlg::ReadingDone(TDownloadReader& reader) {
    // The reader frees itself when this returns.
    FReader = nullptr;
    if (FReadCancelled) {
        FBusy = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (reader.Error.isEmpty()) {
        StartTask(reader.TakeLines());
        return;
    }
    FBusy = false;
    const TAliveGuard guard(this);
    Interaction().Warning(this, reader.Error);
    if (!guard.Alive())
        return;
    LoadBtn->setEnabled(true);
    LoadBtn->setFocus();
}

void TQxLoaderDlg::StartTask(TDownloadLines lines) {
    auto* task = new TQxLoadTask(FComPort ? *FComPort : SerialPort(), std::move(lines));
    task->OnProgress = [this](TQxLoadTask&, int max, int position) { TaskProgress(max, position); };
    task->OnTerminate = [this, task] { TaskDone(*task); };
    task->SetSyncSettings(FSync);
    FTask = task;
    task->Resume();
}

void TQxLoaderDlg::TaskProgress(int max, int position) {
    ProgressBar->setMaximum(max);
    ProgressBar->setValue(position);
}

void TQxLoaderDlg::TaskDone(TQxLoadTask& task) {
    // The task frees itself when this returns.
    FTask = nullptr;
    const QString error = task.ErrorText;
    if (error.isEmpty()) {
        // Closes once this handler has returned and Busy is cleared.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else {
        const TAliveGuard guard(this);
        Interaction().Warning(this, error);
        if (!guard.Alive())
            return;
        LoadBtn->setEnabled(true);
        LoadBtn->setFocus();
    }
    FBusy = false;
}

void TQxLoaderDlg::CancelBtnClick() {
    if (FBusy) {
        // The dialog closes (or shows the task's message) when the task ends.
        if (FTask)
            FTask->Terminate();
        FReadCancelled = FReader != nullptr;
        return;
    }
    close();
}

void TQxLoaderDlg::done(int result) {
    if (!FormCloseQuery())
        return;
    QDialog::done(result);
}

void TQxLoaderDlg::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TQxLoaderDlg::keyPressEvent(QKeyEvent* event) {
    // Escape is Cancel: while busy it cancels the download without closing.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        CancelBtnClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TQxLoaderDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!FPlaced) {
        FPlaced = true;
        CenterOnScreen(this);
    }
}

void RunDownloadDialog(QWidget* owner, TQxComPort& port, const TTransferSync& sync) {
    const QPointer<TQxLoaderDlg> dialog = new TQxLoaderDlg(owner);
    dialog->SetComPort(&port);
    dialog->SetSyncSettings(sync);
    dialog->exec();
    delete dialog.data();
}
