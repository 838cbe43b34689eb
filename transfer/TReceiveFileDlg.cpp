#include "transfer/TReceiveFileDlg.h"

#include "platform/TInteraction.h"
#include "transfer/TZmodemSession.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

TReceiveFileDlg::TReceiveFileDlg(QWidget* owner, bool xonXoff) : QDialog(owner), FXonXoff(xonXoff) {
    setWindowTitle(QStringLiteral("Receive File"));
    BuildControls();
    FolderEdit->setText(QDir::currentPath());
    ProtocolChanged();
}

void TReceiveFileDlg::BuildControls() {
    FolderEdit = new QLineEdit(this);
    FolderEdit->setAccessibleName(QStringLiteral("Folder"));
    BrowseBtn = new QToolButton(this);
    BrowseBtn->setText(QStringLiteral("..."));
    BrowseBtn->setAccessibleName(QStringLiteral("Choose a folder"));
    ProtocolBox = new QComboBox(this);
    ProtocolBox->setAccessibleName(QStringLiteral("Protocol"));
    for (const TTransferProtocol protocol : ReceiveProtocols())
        ProtocolBox->addItem(protocol == TTransferProtocol::Xmodem ? QStringLiteral("XMODEM (CRC)")
                                                                   : ProtocolName(protocol),
                             int(protocol));
    ProtocolBox->setCurrentIndex(int(ReceiveProtocols().indexOf(TTransferProtocol::Ymodem)));
    NameEdit = new QLineEdit(this);
    NameEdit->setAccessibleName(QStringLiteral("File name"));
    NoteLabel = new QLabel(this);
    NoteLabel->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    ReceiveBtn = buttons->addButton(QStringLiteral("&Receive"), QDialogButtonBox::AcceptRole);
    CancelBtn = buttons->addButton(QDialogButtonBox::Cancel);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(FolderEdit, 1);
    folderRow->addWidget(BrowseBtn);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Folder:"), folderRow);
    form->addRow(QStringLiteral("&Protocol:"), ProtocolBox);
    form->addRow(QStringLiteral("File &name (XMODEM):"), NameEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(NoteLabel);
    layout->addWidget(buttons);
    setMinimumWidth(460);

    connect(BrowseBtn, &QToolButton::clicked, this, &TReceiveFileDlg::BrowseBtnClick);
    connect(ProtocolBox, &QComboBox::currentIndexChanged, this, &TReceiveFileDlg::ProtocolChanged);
    connect(buttons, &QDialogButtonBox::accepted, this, &TReceiveFileDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TReceiveFileDlg::reject);
}

TTransferProtocol TReceiveFileDlg::Protocol() const {
    return TTransferProtocol(ProtocolBox->currentData().toInt());
}

void TReceiveFileDlg::BrowseBtnClick() {
    TFileDialogRequest request;
    request.Title = QStringLiteral("Choose the folder for received files");
    request.InitialFile = FolderEdit->text();
    request.Folder = true;
    const QString chosen = Interaction().ChooseFile(this, request);
    if (!chosen.isEmpty())
        FolderEdit->setText(chosen);
}

void TReceiveFileDlg::ProtocolChanged() {
    const TTransferProtocol protocol = Protocol();
    NameEdit->setEnabled(protocol == TTransferProtocol::Xmodem);
    const QString note = ProtocolNote(protocol, FXonXoff, QStringLiteral("rz"));
    NoteLabel->setText(note);
    NoteLabel->setVisible(!note.isEmpty());
}

TReceiveChoice TReceiveFileDlg::Choice() const {
    TReceiveChoice choice;
    choice.Protocol = Protocol();
    choice.Folder = FolderEdit->text().trimmed();
    choice.FileName = NameEdit->text().trimmed();
    return choice;
}

void TReceiveFileDlg::SetChoice(const TReceiveChoice& choice) {
    ProtocolBox->setCurrentIndex(int(ReceiveProtocols().indexOf(choice.Protocol)));
    if (!choice.Folder.isEmpty())
        FolderEdit->setText(choice.Folder);
    NameEdit->setText(choice.FileName);
}

QString TReceiveFileDlg::Problem() const {
    const TReceiveChoice choice = Choice();
    const QFileInfo folder(choice.Folder);
    if (choice.Folder.isEmpty() || !folder.isDir())
        return QStringLiteral("Choose an existing folder for the received files.");
    if (!folder.isWritable())
        return QStringLiteral("Unable to write into %1.").arg(choice.Folder);
    if (choice.Protocol == TTransferProtocol::Xmodem &&
        (choice.FileName.isEmpty() || choice.FileName.contains(QLatin1Char('/')) ||
         choice.FileName == QLatin1String(".") || choice.FileName == QLatin1String("..")))
        return QStringLiteral("XMODEM sends no name: give the file a plain name.");
    if (choice.Protocol == TTransferProtocol::Zmodem &&
        !TZmodemSession::Installed(QStringLiteral("rz")))
        return TZmodemSession::InstallHint();
    return {};
}

void TReceiveFileDlg::accept() {
    if (const QString problem = Problem(); !problem.isEmpty()) {
        Interaction().Warning(this, problem);
        return;
    }
    QDialog::accept();
}
