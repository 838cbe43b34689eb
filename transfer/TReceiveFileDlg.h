#pragma once

#include "transfer/TransferChoice.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// The Receive File dialog: the folder the files go into and the protocol;
// XMODEM carries no name, so it also asks for the file's name. A note says
// when the protocol does not suit the line or ZMODEM's programs are not
// installed. Receive checks the folder before it closes.
class TReceiveFileDlg : public QDialog {
    Q_OBJECT

public:
    TReceiveFileDlg(QWidget* owner, bool xonXoff);

    TReceiveChoice Choice() const;
    void SetChoice(const TReceiveChoice& choice);

    QLineEdit* FolderEdit;
    QToolButton* BrowseBtn;
    QComboBox* ProtocolBox;
    QLineEdit* NameEdit;
    QLabel* NoteLabel;
    QPushButton* ReceiveBtn;
    QPushButton* CancelBtn;

    void BrowseBtnClick();
    QString Problem() const;
    void accept() override;

private:
    void BuildControls();
    void ProtocolChanged();
    TTransferProtocol Protocol() const;

    bool FXonXoff;
};
