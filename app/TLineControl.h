#pragma once

#include <QObject>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class TQxComPort;

// Line control of the port in the main window: popup items DTR and RTS
// (check items that show and switch the output lines) and Send Break, and
// in the status bar the input lines CTS, DSR, DCD and RI ("n/a" where the
// driver does not tell) beside a panel of line-error counts that appears
// once a count is above 0.
//
// Nothing here polls: UpdateLineStatus() reads the lines and counters once.
// Call it whenever they may have changed: the port opened or closed, a line
// or error event arrived, a line was switched.
class TLineControl : public QObject {
    Q_OBJECT

public:
    // Appends its items to Menu (after a separator of its own) and its
    // panels to StatusBar.
    TLineControl(TQxComPort& port, QMenu& menu, QStatusBar& statusBar, QObject* parent);

    QAction* N4 = nullptr;
    QAction* ConsoleMenuDTR = nullptr;
    QAction* ConsoleMenuRTS = nullptr;
    QAction* ConsoleMenuBreak = nullptr;
    QLabel* LinePanel = nullptr;
    QLabel* ErrorPanel = nullptr;

    // Check marks and enabling for the menu about to show.
    void UpdateMenu();
    void UpdateLineStatus();

private:
    void ConsoleMenuDTRClick();
    void ConsoleMenuRTSClick();
    void ConsoleMenuBreakClick();

    TQxComPort& FPort;
};
