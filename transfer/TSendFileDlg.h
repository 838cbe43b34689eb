#pragma once

#include "transfer/TransferChoice.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

// The Send File dialog: one file (several, quoted, for a YMODEM or ZMODEM
// batch) typed or chosen, and the protocol; for Raw an optional pause after
// every N bytes or every line. A note says when the protocol does not suit
// the line (XMODEM and YMODEM over XON/XOFF flow control) or when ZMODEM's
// programs are not installed. Send checks the files before it closes.
class TSendFileDlg : public QDialog {
    Q_OBJECT

public:
    // XonXoff: the port uses XON/XOFF flow control.
    TSendFileDlg(QWidget* owner, bool xonXoff);

    TSendChoice Choice() const;
    void SetChoice(const TSendChoice& choice);

    QLineEdit* FileEdit;
    QToolButton* BrowseBtn;
    QComboBox* ProtocolBox;
    QSpinBox* PauseEveryBox;
    QCheckBox* PauseLineCheck;
    QSpinBox* PauseMsBox;
    QLabel* NoteLabel;
    QPushButton* SendBtn;
    QPushButton* CancelBtn;

    void BrowseBtnClick();
    // What keeps the choice from being sent; empty when it may go.
    QString Problem() const;
    void accept() override;

private:
    void BuildControls();
    void ProtocolChanged();
    TTransferProtocol Protocol() const;

    bool FXonXoff;
};
