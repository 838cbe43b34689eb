#include "app/TQxConsoleWindow.h"

#include "app/QuitSignals.h"
#include "app/SettingsGlue.h"
#include "app/TInputLine.h"
#include "app/TLineControl.h"
#include "app/TMacroBox.h"
#include "app/WindowPlacement.h"
#include "download/TQxLoaderDlg.h"
#include "help/TBubbleForm.h"
#include "platform/AppLocation.h"
#include "platform/MacroText.h"
#include "platform/TAliveGuard.h"
#include "platform/TInteraction.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "settings/RunOverrides.h"
#include "settings/Settings.h"
#include "settings/TQxPreferences.h"
#include "settings/TSettingsModel.h"
#include "terminal/TFindBar.h"
#include "terminal/TQxConsole.h"
#include "transfer/TransferCommands.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The version without its patch level ("V3.0").
const QString Caption =
    QStringLiteral("Qx-Console V") + QStringLiteral(QX_VERSION).section(QLatin1Char('.'), 0, 1);

// With a settings file of its own the window says which board it serves, so
// that several windows side by side can be told apart; a device given for
// this run is named too.
QString WindowCaption() {
    QString caption = Caption;
    if (!SettingsFileIsDefault())
        caption += QStringLiteral(" - ") + QFileInfo(SettingsFileName()).completeBaseName();
    if (const QString& device = RunOverrides().Device; !device.isEmpty())
        caption += QStringLiteral(" - ") + device;
    return caption;
}

// Status texts indexed by the pane's emulation (ASCII, HEX, VT) and LocalEcho.
const std::array<QString, 3> EmulationNames = {QStringLiteral("ASCII"), QStringLiteral("HEX"),
                                               QStringLiteral("VT")};
const std::array<QString, 2> EchoNames = {QString(), QStringLiteral("Echo")};

// The toolbar and macro row as designed; a larger UI font widens them.
constexpr int ButtonLeft = 2;
constexpr int ButtonTop = 3;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 40;
// The toolbar row is 48 pixels high, its bottom line included.
constexpr int ToolbarBottomSpace = 3;
constexpr int BevelHeight = 2;
constexpr int IconSize = 20;
// Room beside the widest caption of a toolbar button.
constexpr int ButtonTextSpace = 2;
constexpr int LabelLeft = 8;
constexpr int MacroBoxLeft = 52;
constexpr int MacroBoxWidth = 401;
constexpr int MacroBoxHeight = 20;
constexpr int MinimumMacroBoxWidth = 300;
constexpr int LabelSpace = 4;
constexpr int MacroRowTop = 8;
constexpr int MacroRowBottom = 7;
constexpr int RightSpace = 10;
constexpr int MinimumHeight = 250;
// How long a message of the pane stays in the status bar.
constexpr int StatusMessageMs = 8000;
// What a background paste leaves queued on the port before its next chunk.
constexpr qsizetype PasteBacklogBytes = 4096;

// Status panel widths; the last panel takes the rest.
constexpr std::array<int, 4> PanelWidths = {115, 60, 60, 50};
constexpr int PanelCount = 4;
constexpr int PortTextLength = 20;
// Room for the panel's frame and margins beside its text.
constexpr int PanelPadding = 12;
// The longest text panel 0 can show.
const QString WidestPortText = QStringLiteral("COM10: 3000000,8,N,1 XON/XOFF");
// Flow control beside the line format; none says nothing.
const std::array<QString, 3> FlowControlTexts = {QString(), QStringLiteral(" RTS/CTS"),
                                                 QStringLiteral(" XON/XOFF")};

QString PortStatusText(TQxComPort& port) {
    const QString text = QStringLiteral("%1 %2,%3,%4,%5")
                             .arg(QLatin1String(ComPortNames[port.ComPort()]))
                             .arg(port.ActualBaudrate())
                             .arg(QLatin1Char(DatabitsChars[port.Databits()]))
                             .arg(QLatin1Char(ParityChars[port.Parity()]))
                             .arg(QLatin1String(StopBitsTexts[port.StopBits()]));
    return text.left(PortTextLength) + FlowControlTexts[port.FlowControl()];
}

// Says so when the driver made another bit rate than the one asked for;
// empty otherwise.
QString LineSpeedDifference(const TQxComPort& port) {
    if (!port.Open() || port.ActualBaudrate() == port.BaudrateValue())
        return {};
    return QStringLiteral("The serial driver set %1 baud instead of the %2 baud asked for.")
        .arg(port.ActualBaudrate())
        .arg(port.BaudrateValue());
}

QIcon ButtonIcon(const QString& name) {
    QIcon icon(QStringLiteral(":/icons/%1.svg").arg(name));
    icon.addFile(QStringLiteral(":/icons/%1-disabled.svg").arg(name), {}, QIcon::Disabled);
    return icon;
}

} // namespace

TQxConsoleWindow::TQxConsoleWindow(QWidget* parent) : QWidget(parent) {
    FormCreate();
}

TQxConsoleWindow::~TQxConsoleWindow() {
    FormDestroy();
}

// ---------------------------------------------------------------------------
// Creation, showing, destruction

void TQxConsoleWindow::FormCreate() {
    setWindowTitle(WindowCaption());
    setWindowIcon(QIcon(QStringLiteral(":/icons/qx-console.svg")));
    CreateMacroPanel();
    CreateStatusBar();
    CreateConsoleMenu();
    CreateConsole();
    CreateInputLine();
    CreateTimestampItems();
    FLineControl = new TLineControl(SerialPort(), *ConsoleMenu, *StatusBar, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(MacroPanel);
    layout->addWidget(FConsole, 1);
    layout->addWidget(InputLine);
    layout->addWidget(FindBar);
    layout->addWidget(StatusBar);

    ConnectCommands();
    SetSizeLimits();
    ReadPlacement();

    TQxComPort& port = SerialPort();
    port.OnReceive = [this](quint16 count) { ComPortReceive(count); };
    port.OnScan = [this](char& ch) { ComPortScan(ch); };
    // Line changes and line errors show in the status bar's indicators.
    port.OnModemLinesChanged = [this] { FLineControl->UpdateLineStatus(); };
    port.OnError = [this] { FLineControl->UpdateLineStatus(); };
    port.OnConnectionChanged = [this](bool connected) { ComPortConnectionChanged(connected); };
    port.OnOutputStalled = [this](bool stalled) { ComPortOutputStalled(stalled); };
    port.DialogParent = this;
}

void TQxConsoleWindow::CreateConsole() {
    FConsole = new TQxConsole(this);
    FConsole->SetLocalEcho(true);
    FConsole->OnKeyPress = [this](TQxConsole& sender, char& key) { ConsoleKeyPress(sender, key); };
    FConsole->OnRecordingEnded = [this](TQxConsole&) { UpdateStatusBar(); };
    FConsole->SetPopupMenu(ConsoleMenu);
    FConsole->OnSend = [this](const QByteArray& bytes) {
        // A background paste sends about 10 ms of line time at a turn, so
        // a write that waits for the line never holds the window long.
        FConsole->PasteChunkBytes = std::max(8, SerialPort().ActualBaudrate() / 1000);
        WritePort(bytes);
    };
    // The next chunk only once the line has taken most of the last ones.
    FConsole->CanSendMore = [] { return SerialPort().PendingOutput() < PasteBacklogBytes; };
    FConsole->OnPasteStopped = [] { SerialPort().DiscardOutput(); };
    // Answers to the target's questions take the one write path; while a
    // download or transfer owns the line they are dropped, not interleaved.
    FConsole->OnAnswer = [](const QByteArray& bytes) {
        SerialPort().Send(bytes, TLineUser::Answers);
    };
    // The target's title follows the program's own; control characters
    // are left out.
    FConsole->OnTitle = [this](const QString& title) {
        QString shown;
        for (const QChar ch : title)
            if (ch.isPrint())
                shown += ch;
        setWindowTitle(shown.isEmpty() ? WindowCaption()
                                       : WindowCaption() + QStringLiteral(" - ") + shown);
    };
    FConsole->OnStatusMessage = [this](const QString& text) {
        StatusBar->showMessage(text, StatusMessageMs);
    };
    FindBar = new TFindBar(FConsole, this);
    FConsole->setFocus();
    QWidget::setTabOrder(FConsole, MacroBox);
}

void TQxConsoleWindow::CreateMacroPanel() {
    MacroPanel = new QWidget(this);
    SBSettings = CreateSpeedButton("SBSettings", QStringLiteral("&Settings..."), "settings");
    SBClear = CreateSpeedButton("SBClear", QStringLiteral("&Clear"), "clear");
    SBTransfer = CreateSpeedButton("SBTransfer", QStringLiteral("&Download..."), "download");
    SBMacro = CreateSpeedButton("SBMacro", QStringLiteral("&Send"), "send");
    SBLogging = CreateSpeedButton("SBLogging", QStringLiteral("&Logfile..."), "logfile");
    SBHelp = CreateSpeedButton("SBHelp", QStringLiteral("&Help F1"), "help");
    SBLogging->setCheckable(true);
    // "&Settings..." and "&Send" mark the same letter: Alt+S sends.
    SBSettings->setShortcut(QKeySequence());

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(ButtonLeft, ButtonTop, 0, ToolbarBottomSpace);
    toolbar->setSpacing(0);
    int buttonWidth = ButtonWidth;
    int buttonHeight = ButtonHeight;
    const QList<QToolButton*> buttons = {SBSettings, SBClear,   SBTransfer,
                                         SBMacro,    SBLogging, SBHelp};
    for (QToolButton* button : buttons) {
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        buttonWidth = std::max(buttonWidth, button->fontMetrics().horizontalAdvance(caption) +
                                                2 * ButtonTextSpace);
        buttonHeight = std::max(buttonHeight, button->sizeHint().height());
    }
    for (QToolButton* button : buttons) {
        button->setFixedSize(buttonWidth, buttonHeight);
        toolbar->addWidget(button);
    }
    toolbar->addStretch(1);

    Bevel2 = new QFrame(MacroPanel);
    Bevel2->setFrameShape(QFrame::HLine);
    Bevel2->setFrameShadow(QFrame::Sunken);
    Bevel2->setFixedHeight(BevelHeight);

    Label1 = new QLabel(QStringLiteral("&Macros:"), MacroPanel);
    MacroBox = new TMacroBox(MacroPanel);
    Label1->setBuddy(MacroBox);
    // A wider label moves the box's left edge, not its right edge.
    const int labelWidth =
        std::max(MacroBoxLeft - LabelLeft, Label1->sizeHint().width() + LabelSpace);
    const int boxWidth =
        std::max(MinimumMacroBoxWidth, MacroBoxLeft + MacroBoxWidth - LabelLeft - labelWidth);
    Label1->setFixedWidth(labelWidth);
    MacroBox->setFixedSize(boxWidth, std::max(MacroBoxHeight, MacroBox->sizeHint().height()));
    MacroBox->installEventFilter(this);

    auto* macroRow = new QHBoxLayout;
    macroRow->setContentsMargins(LabelLeft, MacroRowTop, 0, MacroRowBottom);
    macroRow->setSpacing(0);
    macroRow->addWidget(Label1);
    macroRow->addWidget(MacroBox);
    macroRow->addStretch(1);

    auto* panel = new QVBoxLayout(MacroPanel);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(0);
    panel->addLayout(toolbar);
    panel->addWidget(Bevel2);
    panel->addLayout(macroRow);
    MacroPanel->setFixedHeight(panel->sizeHint().height());
}

// A flat speed button with its picture above the caption; it never takes
// the keyboard focus.
QToolButton* TQxConsoleWindow::CreateSpeedButton(const char* name, const QString& caption,
                                                 const char* iconName) {
    auto* button = new QToolButton(MacroPanel);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(ButtonIcon(QLatin1String(iconName)));
    button->setIconSize(QSize(IconSize, IconSize));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void TQxConsoleWindow::CreateStatusBar() {
    StatusBar = new QStatusBar(this);
    const QFontMetrics metrics(StatusBar->font());
    for (int i = 0; i < PanelCount; ++i) {
        auto* panel = new QLabel(StatusBar);
        const bool last = i == PanelCount - 1;
        int width = PanelWidths[size_t(i)];
        if (i == 0)
            width = std::max(width, metrics.horizontalAdvance(WidestPortText) + PanelPadding);
        panel->setAlignment(Qt::AlignVCenter | (last ? Qt::AlignLeft : Qt::AlignHCenter));
        if (last) {
            // A long logfile name must not widen the window.
            panel->setMinimumWidth(width);
            panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        } else {
            panel->setFixedWidth(width);
        }
        StatusBar->addWidget(panel, last ? 1 : 0);
        FPanels.append(panel);
    }
}

void TQxConsoleWindow::CreateConsoleMenu() {
    ConsoleMenu = new QMenu(this);
    ConsoleMenuPause = AddMenuItem("ConsoleMenuPause", QStringLiteral("P&ause"));
    ConsoleMenuLogging = AddMenuItem("ConsoleMenuLogging", QStringLiteral("&Logfile..."));
    N1 = ConsoleMenu->addSeparator();
    ConsoleMenuClear = AddMenuItem("ConsoleMenuClear", QStringLiteral("&Clear Display"));
    ConsoleMenuStayTop = AddMenuItem("ConsoleMenuStayTop", QStringLiteral("&Alway on Top"));
    ConsoleMenuButtons = AddMenuItem("ConsoleMenuButtons", QStringLiteral("&Panel"));
    N2 = ConsoleMenu->addSeparator();
    ConsoleMenuCursor = AddMenuItem("ConsoleMenuCursor", QStringLiteral("&Cursor"));
    for (QAction* item : {ConsoleMenuPause, ConsoleMenuLogging, ConsoleMenuStayTop,
                          ConsoleMenuButtons, ConsoleMenuCursor})
        item->setCheckable(true);
    CreateLookBackItems();
    CreateTransferItems();
}

// The transfer commands, in the popup and as the window's own shortcuts.
void TQxConsoleWindow::CreateTransferItems() {
    ConsoleMenuSendFile = new QAction(QStringLiteral("Sen&d File..."), this);
    ConsoleMenuReceiveFile = new QAction(QStringLiteral("&Receive File..."), this);
    ConsoleMenuSendFile->setObjectName(QStringLiteral("ConsoleMenuSendFile"));
    ConsoleMenuReceiveFile->setObjectName(QStringLiteral("ConsoleMenuReceiveFile"));
    ConsoleMenuSendFile->setShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Insert));
    ConsoleMenuReceiveFile->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Insert));
    ConsoleMenu->insertActions(N1, {ConsoleMenuSendFile, ConsoleMenuReceiveFile});
    addActions({ConsoleMenuSendFile, ConsoleMenuReceiveFile});
    connect(ConsoleMenuSendFile, &QAction::triggered, this, &TQxConsoleWindow::SendFileClick);
    connect(ConsoleMenuReceiveFile, &QAction::triggered, this, &TQxConsoleWindow::ReceiveFileClick);
}

void TQxConsoleWindow::SendFileClick() {
    const TAliveGuard guard(this);
    const QString summary =
        RunSendFileCommand({this, &SerialPort(), [this](const QByteArray& event) {
                                FConsole->Screen().RecordEvent(event);
                            }});
    if (guard.Alive() && !summary.isEmpty())
        StatusBar->showMessage(summary, StatusMessageMs);
}

void TQxConsoleWindow::ReceiveFileClick() {
    const TAliveGuard guard(this);
    const QString summary =
        RunReceiveFileCommand({this, &SerialPort(), [this](const QByteArray& event) {
                                   FConsole->Screen().RecordEvent(event);
                               }});
    if (guard.Alive() && !summary.isEmpty())
        StatusBar->showMessage(summary, StatusMessageMs);
}

// The pane's history, clipboard and find commands, in a block of their own.
// The keys beside them are handled by the pane (Insert combinations) and the
// key preview (F3); the menu shows them only.
void TQxConsoleWindow::CreateLookBackItems() {
    N3 = ConsoleMenu->addSeparator();
    ConsoleMenuCopy = AddMenuItem("ConsoleMenuCopy", QStringLiteral("C&opy\tCtrl+Ins"));
    ConsoleMenuPaste = AddMenuItem("ConsoleMenuPaste", QStringLiteral("Pa&ste\tShift+Ins"));
    ConsoleMenuStopPaste = AddMenuItem("ConsoleMenuStopPaste", QStringLiteral("S&top Paste\tEsc"));
    ConsoleMenuSelectAll = AddMenuItem("ConsoleMenuSelectAll", QStringLiteral("Select A&ll"));
    ConsoleMenuFind = AddMenuItem("ConsoleMenuFind", QStringLiteral("&Find...\tF3"));
    ConsoleMenuSaveScrollback =
        AddMenuItem("ConsoleMenuSaveScrollback", QStringLiteral("Sa&ve Scrollback..."));
    ConsoleMenuClearScrollback =
        AddMenuItem("ConsoleMenuClearScrollback", QStringLiteral("Clear Scroll&back"));
    connect(ConsoleMenuCopy, &QAction::triggered, this, [this] { FConsole->Copy(); });
    connect(ConsoleMenuPaste, &QAction::triggered, this, [this] { FConsole->Paste(); });
    connect(ConsoleMenuStopPaste, &QAction::triggered, this, [this] { FConsole->StopPaste(); });
    connect(ConsoleMenuSelectAll, &QAction::triggered, this, [this] { FConsole->SelectAll(); });
    connect(ConsoleMenuFind, &QAction::triggered, this, [this] { FindBar->Open(); });
    connect(ConsoleMenuSaveScrollback, &QAction::triggered, this,
            [this] { FConsole->SaveScrollback(); });
    connect(ConsoleMenuClearScrollback, &QAction::triggered, this,
            [this] { FConsole->ClearScrollback(); });
}

QAction* TQxConsoleWindow::AddMenuItem(const char* name, const QString& caption) {
    QAction* item = ConsoleMenu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    return item;
}

void TQxConsoleWindow::ConnectCommands() {
    connect(SBSettings, &QToolButton::clicked, this, &TQxConsoleWindow::SBSettingsClick);
    connect(SBClear, &QToolButton::clicked, this, &TQxConsoleWindow::ConsoleMenuClearClick);
    connect(SBTransfer, &QToolButton::clicked, this, &TQxConsoleWindow::SBTransferClick);
    connect(SBMacro, &QToolButton::clicked, this, &TQxConsoleWindow::MacroBtnClick);
    connect(SBLogging, &QToolButton::clicked, this, &TQxConsoleWindow::ConsoleMenuLoggingClick);
    connect(SBHelp, &QToolButton::clicked, this, &TQxConsoleWindow::SBHelpClick);
    connect(MacroBox, &QComboBox::currentIndexChanged, this, &TQxConsoleWindow::MacroBoxChange);
    MacroBoxChange();

    connect(ConsoleMenu, &QMenu::aboutToShow, this, &TQxConsoleWindow::ConsoleMenuPopup);
    ConnectMenuItem(ConsoleMenuPause, &TQxConsoleWindow::ConsoleMenuPauseClick);
    ConnectMenuItem(ConsoleMenuLogging, &TQxConsoleWindow::ConsoleMenuLoggingClick);
    ConnectMenuItem(ConsoleMenuClear, &TQxConsoleWindow::ConsoleMenuClearClick);
    ConnectMenuItem(ConsoleMenuStayTop, &TQxConsoleWindow::ConsoleMenuStayTopClick);
    ConnectMenuItem(ConsoleMenuButtons, &TQxConsoleWindow::ConsoleMenuButtonsClick);
    ConnectMenuItem(ConsoleMenuCursor, &TQxConsoleWindow::ConsoleMenuCursorClick);
}

// Choosing a checkable item flips its check mark; the mark stays as the
// popup set it, since Pause reads it as the state to go to.
void TQxConsoleWindow::ConnectMenuItem(QAction* item, void (TQxConsoleWindow::*handler)()) {
    connect(item, &QAction::triggered, this, [this, item, handler](bool checked) {
        if (item->isCheckable())
            item->setChecked(!checked);
        (this->*handler)();
    });
}

// The window may not become narrower than the macro box (or the toolbar)
// needs, nor lower than 250 pixels.
void TQxConsoleWindow::SetSizeLimits() {
    const int macroBoxRight = LabelLeft + Label1->width() + MacroBox->width();
    const int toolbarRight =
        ButtonLeft + MacroPanel->findChildren<QToolButton*>().size() * SBHelp->width();
    setMinimumSize(std::max(macroBoxRight, toolbarRight) + RightSpace, MinimumHeight);
}

void TQxConsoleWindow::FormShow() {
    ApplyChangedSettings(*this);
    SerialPort().OpenPort(false);
    FPortRequested = true;
    UpdateStatusBar();
}

void TQxConsoleWindow::FormDestroy() {
    FClosing = true;
    if (FDelayLoop)
        FDelayLoop->quit();
    SavePlacement();
    TQxComPort& port = SerialPort();
    port.OnReceive = nullptr;
    port.OnScan = nullptr;
    port.OnModemLinesChanged = nullptr;
    port.OnError = nullptr;
    port.OnConnectionChanged = nullptr;
    if (port.DialogParent == this)
        port.DialogParent = nullptr;
    if (FPortRequested)
        port.ClosePort();
    delete FConsole;
    FConsole = nullptr;
}

// The placement is saved when the window closes, while the event loop runs
// and the window is still on the screen: a warning then appears in front of
// it and is waited for, and the program ends only after it. A window that is
// destroyed without being closed saves it on its way out.
void TQxConsoleWindow::SavePlacement() {
    if (FPlacementSaved)
        return;
    FPlacementSaved = true;
    TSettingsModel settings;
    if (settings.SavePlacement(QRect(pos(), size())))
        return;
    // The user was told already that a file which could not be read stays
    // as it is.
    const TProfileWriteError& error = settings.WriteError();
    if (!error.KnownUnreadable)
        Interaction().Warning(isVisible() ? this : nullptr, error.Text(), error.Reason);
}

void TQxConsoleWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FClosing = false;
    FPlacementSaved = false;
    if (QWindow* window = windowHandle())
        window->installEventFilter(this);
    if (!FShownOnce) {
        FShownOnce = true;
        // Once the window is on the screen, so that a warning about the
        // port appears in front of it.
        QMetaObject::invokeMethod(this, &TQxConsoleWindow::FormShow, Qt::QueuedConnection);
    }
}

// A macro pausing now stops: nothing more of it is sent. A download that
// owns the line is cancelled and awaited (bounded), so that nothing writes
// to the port once the window is gone.
void TQxConsoleWindow::closeEvent(QCloseEvent* event) {
    FClosing = true;
    EndLineWork();
    if (FDelayLoop)
        FDelayLoop->quit();
    SavePlacement();
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Placement

// Left and Top are the position of the window's frame; Width and Height its
// size without the window manager's frame, which is not known before the
// window is shown. Both read back as written.
void TQxConsoleWindow::ReadPlacement() {
    // A damaged section must not open a window larger than the screen or
    // out of reach.
    const QRect wanted = TSettingsModel().Placement();
    const QRect placement = FitPlacement(wanted, AvailableAreaFor(wanted));
    move(placement.topLeft());
    resize(placement.size());
}

// ---------------------------------------------------------------------------
// Port and pane

void TQxConsoleWindow::ComPortReceive(quint16 count) {
    QByteArray bytes(count, Qt::Uninitialized);
    const int read = count > 0 ? SerialPort().ReadBuffer(bytes.data(), count) : 0;
    bytes.resize(std::max(read, 0));
    FConsole->WriteText(bytes);
}

void TQxConsoleWindow::ComPortScan(char& ch) {
    FConsole->WriteText(QByteArray(1, ch));
}

void TQxConsoleWindow::ConsoleKeyPress(TQxConsole&, char& key) {
    WritePort(QByteArray(1, key));
}

void TQxConsoleWindow::ComPortConnectionChanged(bool connected) {
    FConsole->Screen().RecordEvent(connected ? "Connection restored" : "Connection lost");
    FToldDisconnected = false;
    UpdateStatusBar();
}

// Keys and macros for a port whose device went away are not sent into
// nothing unnoticed: the first one beeps (the status bar says why). The
// port queues what the line does not take at once, so a line that stopped
// taking bytes never holds the window; bytes it refuses (the queue is full,
// or a download owns the line) beep, and end a paste.
void TQxConsoleWindow::WritePort(const QByteArray& bytes) {
    TQxComPort& port = SerialPort();
    if (port.Disconnected()) {
        if (!std::exchange(FToldDisconnected, true))
            Interaction().Beep();
        return;
    }
    if (port.Send(bytes, TLineUser::Keys))
        return;
    if (FConsole->Pasting()) {
        FConsole->StopPaste();
        StatusBar->showMessage(QStringLiteral("Paste stopped: the line takes no more data."),
                               StatusMessageMs);
    }
    Interaction().Beep();
}

// Shown for as long as the line takes nothing; one message, not one per key.
void TQxConsoleWindow::ComPortOutputStalled(bool stalled) {
    if (stalled)
        StatusBar->showMessage(
            QStringLiteral("The line has taken no data for 5 seconds: %1 byte(s) wait to be sent.")
                .arg(SerialPort().PendingOutput()));
    else
        StatusBar->clearMessage();
}

// ---------------------------------------------------------------------------
// Status bar

void TQxConsoleWindow::UpdateStatusBar() {
    TQxComPort& port = SerialPort();
    QString portText;
    if (!FConsole->Displaying())
        portText = QStringLiteral("Pause");
    else if (port.Open())
        portText = port.CarriesLineSettings()
                       ? PortStatusText(port)
                       : QLatin1String(ComPortNames[port.ComPort()]) + QStringLiteral(" raw stream");
    else if (port.Disconnected())
        portText = QLatin1String(ComPortNames[port.ComPort()]) + QStringLiteral(" disconnected");
    const TLogDesc& log = FConsole->Log();
    FPanels[0]->setText(portText);
    FPanels[0]->setToolTip(LineSpeedDifference(port));
    FPanels[1]->setText(
        EmulationNames[FConsole->VtEmulation() ? 2 : FConsole->HexEmulation() ? 1 : 0]);
    FPanels[2]->setText(EchoNames[FConsole->LocalEcho()]);
    FPanels[3]->setText(log.Active ? log.FileName : QString());
    SBLogging->setChecked(log.Active);
    FLineControl->UpdateLineStatus();
    ReportLineSpeedDifference();
}

// The user hears once of each rate the driver could not make.
void TQxConsoleWindow::ReportLineSpeedDifference() {
    const QString difference = LineSpeedDifference(SerialPort());
    if (difference == FReportedSpeedDifference)
        return;
    FReportedSpeedDifference = difference;
    if (!difference.isEmpty())
        Interaction().Warning(this, difference);
}

QString TQxConsoleWindow::StatusText(int panel) const {
    return FPanels.value(panel)->text();
}

// ---------------------------------------------------------------------------
// Keyboard

bool TQxConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == MacroBox) {
        MacroBoxKeyPress(key->key());
        return false;
    }
    if (watched != windowHandle())
        return QWidget::eventFilter(watched, event);
    const TAliveGuard guard(this);
    FormKeyDown(key->key(), key->modifiers());
    if (!guard.Alive())
        return true;
    return FormKeyPress();
}

// Shift+Ctrl+A to Z sends macro 1 to 26 (when there is one) and marks the
// key's character to be dropped; F1 opens the help window.
void TQxConsoleWindow::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers chord =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (key >= Qt::Key_A && key <= Qt::Key_Z &&
        chord == (Qt::ShiftModifier | Qt::ControlModifier)) {
        const int index = key - Qt::Key_A;
        if (index < MacroBox->count()) {
            const TAliveGuard guard(this);
            MacroBox->setCurrentIndex(index);
            MacroBtnClick();
            if (!guard.Alive())
                return;
        }
        FSkipKeyPress = true;
    } else if (key == Qt::Key_F1) {
        SBHelpClick();
    } else if (FConsole->VtEmulation() && key >= Qt::Key_F2 && key <= Qt::Key_F35) {
        // In VT the other function keys belong to the target's programs
        // (search and edit keys of full-screen tools); find and the input
        // line stay in the popup menu.
    } else if (key == Qt::Key_F3 && (chord & ~Qt::ShiftModifier) == Qt::NoModifier) {
        FindBar->FindNext(chord == Qt::ShiftModifier);
    } else if (key == Qt::Key_F4 && chord == Qt::NoModifier) {
        ToggleInputLine();
        FSkipKeyPress = true;
    } else if (key == Qt::Key_Insert && chord == Qt::AltModifier) {
        ToggleTimestamps();
        FSkipKeyPress = true;
    }
}

// A key and its character arrive as one event here: when the key was a
// macro shortcut, its character (Ctrl+letter, 1 to 26) goes nowhere. The
// event is held while the macro is sent, so even a macro with pauses cannot
// let it through to the pane.
bool TQxConsoleWindow::FormKeyPress() {
    if (!FSkipKeyPress)
        return false;
    FSkipKeyPress = false;
    return true;
}

void TQxConsoleWindow::MacroBoxKeyPress(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        MacroBtnClick();
}

// ---------------------------------------------------------------------------
// Commands

void TQxConsoleWindow::SBSettingsClick() {
    const TAliveGuard guard(this);
    const QPointer<TQxPreferences> dialog = new TQxPreferences(this);
    dialog->PageControl->setCurrentWidget(dialog->ComPage);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!guard.Alive())
        return;
    delete dialog.data();
    if (accepted)
        ApplyChangedSettings(*this);
}

void TQxConsoleWindow::ConsoleMenuClearClick() {
    FConsole->ClearScreen();
}

// Starts or stops a recording. The status bar follows either way, so the
// Logfile button is down exactly while a recording runs, whatever its own
// toggling did.
// The dialog adds its own open request to the port for the download; the
// pane keeps showing what the target sends meanwhile.
void TQxConsoleWindow::SBTransferClick() {
    RunDownloadDialog(this, SerialPort(), TransferSync);
}

void TQxConsoleWindow::ConsoleMenuLoggingClick() {
    if (FConsole->Log().Active)
        StopRecording();
    else
        StartRecording();
}

void TQxConsoleWindow::StartRecording() {
    TFileDialogRequest request;
    request.Title = QStringLiteral("Enter or select a logfile...");
    request.InitialFile = FConsole->Log().FileName;
    request.Filters = {QStringLiteral("Logfiles (*.log)|*.log"),
                       QStringLiteral("All Files (*.*)|*")};
    request.DefaultSuffix = QStringLiteral("log");
    request.MustExist = false;
    const TAliveGuard guard(this);
    const QString fileName = Interaction().ChooseFile(this, request);
    if (!guard.Alive())
        return;
    if (!fileName.isEmpty())
        FConsole->SetLogFile(fileName);
    UpdateStatusBar();
}

void TQxConsoleWindow::StopRecording() {
    FConsole->SetRecording(false);
    UpdateStatusBar();
    const QString fileName = FConsole->Log().FileName;
    if (Interaction().Question(this,
                               QStringLiteral("Do you want to open the recorded logfile now?")))
        Interaction().OpenDocument(fileName);
}

void TQxConsoleWindow::SBHelpClick() {
    ShowBubbleForm(this);
}

// While paused the pane drops what it is given, received bytes and echo
// alike. The popup set the check mark to the opposite of the pane's state.
void TQxConsoleWindow::ConsoleMenuPauseClick() {
    FConsole->SetDisplaying(ConsoleMenuPause->isChecked());
    UpdateStatusBar();
}

// Changing the hint makes Qt create the window anew, hidden: show it again
// where it was.
void TQxConsoleWindow::ConsoleMenuStayTopClick() {
    const bool onTop = !windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    show();
}

// The shortcuts work without the panel; the popup is then the only way back.
void TQxConsoleWindow::ConsoleMenuButtonsClick() {
    MacroPanel->setVisible(!MacroPanel->isVisible());
}

void TQxConsoleWindow::ConsoleMenuCursorClick() {
    FConsole->SetCursorOn(!FConsole->CursorOn());
}

void TQxConsoleWindow::ConsoleMenuPopup() {
    ConsoleMenuPause->setChecked(!FConsole->Displaying());
    ConsoleMenuLogging->setChecked(FConsole->Log().Active);
    ConsoleMenuStayTop->setChecked(windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    ConsoleMenuButtons->setChecked(MacroPanel->isVisible());
    ConsoleMenuCursor->setChecked(FConsole->CursorOn());
    ConsoleMenuInputLine->setChecked(InputLine->isVisibleTo(this));
    FLineControl->UpdateMenu();
    ConsoleMenuCopy->setEnabled(FConsole->HasSelection());
    ConsoleMenuCopyTimes->setEnabled(FConsole->HasSelection());
    ConsoleMenuTimestamps->setChecked(FConsole->ShowTimestamps());
    ConsoleMenuStopPaste->setEnabled(FConsole->Pasting());
}

// ---------------------------------------------------------------------------
// Macros

void TQxConsoleWindow::SetMacros(const QList<QByteArray>& macros) {
    MacroBox->SetMacros(macros);
    MacroBoxChange();
}

void TQxConsoleWindow::MacroBoxChange() {
    SBMacro->setEnabled(!MacroBox->CurrentMacroText().isEmpty());
}

void TQxConsoleWindow::MacroBtnClick() {
    if (FSending)
        return;
    FSending = true;
    if (MacroBox->currentIndex() < 0) {
        Interaction().Beep();
    } else {
        const TAliveGuard guard(this);
        const QList<TMacroPiece> pieces = SplitAtDelays(DecodeMacro(MacroBox->CurrentMacroText()));
        for (const TMacroPiece& piece : pieces) {
            SendChunk(piece.Bytes);
            if (!Delay(piece.PauseMs))
                break;
        }
        if (!guard.Alive())
            return; // the window is gone: nothing of it may be touched
    }
    FConsole->setFocus();
    FSending = false;
}

// One write, echoed to the pane when local echo is on. Macros are sent
// exactly as decoded: no CR to CR LF here.
void TQxConsoleWindow::SendChunk(const QByteArray& chunk) {
    if (chunk.isEmpty())
        return;
    WritePort(chunk);
    if (FConsole->LocalEcho())
        FConsole->WriteText(chunk);
}

// The event loop runs while a timer counts down: the window stays responsive
// and the process sleeps. Closing the window or ending the program cuts the
// wait short; the window may even be destroyed meanwhile.
bool TQxConsoleWindow::Delay(int milliseconds) {
    if (milliseconds <= 0)
        return !FClosing;
    const TAliveGuard guard(this);
    QEventLoop loop;
    bool elapsed = false;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, [&loop, &elapsed] {
        elapsed = true;
        loop.quit();
    });
    FDelayLoop = &loop;
    loop.exec();
    if (!guard.Alive())
        return false;
    FDelayLoop = nullptr;
    return elapsed && !FClosing;
}

// ---------------------------------------------------------------------------
// Input line

void TQxConsoleWindow::CreateInputLine() {
    InputLine = new TInputLine(this);
    const TInputLineSettings settings = LoadInputLineSettings();
    InputLine->UseSettings(settings);
    InputLine->setVisible(settings.Visible);
    InputLine->OnSend = [this](const QByteArray& bytes) { return SendInputLine(bytes); };
    InputLine->OnMessage = [this](const QString& text) {
        Interaction().Beep();
        StatusBar->showMessage(text, StatusMessageMs);
    };
    InputLine->OnSettingsChanged = [this] { KeepInputLineSettings(); };
    ConsoleMenuInputLine = AddMenuItem("ConsoleMenuInputLine", QStringLiteral("&Input Line\tF4"));
    ConsoleMenuInputLine->setCheckable(true);
    ConsoleMenu->insertAction(N2, ConsoleMenuInputLine);
    connect(ConsoleMenuInputLine, &QAction::triggered, this, [this] { ToggleInputLine(); });
}

void TQxConsoleWindow::ToggleInputLine() {
    const bool show = !InputLine->isVisibleTo(this);
    InputLine->setVisible(show);
    if (show) {
        InputLine->Edit->setFocus();
    } else {
        InputLine->StopRepeat();
        FConsole->setFocus();
    }
    KeepInputLineSettings();
}

bool TQxConsoleWindow::SendInputLine(const QByteArray& bytes) {
    const TQxComPort& port = SerialPort();
    const bool open = port.Open() && !port.Disconnected();
    SendChunk(bytes);
    return open;
}

// A settings file that cannot be written keeps the old state; the status bar
// says so, no box for every line sent.
void TQxConsoleWindow::KeepInputLineSettings() {
    if (!SaveInputLineSettings(InputLine->Settings()))
        StatusBar->showMessage(ProfileWriteErrorText(SettingsFileName()), StatusMessageMs);
}

// ---------------------------------------------------------------------------
// Timestamps

// The margin item goes with the other views of the pane, the copy and save
// items beside their plain forms.
void TQxConsoleWindow::CreateTimestampItems() {
    FConsole->SetShowTimestamps(TSettingsModel().ShowTimestamps());
    ConsoleMenuTimestamps =
        AddMenuItem("ConsoleMenuTimestamps", QStringLiteral("Ti&mestamps\tAlt+Ins"));
    ConsoleMenuTimestamps->setCheckable(true);
    ConsoleMenu->insertAction(N3, ConsoleMenuTimestamps);
    ConsoleMenuCopyTimes = AddMenuItem("ConsoleMenuCopyTimes",
                                       QStringLiteral("Cop&y with Timestamps\tCtrl+Shift+Ins"));
    ConsoleMenu->insertAction(ConsoleMenuPaste, ConsoleMenuCopyTimes);
    ConsoleMenuSaveTimes =
        AddMenuItem("ConsoleMenuSaveTimes", QStringLiteral("Save Scrollback &with Timestamps..."));
    ConsoleMenu->insertAction(ConsoleMenuClearScrollback, ConsoleMenuSaveTimes);
    connect(ConsoleMenuTimestamps, &QAction::triggered, this, [this] { ToggleTimestamps(); });
    connect(ConsoleMenuCopyTimes, &QAction::triggered, this,
            [this] { FConsole->CopyWithTimestamps(); });
    connect(ConsoleMenuSaveTimes, &QAction::triggered, this,
            [this] { FConsole->SaveScrollback(true); });
}

// A settings file that cannot be written keeps the margin as it is shown
// for this run; the status bar says so.
void TQxConsoleWindow::ToggleTimestamps() {
    FConsole->SetShowTimestamps(!FConsole->ShowTimestamps());
    TSettingsModel settings;
    if (!settings.SaveShowTimestamps(FConsole->ShowTimestamps()))
        StatusBar->showMessage(settings.WriteError().Text(), StatusMessageMs);
}
