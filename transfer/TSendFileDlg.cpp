#include "transfer/TSendFileDlg.h"

#include "platform/TInteraction.h"
#include "transfer/TZmodemSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

TSendFileDlg::TSendFileDlg(QWidget* owner, bool xonXoff) : QDialog(owner), FXonXoff(xonXoff) {
    setWindowTitle(QStringLiteral("Send File"));
    BuildControls();
    ProtocolChanged();
}

void TSendFileDlg::BuildControls() {
    FileEdit = new QLineEdit(this);
    FileEdit->setAccessibleName(QStringLiteral("File"));
    FileEdit->setToolTip(QStringLiteral("Several files for a batch: each in double quotes"));
    BrowseBtn = new QToolButton(this);
    BrowseBtn->setText(QStringLiteral("..."));
    BrowseBtn->setAccessibleName(QStringLiteral("Choose a file"));
    ProtocolBox = new QComboBox(this);
    ProtocolBox->setAccessibleName(QStringLiteral("Protocol"));
    for (const TTransferProtocol protocol : SendProtocols())
        ProtocolBox->addItem(ProtocolName(protocol), int(protocol));
    ProtocolBox->setCurrentIndex(int(SendProtocols().indexOf(TTransferProtocol::Ymodem)));
    PauseEveryBox = new QSpinBox(this);
    PauseEveryBox->setRange(0, 1 << 20);
    PauseEveryBox->setSpecialValueText(QStringLiteral("never"));
    PauseEveryBox->setSuffix(QStringLiteral(" bytes"));
    PauseEveryBox->setAccessibleName(QStringLiteral("Pause after every"));
    PauseLineCheck = new QCheckBox(QStringLiteral("Pause after every &line"), this);
    PauseMsBox = new QSpinBox(this);
    PauseMsBox->setRange(0, 10000);
    PauseMsBox->setSuffix(QStringLiteral(" ms"));
    PauseMsBox->setAccessibleName(QStringLiteral("Pause length"));
    NoteLabel = new QLabel(this);
    NoteLabel->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    SendBtn = buttons->addButton(QStringLiteral("&Send"), QDialogButtonBox::AcceptRole);
    CancelBtn = buttons->addButton(QDialogButtonBox::Cancel);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(FileEdit, 1);
    fileRow->addWidget(BrowseBtn);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&File:"), fileRow);
    form->addRow(QStringLiteral("&Protocol:"), ProtocolBox);
    form->addRow(QStringLiteral("Raw: pause &after:"), PauseEveryBox);
    form->addRow(QString(), PauseLineCheck);
    form->addRow(QStringLiteral("Pause &length:"), PauseMsBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(NoteLabel);
    layout->addWidget(buttons);
    setMinimumWidth(460);

    connect(BrowseBtn, &QToolButton::clicked, this, &TSendFileDlg::BrowseBtnClick);
    connect(ProtocolBox, &QComboBox::currentIndexChanged, this, &TSendFileDlg::ProtocolChanged);
    connect(buttons, &QDialogButtonBox::accepted, this, &TSendFileDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TSendFileDlg::reject);
}

TTransferProtocol TSendFileDlg::Protocol() const {
    return TTransferProtocol(ProtocolBox->currentData().toInt());
}

// A batch protocol adds the chosen file to those named; the others replace.
void TSendFileDlg::BrowseBtnClick() {
    TFileDialogRequest request;
    request.Title = QStringLiteral("Choose a file to send");
    request.Filters = {QStringLiteral("All Files (*.*)|*")};
    request.MustExist = true;
    QStringList files = ParseFileList(FileEdit->text());
    request.InitialFile = files.value(0);
    const QString chosen = Interaction().ChooseFile(this, request);
    if (chosen.isEmpty())
        return;
    const bool batch =
        Protocol() == TTransferProtocol::Ymodem || Protocol() == TTransferProtocol::Zmodem;
    if (!batch)
        files.clear();
    if (!files.contains(chosen))
        files << chosen;
    FileEdit->setText(JoinFileList(files));
}

void TSendFileDlg::ProtocolChanged() {
    const TTransferProtocol protocol = Protocol();
    const bool raw = protocol == TTransferProtocol::Raw;
    for (QWidget* widget :
         {static_cast<QWidget*>(PauseEveryBox), static_cast<QWidget*>(PauseLineCheck),
          static_cast<QWidget*>(PauseMsBox)})
        widget->setEnabled(raw);
    const QString note = ProtocolNote(protocol, FXonXoff, QStringLiteral("sz"));
    NoteLabel->setText(note);
    NoteLabel->setVisible(!note.isEmpty());
}

TSendChoice TSendFileDlg::Choice() const {
    TSendChoice choice;
    choice.Protocol = Protocol();
    choice.Files = ParseFileList(FileEdit->text());
    choice.PauseEvery = PauseEveryBox->value();
    choice.PauseAfterLine = PauseLineCheck->isChecked();
    choice.PauseMs = PauseMsBox->value();
    return choice;
}

void TSendFileDlg::SetChoice(const TSendChoice& choice) {
    ProtocolBox->setCurrentIndex(int(SendProtocols().indexOf(choice.Protocol)));
    FileEdit->setText(JoinFileList(choice.Files));
    PauseEveryBox->setValue(int(choice.PauseEvery));
    PauseLineCheck->setChecked(choice.PauseAfterLine);
    PauseMsBox->setValue(choice.PauseMs);
}

QString TSendFileDlg::Problem() const {
    const TSendChoice choice = Choice();
    if (choice.Files.isEmpty())
        return QStringLiteral("Name the file to send.");
    const bool batch = choice.Protocol == TTransferProtocol::Ymodem ||
                       choice.Protocol == TTransferProtocol::Zmodem;
    if (!batch && choice.Files.size() > 1)
        return QStringLiteral("%1 sends one file at a time.").arg(ProtocolName(choice.Protocol));
    for (const QString& file : choice.Files) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            return QStringLiteral("Unable to read %1: no such readable file.").arg(file);
    }
    if (choice.Protocol == TTransferProtocol::Zmodem &&
        !TZmodemSession::Installed(QStringLiteral("sz")))
        return TZmodemSession::InstallHint();
    return {};
}

void TSendFileDlg::accept() {
    if (const QString problem = Problem(); !problem.isEmpty()) {
        Interaction().Warning(this, problem);
        return;
    }
    QDialog::accept();
}
