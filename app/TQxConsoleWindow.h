#pragma once

#include <QByteArray>
#include <QList>
#include <QWidget>

class QAction;
class QEventLoop;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QToolButton;
class TFindBar;
class TInputLine;
class TLineControl;
class TMacroBox;
class TQxConsole;

// The main window: joins the terminal pane to the serial port in both
// directions, sends macros, and carries the toolbar, the macro box, the
// pane's popup menu and the status bar. It keeps its placement in section
// "Window" of the settings file.
class TQxConsoleWindow : public QWidget {
    Q_OBJECT

public:
    explicit TQxConsoleWindow(QWidget* parent = nullptr);
    // Writes the placement (unless closing the window did), drops the
    // window's open request on the port and frees the pane (which ends a
    // running recording).
    ~TQxConsoleWindow() override;

    // The toolbar row and the macro row.
    QWidget* MacroPanel = nullptr;
    QFrame* Bevel2 = nullptr;
    QToolButton* SBSettings = nullptr;
    QToolButton* SBClear = nullptr;
    QToolButton* SBTransfer = nullptr;
    QToolButton* SBMacro = nullptr;
    QToolButton* SBLogging = nullptr;
    QToolButton* SBHelp = nullptr;
    QLabel* Label1 = nullptr;
    TMacroBox* MacroBox = nullptr;
    // Four panels: port, emulation, echo, logfile.
    QStatusBar* StatusBar = nullptr;
    // The pane's popup menu.
    QMenu* ConsoleMenu = nullptr;
    QAction* ConsoleMenuPause = nullptr;
    QAction* ConsoleMenuLogging = nullptr;
    QAction* N1 = nullptr;
    QAction* ConsoleMenuClear = nullptr;
    QAction* ConsoleMenuStayTop = nullptr;
    QAction* ConsoleMenuButtons = nullptr;
    QAction* N2 = nullptr;
    QAction* ConsoleMenuCursor = nullptr;
    // Looking back: history, clipboard and find.
    QAction* N3 = nullptr;
    QAction* ConsoleMenuCopy = nullptr;
    QAction* ConsoleMenuPaste = nullptr;
    QAction* ConsoleMenuSelectAll = nullptr;
    QAction* ConsoleMenuFind = nullptr;
    QAction* ConsoleMenuSaveScrollback = nullptr;
    QAction* ConsoleMenuClearScrollback = nullptr;
    QAction* ConsoleMenuStopPaste = nullptr;
    // File transfers: Alt+Shift+Ins sends, Ctrl+Alt+Ins receives (keys the
    // pane never sends to the target).
    QAction* ConsoleMenuSendFile = nullptr;
    QAction* ConsoleMenuReceiveFile = nullptr;
    // The find bar below the pane (hidden until F3 or Find...).
    TFindBar* FindBar = nullptr;
    // The input line below the pane, shown and hidden with F4 or the popup
    // menu's item; its state and history are kept in the settings file.
    TInputLine* InputLine = nullptr;
    QAction* ConsoleMenuInputLine = nullptr;
    // The time margin of the pane (Alt+Insert, kept in the settings file)
    // and the copy and save commands that put each line's time in front.
    QAction* ConsoleMenuTimestamps = nullptr;
    QAction* ConsoleMenuCopyTimes = nullptr;
    QAction* ConsoleMenuSaveTimes = nullptr;

    TQxConsole* Console() const { return FConsole; }
    // The DTR, RTS and Send Break items of ConsoleMenu and the line
    // indicators of the status bar.
    TLineControl* LineControl() const { return FLineControl; }

    // Replaces the macro box's items with the macros (none selected) and
    // updates the Send button.
    void SetMacros(const QList<QByteArray>& macros);
    // Rewrites the four status panels and the Logfile button's down state.
    void UpdateStatusBar();
    QString StatusText(int panel) const;

    // Sets the window's position and size from the stored placement, fitted
    // to the screen.
    void ReadPlacement();

    // The port's OnReceive: reads the Count waiting bytes into the pane.
    void ComPortReceive(quint16 count);
    // The port's OnScan: shows one byte read while a sequence is awaited.
    void ComPortScan(char& ch);
    // The port's OnConnectionChanged: status bar and recording markers.
    void ComPortConnectionChanged(bool connected);
    // The port's OnOutputStalled: says so in the status bar.
    void ComPortOutputStalled(bool stalled);
    // The pane's OnKeyPress: sends the typed byte.
    void ConsoleKeyPress(TQxConsole& sender, char& key);

    // Sends the selected macro in parts, pausing at its delay markers while
    // the event loop runs. A send while one runs is ignored.
    void MacroBtnClick();
    // Enables Send exactly when the selected macro is not empty.
    void MacroBoxChange();
    // Commands of the toolbar and the popup menu.
    void SBSettingsClick();
    void ConsoleMenuClearClick();
    void SBTransferClick();
    void ConsoleMenuLoggingClick();
    void SBHelpClick();
    void ConsoleMenuPauseClick();
    void ConsoleMenuStayTopClick();
    void ConsoleMenuButtonsClick();
    void ConsoleMenuCursorClick();
    // Send File... and Receive File...: the transfer owns the line while it
    // runs; the recording notes its outcome, the status bar shows it.
    void SendFileClick();
    void ReceiveFileClick();
    // Shows or hides the input line (hiding stops its repeat).
    void ToggleInputLine();
    // Sets the popup's check marks from the state they show.
    void ConsoleMenuPopup();

    // True while MacroBtnClick is sending.
    bool Sending() const { return FSending; }

protected:
    // The bytes of macros, pastes and typed keys go to the port here; the
    // port queues them, so this never waits for the line.
    virtual void WritePort(const QByteArray& bytes);

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void CreateMacroPanel();
    QToolButton* CreateSpeedButton(const char* name, const QString& caption, const char* iconName);
    void CreateStatusBar();
    void CreateConsoleMenu();
    void CreateLookBackItems();
    void CreateTransferItems();
    QAction* AddMenuItem(const char* name, const QString& caption);
    void CreateConsole();
    void ConnectCommands();
    void ConnectMenuItem(QAction* item, void (TQxConsoleWindow::*handler)());
    void StartRecording();
    void StopRecording();
    void SetSizeLimits();
    void ReportLineSpeedDifference();
    // Writes the placement, in one write of the settings file, unless it
    // was written since the window was last shown; a failure is shown once.
    void SavePlacement();

    // Key preview: every key of the window passes here before the focused
    // control sees it.
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    bool FormKeyPress();
    void MacroBoxKeyPress(int key);

    void SendChunk(const QByteArray& chunk);
    void CreateInputLine();
    // The input line's bytes, sent and echoed as a macro's are; false when
    // the port could not take them.
    bool SendInputLine(const QByteArray& bytes);
    void KeepInputLineSettings();
    void CreateTimestampItems();
    void ToggleTimestamps();
    // Waits Milliseconds with the event loop running; false when the wait
    // was cut short because the window closes or the program ends.
    bool Delay(int milliseconds);

    TQxConsole* FConsole = nullptr;
    TLineControl* FLineControl = nullptr;
    QList<QLabel*> FPanels;
    bool FSending = false;
    bool FSkipKeyPress = false;
    bool FClosing = false;
    bool FShownOnce = false;
    bool FPlacementSaved = false;
    bool FPortRequested = false;
    // A key or macro met the disconnected port (and the user heard the beep).
    bool FToldDisconnected = false;
    QEventLoop* FDelayLoop = nullptr;
    QString FReportedSpeedDifference;
};
