#pragma once

#include <QByteArray>
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The modal editor of one macro text. The owner presets the text with
// SetMacro, runs exec() and takes Macro() when the result is mrOk. The text
// is kept as typed: not decoded, not checked, only never empty.
class TQxMacroEdit : public QDialog {
    Q_OBJECT

public:
    // The results of exec(): "OK", "Cancel", the window's close box.
    enum TModalResult { mrCancel = QDialog::Rejected, mrOk = QDialog::Accepted, mrAbort = 3 };

    explicit TQxMacroEdit(QWidget* parent = nullptr);

    void SetMacro(const QByteArray& macro);
    const QByteArray& Macro() const { return FMacro; }

    QPushButton* const AbortBtn;
    QPushButton* const OKBtn;
    QLineEdit* const MacroEdit;
    QLabel* const Label1;
    QLabel* const Label2;
    QLabel* const Label3;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ArrangeControls();
    void MacroEditChange();
    void OKBtnClick();

    QByteArray FMacro;
};
