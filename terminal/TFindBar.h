#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;
class TQxConsole;

// A small bar that searches the pane's history and screen: the text, match
// case, next and previous. Enter finds the next match, Shift+Enter the
// previous one, Escape closes the bar and gives the focus back to the pane.
// Every match is highlighted in the pane while the bar is open.
class TFindBar : public QWidget {
    Q_OBJECT

public:
    TFindBar(TQxConsole* console, QWidget* parent = nullptr);

    // Shows the bar with the focus in its text (selected).
    void Open();
    void Close();
    // Finds the next (or previous) match; opens the bar when it is closed.
    void FindNext(bool backwards);

    QLineEdit* FindEdit = nullptr;
    QCheckBox* MatchCaseBox = nullptr;
    QToolButton* PreviousButton = nullptr;
    QToolButton* NextButton = nullptr;
    QToolButton* CloseButton = nullptr;
    QLabel* ResultLabel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateHighlight();
    QString MatchTimeText() const;

    TQxConsole* FConsole = nullptr;
};
