// The commands of the toolbar and the popup menu, and the settings applied to
// the port, the pane and the window: at the first showing and after the
// settings dialog. The main window runs on the offscreen platform with COM1
// on a pseudo-terminal; modal dialogs are driven while they are shown.
#include "app/TLineControl.h"
#include "app/TMacroBox.h"
#include "app/TQtInteraction.h"
#include "download/TQxLoaderDlg.h"
#include "help/TBubbleForm.h"
#include "platform/ModemStatus.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "settings/TQxPreferences.h"
#include "settings/TRadioGroup.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"
#include "tests/support/SmallDisk.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <functional>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

using ByteList = QList<QByteArray>;

const QString LogfileQuestion = QStringLiteral("Do you want to open the recorded logfile now?");

termios LineOf(const PtyPair& pty) {
    termios line{};
    tcgetattr(pty.MasterFd(), &line);
    return line;
}

// Calls Act with the modal dialog of type T as soon as it is shown; Act must
// close it. Gives up after ten seconds.
template <class T> void WhenModal(std::function<void(T&)> act) {
    auto* timer = new QTimer(qApp);
    QElapsedTimer waited;
    waited.start();
    QObject::connect(timer, &QTimer::timeout, [timer, act, waited] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible())
            act(*dialog);
        else if (!waited.hasExpired(10000))
            return;
        timer->stop();
        timer->deleteLater();
    });
    timer->start(10);
}

// Opens the popup with a right click on the pane and returns it once shown.
QMenu* OpenPopup(AppWindowFixture& f) {
    TQxConsole* pane = f.Window->Console();
    const QPoint at = pane->mapTo(f.Window.get(), pane->rect().center());
    QTest::mouseClick(f.Window->windowHandle(), Qt::RightButton, {}, at);
    QMenu* menu = f.Window->ConsoleMenu;
    return QTest::qWaitFor([menu] { return menu->isVisible(); }) ? menu : nullptr;
}

// Chooses Item in the popup as the user does: right click, then left click.
bool Choose(AppWindowFixture& f, QAction* item) {
    QMenu* menu = OpenPopup(f);
    if (!menu)
        return false;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    return QTest::qWaitFor([menu] { return !menu->isVisible(); });
}

struct CheckMarks {
    bool Pause, Logging, StayTop, Buttons, Cursor;
    bool operator==(const CheckMarks&) const = default;
};

CheckMarks MarksOf(const TQxConsoleWindow& window) {
    return {window.ConsoleMenuPause->isChecked(), window.ConsoleMenuLogging->isChecked(),
            window.ConsoleMenuStayTop->isChecked(), window.ConsoleMenuButtons->isChecked(),
            window.ConsoleMenuCursor->isChecked()};
}

QByteArray ReadAllOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

namespace QTest {
template <> char* toString(const CheckMarks& marks) {
    return qstrdup(QStringLiteral("Pause %1 Logging %2 StayTop %3 Buttons %4 Cursor %5")
                       .arg(marks.Pause)
                       .arg(marks.Logging)
                       .arg(marks.StayTop)
                       .arg(marks.Buttons)
                       .arg(marks.Cursor)
                       .toLatin1()
                       .constData());
}
} // namespace QTest

// Stands in for the driver's modem-line calls: keeps the output lines the
// program sets, counts breaks, and reports Input with the output lines.
class TFakeModemDriver : public TModemStatusSource {
public:
    TFakeModemDriver() { SetModemStatusSource(this); }
    ~TFakeModemDriver() override { SetModemStatusSource(nullptr); }
    std::optional<int> Read(int) override { return Input | Output; }
    bool SetLines(int, int bits, bool on) override {
        Output = on ? (Output | bits) : (Output & ~bits);
        return true;
    }
    bool SendBreak(int) override {
        ++Breaks;
        return true;
    }
    // The monitor reads them from its own thread.
    std::atomic<int> Input{0};
    std::atomic<int> Output{TIOCM_DTR | TIOCM_RTS}; // as open() leaves them
    std::atomic<int> Breaks{0};
};

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    // -- Settings ----------------------------------------------------------

    // The port is opened only after the settings are applied: COM1 leads
    // nowhere, so opening it first would warn.
    void settingsFileIsAppliedAtTheFirstShowing() {
        AppWindowFixture f;
        f.Dir.MapDevice(1, f.Dir.Path() + "no-such-tty");
        f.Dir.MapDevice(2, f.Pty.SlavePath());
        f.Dir.WriteFile("Console.ini", f.Dir.ReadFile("Console.ini") +
                                           "[COM-Device]\r\nPort=COM2\r\nBaudrate=57600\r\n"
                                           "Databits=7\r\nStopbits=2\r\nParity=even\r\nFlowControl=RTSCTS\r\n"
                                           "[Terminal]\r\nEmulation=HEX\r\nEcho=1\r\n"
                                           "CRLF(In)=1\r\nCRLF(Out)=1\r\n"
                                           "[Macros]\r\nMacro0=first\r\nMacro1=second#13\r\n"
                                           "[Transfer]\r\nLastFile=<qxroot>demo.s19\r\n");
        QVERIFY(f.Show());

        QVERIFY(f.Fake.Prompts.isEmpty());
        QVERIFY(SerialPort().Open());
        const termios line = LineOf(f.Pty);
        // A pty keeps the speed and the stop bits; it forces 8 data bits
        // without parity, which panel 0 shows instead.
        QCOMPARE(uint(cfgetospeed(&line)), uint(B57600));
        QVERIFY(line.c_cflag & CSTOPB);

        QCOMPARE(f.Window->MacroBox->count(), 2);
        QCOMPARE(f.Window->MacroBox->CurrentMacroText(), QByteArray());
        f.Window->MacroBox->setCurrentIndex(1);
        QCOMPARE(f.Window->MacroBox->CurrentMacroText(), QByteArray("second#13"));
        const TQxConsole* pane = f.Window->Console();
        QVERIFY(pane->LocalEcho());
        QVERIFY(pane->HexEmulation());
        QVERIFY(pane->CRLFIn());
        QVERIFY(pane->CRLFOut());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM2: 57600,7,E,2 RTS/CTS"));
        QCOMPARE(f.Window->StatusText(1), QStringLiteral("HEX"));
        QCOMPARE(f.Window->StatusText(2), QStringLiteral("Echo"));
        // The marker was expanded before the settings were read.
        const TProfileFile file(f.Dir.SettingsFile());
        QCOMPARE(file.ReadString("Transfer", "LastFile", ""),
                 QFile::encodeName(f.Dir.Path() + "demo.s19"));
    }

    // The marker cannot be expanded in a read-only file: the user is told,
    // and the program starts with the file's settings and its port open.
    void readOnlySettingsFileStillStarts() {
        AppWindowFixture f;
        f.WriteSetting("Terminal", "Echo", "1");
        f.WriteSetting("Transfer", "LastFile", "<qxroot>demo.s19");
        QVERIFY(QFile::setPermissions(f.Dir.SettingsFile(), QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(f.Show());

        QCOMPARE(f.Fake.WarningTexts(),
                 QStringList{QStringLiteral("Unable to write to %1").arg(f.Dir.SettingsFile())});
        QVERIFY(f.Window->Console()->LocalEcho());
        QVERIFY(SerialPort().Open());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
        QCOMPARE(TProfileFile(f.Dir.SettingsFile()).ReadString("Transfer", "LastFile", ""),
                 QByteArray("<qxroot>demo.s19"));
    }

    // Only the line parameters changed: they reach the device and panel 0 at
    // once, and the terminal group is not applied again. Cancel applies and
    // writes nothing.
    // A rate above the buttons' from the settings file reaches the line and
    // the status bar as the driver reports it.
    void fastRateFromTheSettingsFile() {
        AppWindowFixture f;
        f.WriteSetting("COM-Device", "Baudrate", "921600");
        QVERIFY(f.Show());
        QCOMPARE(ReadLineSpeed(f.Pty.MasterFd()), 921600);
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 921600,8,N,1"));
        QVERIFY(f.Fake.Prompts.isEmpty());
        // A pseudo-terminal answers no modem-line call: the indicators say so.
        QVERIFY(f.Window->LineControl()->LinePanel->text().contains("n/a"));
        QVERIFY(!f.Window->LineControl()->ErrorPanel->isVisible());
    }

    // DTR and RTS as Console.ini gives them at open, switched from the
    // popup menu, a break, and the input lines in the status bar, all as
    // seen through a modem-line source standing in for the driver.
    void lineControlAtOpenFromTheMenuAndInTheStatusBar() {
        TFakeModemDriver driver;
        AppWindowFixture f;
        f.WriteSetting("COM-Device", "DTR", "0");
        QVERIFY(f.Show());
        QCOMPARE(driver.Output, int(TIOCM_RTS));
        QCOMPARE(LineOf(f.Pty).c_cflag & HUPCL, tcflag_t(0));
        TLineControl& lines = *f.Window->LineControl();
        driver.Input = TIOCM_CTS | TIOCM_CD;
        lines.UpdateLineStatus();
        QVERIFY(lines.LinePanel->text().contains("<b>CTS</b>"));
        QVERIFY(lines.LinePanel->text().contains("<b>DCD</b>"));
        QVERIFY(!lines.LinePanel->text().contains("<b>DSR</b>"));
        QVERIFY(!lines.ErrorPanel->isVisible());

        f.Window->ConsoleMenuPopup();
        QVERIFY(!lines.ConsoleMenuDTR->isChecked() && lines.ConsoleMenuRTS->isChecked());
        lines.ConsoleMenuDTR->trigger();
        lines.ConsoleMenuRTS->trigger();
        lines.ConsoleMenuBreak->trigger();
        QCOMPARE(driver.Output, int(TIOCM_DTR));
        QCOMPARE(driver.Breaks, 1);
        f.Window->ConsoleMenuPopup();
        QVERIFY(lines.ConsoleMenuDTR->isChecked() && !lines.ConsoleMenuRTS->isChecked());
    }

    void baudRateChangeInTheSettingsDialog_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }

    void baudRateChangeInTheSettingsDialog() {
        QFETCH(bool, ok);
        AppWindowFixture f;
        QVERIFY(f.Show());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
        // Echo is off in the settings; this tells whether they are applied.
        f.Window->Console()->SetLocalEcho(true);
        const QByteArray fileBefore = f.Dir.ReadFile("Console.ini");

        bool onInterfacePage = false;
        WhenModal<TQxPreferences>([&](TQxPreferences& dialog) {
            onInterfacePage = dialog.PageControl->currentWidget() == dialog.ComPage;
            dialog.BaudBox->SetItemIndex(int(dialog.BaudBox->Items().indexOf("57600")));
            QTest::mouseClick(ok ? dialog.OKBtn : dialog.CancelBtn, Qt::LeftButton);
        });
        f.Window->SBSettings->click();

        QVERIFY(onInterfacePage);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(f.Window->findChildren<TQxPreferences*>().isEmpty());
        const termios line = LineOf(f.Pty);
        QVERIFY(f.Window->Console()->LocalEcho());
        if (ok) {
            QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 57600,8,N,1"));
            QCOMPARE(uint(cfgetospeed(&line)), uint(B57600));
            QCOMPARE(TProfileFile(f.Dir.SettingsFile()).ReadString("COM-Device", "Baudrate", ""),
                     QByteArray("57600"));
        } else {
            QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
            QCOMPARE(uint(cfgetospeed(&line)), uint(B19200));
            QCOMPARE(f.Dir.ReadFile("Console.ini"), fileBefore);
        }
    }

    // -- Download --------------------------------------------------------------

    // The dialog sends on the window's port with the line synchronisation of
    // the settings (none here: the target never answers), and the port stays
    // open for the window afterwards.
    void downloadSendsOnTheWindowsPort() {
        AppWindowFixture f;
        f.WriteSetting("Transfer", "SyncMode", "NONE");
        f.Dir.WriteFile("demo.txt", "line 1\nline 2\n");
        QVERIFY(f.Show());

        bool samePort = false;
        WhenModal<TQxLoaderDlg>([&](TQxLoaderDlg& dialog) {
            samePort = dialog.ComPort() == &SerialPort();
            dialog.HexFileEdit->setText(f.Dir.Path() + "demo.txt");
            QTest::mouseClick(dialog.LoadBtn, Qt::LeftButton);
            // A failed download leaves the dialog open: close it then.
            if (QTest::qWaitFor([&dialog] { return !dialog.Busy(); }, 20000) && dialog.isVisible())
                dialog.reject();
        });
        f.Window->SBTransfer->click();

        QVERIFY(samePort);
        QVERIFY(f.Fake.Prompts.isEmpty());
        QCOMPARE(f.Pty.ReadAll(), QByteArray("line 1\r\nline 2\r\n"));
        QVERIFY(f.Window->findChildren<TQxLoaderDlg*>().isEmpty());
        QVERIFY(SerialPort().Open());
        QCOMPARE(SerialPort().Requests(), 1);
        QVERIFY(f.Pty.Write("still here"));
        QTRY_COMPARE(f.ScreenLines(), ByteList{"still here"});
    }

    // -- Logfile -------------------------------------------------------------

    void logfileNotStarted_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("dialog cancelled") << true;
        QTest::newRow("file cannot be opened") << false;
    }

    void logfileNotStarted() {
        QFETCH(bool, cancel);
        AppWindowFixture f;
        QVERIFY(f.Show());
        if (!cancel)
            f.Fake.FileAnswers << f.Dir.Path() + "no-such-dir/x.log";

        f.Window->SBLogging->click();

        QVERIFY(!f.Window->Console()->Log().Active);
        QVERIFY(!f.Window->SBLogging->isChecked());
        QCOMPARE(f.Window->StatusText(3), QString());
        QCOMPARE(f.Fake.WarningTexts().size(), cancel ? 0 : 1);
        QCOMPARE(f.Fake.FileRequests.size(), 1);
        const TFileDialogRequest& request = f.Fake.FileRequests.first();
        QCOMPARE(request.Title, QStringLiteral("Enter or select a logfile..."));
        QCOMPARE(request.InitialFile, QString());
        QCOMPARE(request.Filters, (QStringList{QStringLiteral("Logfiles (*.log)|*.log"),
                                               QStringLiteral("All Files (*.*)|*")}));
        QCOMPARE(request.InitialFilter, 0);
        QCOMPARE(request.DefaultSuffix, QStringLiteral("log"));
        QVERIFY(!request.MustExist);
    }

    // Start with the button, stop from the popup and decline to open the
    // file; start again (the dialog offers the name as typed, capitals and
    // all), stop with the button and open the file.
    void logfileStartsAndStops() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        const QString path = f.Dir.Path() + "Session.LOG";
        f.Fake.FileAnswers << path << path;
        f.Fake.QuestionAnswers << false << true;

        f.Window->SBLogging->click();
        QVERIFY(f.Window->Console()->Log().Active);
        QVERIFY(f.Window->SBLogging->isChecked());
        QCOMPARE(f.Window->StatusText(3), path);
        QVERIFY(f.Pty.Write("recorded\r\n"));
        QTRY_COMPARE(f.ScreenLines(), ByteList{"recorded"});

        QVERIFY(Choose(f, f.Window->ConsoleMenuLogging));
        QVERIFY(!f.Window->Console()->Log().Active);
        QVERIFY(!f.Window->SBLogging->isChecked());
        QCOMPARE(f.Window->StatusText(3), QString());
        QVERIFY(f.Fake.Opened.isEmpty());
        const QByteArray first = ReadAllOf(path);
        QVERIFY(first.contains("\r\nrecorded "));
        QVERIFY(first.contains("--- End of recording: "));

        f.Window->SBLogging->click();
        QCOMPARE(f.Fake.FileRequests.value(1).InitialFile, path);
        QVERIFY(f.Window->SBLogging->isChecked());
        f.Window->SBLogging->click();
        QVERIFY(!f.Window->SBLogging->isChecked());

        QCOMPARE(f.Fake.Opened, QStringList{path});
        QCOMPARE(f.Fake.Prompts.last().Kind, QStringLiteral("open"));
        QCOMPARE(f.Fake.Prompts.value(f.Fake.Prompts.size() - 2).Text, LogfileQuestion);
        QCOMPARE(ReadAllOf(path).count("--- End of recording: "), 2);
    }

    // A recording that a full disk ends shows so at once: the button is up
    // and the status bar names no file.
    void aRecordingEndedByAFullDiskShowsAsEnded() {
        SmallDisk disk(16);
        QSKIP_WITHOUT_DISK(disk);
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Fake.FileAnswers << disk.Path() + "full.log";
        f.Window->SBLogging->click();
        QVERIFY(f.Window->SBLogging->isChecked());
        for (int i = 0; i < 2000 && f.Window->Console()->Log().Active; ++i)
            f.Window->Console()->WriteText("filling the disk\r\n");
        QVERIFY(!f.Window->SBLogging->isChecked());
        QCOMPARE(f.Window->StatusText(3), QString());
        QTRY_COMPARE(f.Fake.WarningTexts(), QStringList{TConsoleScreen::WriteFailedText});
    }

    // The program's own file dialog adds the extension to a name typed
    // without one.
    void typedNameWithoutExtensionGetsLog() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        TQtInteraction qtInteraction;
        SetInteraction(&qtInteraction);
        WhenModal<QFileDialog>([&f](QFileDialog& dialog) {
            dialog.setDirectory(f.Dir.Path());
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(QStringLiteral("session"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        f.Window->SBLogging->click();
        SetInteraction(&f.Fake);

        QCOMPARE(f.Window->Console()->Log().FileName, f.Dir.Path() + "session.log");
        QVERIFY(f.Window->Console()->Log().Active);
        f.Window->Console()->SetRecording(false);
        QVERIFY(ReadAllOf(f.Dir.Path() + "session.log").contains("--- End of recording: "));
    }

    // -- Pause -----------------------------------------------------------------

    void pausedTextIsNeitherShownNorRecorded() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        const QString path = f.Dir.Path() + "pause.log";
        f.Fake.FileAnswers << path;
        f.Window->SBLogging->click();
        QVERIFY(f.Pty.Write("before\r\n"));
        QTRY_COMPARE(f.ScreenLines(), ByteList{"before"});

        QVERIFY(Choose(f, f.Window->ConsoleMenuPause));
        QVERIFY(!f.Window->Console()->Displaying());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("Pause"));
        QVERIFY(f.Pty.Write("hidden\r\n"));
        QTest::qWait(200);
        // The window has read the bytes (and dropped them).
        QTRY_COMPARE(SerialPort().RxBufferCount(), 0u);

        QVERIFY(Choose(f, f.Window->ConsoleMenuPause));
        QVERIFY(f.Window->Console()->Displaying());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
        QVERIFY(f.Pty.Write("after\r\n"));
        QTRY_COMPARE(f.ScreenLines(), (ByteList{"before", "after"}));

        f.Window->ConsoleMenuLoggingClick();
        const QByteArray log = ReadAllOf(path);
        QVERIFY(log.contains("before"));
        QVERIFY(log.contains("after"));
        QVERIFY(!log.contains("hidden"));
    }

    // -- Popup menu and panel --------------------------------------------------

    void popupCheckMarksFollowTheState() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QMenu* menu = OpenPopup(f);
        QVERIFY(menu);
        QCOMPARE(MarksOf(*f.Window), (CheckMarks{false, false, false, true, true}));
        menu->close();

        f.Window->Console()->SetDisplaying(false);
        f.Fake.FileAnswers << f.Dir.Path() + "marks.log";
        f.Window->ConsoleMenuLoggingClick();
        f.Window->ConsoleMenuStayTopClick();
        f.Window->ConsoleMenuButtonsClick();
        f.Window->ConsoleMenuCursorClick();
        menu = OpenPopup(f);
        QVERIFY(menu);
        QCOMPARE(MarksOf(*f.Window), (CheckMarks{true, true, true, false, false}));
        QVERIFY(!f.Window->ConsoleMenuClear->isChecked());
        menu->close();
    }

    // Choosing Pause does not flip its check mark: the pane goes to the
    // state the popup's mark showed, so choosing it again without the popup
    // opening in between changes nothing.
    void pauseFollowsTheMarkThePopupSet() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(Choose(f, f.Window->ConsoleMenuPause));
        QVERIFY(!f.Window->Console()->Displaying());
        QVERIFY(!f.Window->ConsoleMenuPause->isChecked());
        f.Window->ConsoleMenuPause->trigger();
        QVERIFY(!f.Window->Console()->Displaying());
        QVERIFY(Choose(f, f.Window->ConsoleMenuPause));
        QVERIFY(f.Window->Console()->Displaying());
    }

    void hiddenPanelKeepsTheShortcuts() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->SetMacros({"first", "second"});
        const int paneHeight = f.Window->Console()->height();

        QVERIFY(Choose(f, f.Window->ConsoleMenuButtons));
        QVERIFY(!f.Window->MacroPanel->isVisible());
        QTRY_VERIFY(f.Window->Console()->height() > paneHeight);
        f.Window->Console()->setFocus();
        QTest::sendKeyEvent(QTest::Click, f.Window->windowHandle(), Qt::Key_A,
                            QStringLiteral("\x01"), Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(f.Pty.ReadAll(), QByteArray("first"));

        QVERIFY(Choose(f, f.Window->ConsoleMenuButtons));
        QVERIFY(f.Window->MacroPanel->isVisible());
        QTRY_COMPARE(f.Window->Console()->height(), paneHeight);
    }

    // -- Commands that leave the status bar alone ----------------------------

    void commandsDoWhatTheySay_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("Clear button") << "SBClear";
        QTest::newRow("Clear Display") << "ConsoleMenuClear";
        QTest::newRow("Alway on Top") << "ConsoleMenuStayTop";
        QTest::newRow("Panel") << "ConsoleMenuButtons";
        QTest::newRow("Cursor") << "ConsoleMenuCursor";
        QTest::newRow("Help button") << "SBHelp";
    }

    void commandsDoWhatTheySay() {
        QFETCH(QString, command);
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(f.Pty.Write("text"));
        QTRY_COMPARE(f.ScreenLines(), ByteList{"text"});
        TQxConsole* pane = f.Window->Console();
        // Changed behind the status bar's back: it shows the old state until
        // a command refreshes it.
        pane->SetLocalEcho(true);
        pane->SetDisplaying(false);

        if (auto* button = f.Window->findChild<QToolButton*>(command)) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QAction* item = nullptr;
            for (QAction* action : f.Window->ConsoleMenu->actions()) {
                if (action->objectName() == command)
                    item = action;
            }
            QVERIFY(item);
            QVERIFY(Choose(f, item));
        }

        QCOMPARE(f.ScreenLines().isEmpty(), command.contains("Clear"));
        QCOMPARE(f.Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint),
                 command == "ConsoleMenuStayTop");
        QVERIFY(f.Window->isVisible());
        QCOMPARE(f.Window->MacroPanel->isVisible(), command != "ConsoleMenuButtons");
        QCOMPARE(pane->CursorOn(), command != "ConsoleMenuCursor");
        QCOMPARE(BubbleForm && BubbleForm->isVisible(), command == "SBHelp");
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
        QCOMPARE(f.Window->StatusText(2), QString());
    }

    void alwaysOnTopTogglesAndKeepsThePlace() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->move(140, 130);
        QTRY_COMPARE(f.Window->pos(), QPoint(140, 130));

        QVERIFY(Choose(f, f.Window->ConsoleMenuStayTop));
        QVERIFY(f.Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(QTest::qWaitForWindowExposed(f.Window.get()));
        QCOMPARE(f.Window->pos(), QPoint(140, 130));
        // The shortcuts still reach the window.
        f.Window->SetMacros({"top"});
        QTest::sendKeyEvent(QTest::Click, f.Window->windowHandle(), Qt::Key_A,
                            QStringLiteral("\x01"), Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(f.Pty.ReadAll(), QByteArray("top"));

        QVERIFY(Choose(f, f.Window->ConsoleMenuStayTop));
        QVERIFY(!f.Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(f.Window->isVisible());
    }
};

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
