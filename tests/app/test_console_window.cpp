// The main window on the offscreen platform with COM1 on a pseudo-terminal:
// the roads of received bytes and typed keys, the macro shortcuts, the
// status bar, the size limits and the placement in the settings file.
#include "app/QuitSignals.h"
#include "app/TMacroBox.h"
#include "app/TQtInteraction.h"
#include "help/TBubbleForm.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "terminal/TFindBar.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

#include <csignal>

namespace {

using ByteList = QList<QByteArray>;

const QString OpenWarning = QStringLiteral(
    "Unable to open the selected serial interface!\n\r\n\r     Please check, if any other "
    "application\n\r             already uses this device.");

// A key as the window system delivers it: through the window, to whichever
// control has the focus.
void Type(QWidget* window, Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers = {}) {
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), key, text, modifiers);
}

} // namespace

class TestConsoleWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    // -- Received bytes ----------------------------------------------------

    void receivedBytesAppearInThePane() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(f.Pty.Write("Hello\r\nWorld"));
        QTRY_COMPARE(f.ScreenLines(), (ByteList{"Hello", "World"}));
        // Another block continues where the first one ended.
        QVERIFY(f.Pty.Write("!\r\nthird"));
        QTRY_COMPARE(f.ScreenLines(), (ByteList{"Hello", "World!", "third"}));
    }

    void receiveWithCountZeroShowsNothing() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        const int row = f.Window->Console()->Row();
        const int col = f.Window->Console()->Col();

        f.Window->ComPortReceive(0);

        QVERIFY(f.ScreenLines().isEmpty());
        QCOMPARE(f.Window->Console()->Row(), row);
        QCOMPARE(f.Window->Console()->Col(), col);
    }

    // While the port waits for a sequence, each byte it reads is shown once.
    void scannedBytesAppearInThePane() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(f.Pty.Write("x*ok"));
        QVERIFY(SerialPort().WaitForSequence("ok", 2000));
        QTest::qWait(100);
        QCOMPARE(f.ScreenLines(), ByteList{"x*ok"});
    }

    // -- Typed keys ----------------------------------------------------------

    void typedKeysArriveInOrder() {
        AppWindowFixture f;
        f.WriteSetting("Terminal", "Echo", "1");
        QVERIFY(f.Show());
        const QByteArray text = "Hello, world! 0123";
        for (const char ch : text)
            QTest::keyClick(f.Window->windowHandle(), ch);
        QCOMPARE(f.Pty.Read(int(text.size())), text);
        QCOMPARE(f.ScreenLines(), ByteList{text});
    }

    void enterSendsCrLfWithoutEcho() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->Console()->SetLocalEcho(false);
        f.Window->Console()->SetCRLFOut(true);

        Type(f.Window.get(), Qt::Key_Return, QStringLiteral("\r"));

        QCOMPARE(f.Window->WrittenBytes(), (ByteList{"\r", "\n"}));
        QCOMPARE(f.Pty.ReadAll(), QByteArray("\r\n"));
        QVERIFY(f.ScreenLines().isEmpty());
    }

    void keysAndShortcuts_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sent");
        const int shiftCtrl = Qt::ShiftModifier | Qt::ControlModifier;
        QTest::newRow("Shift+Ctrl+A sends macro 1")
            << int(Qt::Key_A) << shiftCtrl << "\x01" << QByteArray("one");
        QTest::newRow("Shift+Ctrl+B sends macro 2")
            << int(Qt::Key_B) << shiftCtrl << "\x02" << QByteArray("two");
        QTest::newRow("Shift+Ctrl+C without macro 3")
            << int(Qt::Key_C) << shiftCtrl << "\x03" << QByteArray();
        QTest::newRow("Ctrl+A is a typed control character")
            << int(Qt::Key_A) << int(Qt::ControlModifier) << "\x01" << QByteArray("\x01");
        QTest::newRow("Shift+Ctrl+Alt+A is no shortcut")
            << int(Qt::Key_A) << int(shiftCtrl | Qt::AltModifier) << "\x01" << QByteArray("\x01");
        QTest::newRow("Shift+A is a capital")
            << int(Qt::Key_A) << int(Qt::ShiftModifier) << "A" << QByteArray("A");
        QTest::newRow("Ctrl+Insert copies and sends nothing")
            << int(Qt::Key_Insert) << int(Qt::ControlModifier) << "" << QByteArray();
        QTest::newRow("Shift+Insert pastes as typed")
            << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << "" << QByteArray("pasted\r");
        QTest::newRow("Alt+Insert switches the time margin and sends nothing")
            << int(Qt::Key_Insert) << int(Qt::AltModifier) << "" << QByteArray();
        QTest::newRow("Ctrl+Shift+Insert copies with times and sends nothing")
            << int(Qt::Key_Insert) << shiftCtrl << "" << QByteArray();
        QTest::newRow("Ctrl+C stays a control character")
            << int(Qt::Key_C) << int(Qt::ControlModifier) << "\x03" << QByteArray("\x03");
    }

    void keysAndShortcuts() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QByteArray, sent);
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->Console()->SetLocalEcho(false);
        f.Window->SetMacros({"one", "two"});
        QGuiApplication::clipboard()->setText(QStringLiteral("pasted\n"));

        Type(f.Window.get(), Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));
        // The next key is typed as usual: nothing is left to be dropped.
        Type(f.Window.get(), Qt::Key_X, QStringLiteral("x"));

        QCOMPARE(f.Pty.ReadAll(), sent + "x");
        QVERIFY(f.Window->Console()->hasFocus());
    }

    // Alt+Insert switches the time margin; the next start shows it as left.
    void timeMarginIsRemembered() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(!f.Window->Console()->ShowTimestamps());
        Type(f.Window.get(), Qt::Key_Insert, QString(), Qt::AltModifier);
        QVERIFY(f.Window->Console()->ShowTimestamps());
        f.Window.reset();
        QVERIFY(f.Show());
        QVERIFY(f.Window->Console()->ShowTimestamps());
    }

    // F3 opens the find bar, Enter in it finds the match and scrolls the
    // view there, Escape closes it and the pane has the focus again.
    void f3FindsWithoutSendingAnything() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        TQxConsole* pane = f.Window->Console();
        for (int i = 0; i < 200; ++i)
            pane->WriteText((i == 20 ? "the needle " : "hay ") + QByteArray::number(i) + "\r\n");
        Type(f.Window.get(), Qt::Key_F3, QString());
        QTRY_VERIFY(f.Window->FindBar->FindEdit->hasFocus());
        QTest::keyClicks(f.Window->FindBar->FindEdit, QStringLiteral("NEEDLE"));
        Type(f.Window.get(), Qt::Key_Return, QStringLiteral("\r"));
        QVERIFY(pane->CurrentMatch().has_value());
        QCOMPARE(pane->CurrentMatch()->Col, 4);
        QVERIFY(pane->ScrolledBack());
        QVERIFY(pane->ViewTopLine() <= pane->CurrentMatch()->Line);
        Type(f.Window.get(), Qt::Key_Escape, QStringLiteral("\x1b"));
        QVERIFY(f.Window->FindBar->isHidden());
        QTRY_VERIFY(pane->hasFocus());
        QVERIFY(f.Pty.ReadAll().isEmpty());
    }

    // A macro with a pause runs the event loop while it is sent; the
    // shortcut's own character still goes nowhere.
    void shortcutOfAPausingMacroDropsItsCharacter() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->SetMacros({"A#27T200B"});

        Type(f.Window.get(), Qt::Key_A, QStringLiteral("\x01"),
             Qt::ShiftModifier | Qt::ControlModifier);

        QCOMPARE(f.Window->WrittenBytes(), (ByteList{"A", "B"}));
        QCOMPARE(f.Pty.ReadAll(), QByteArray("AB"));
        QCOMPARE(f.Window->MacroBox->currentIndex(), 0);
    }

    void shortcutsWorkFromTheMacroBox() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->SetMacros({"one", "two"});
        f.Window->MacroBox->setFocus();
        QTRY_VERIFY(f.Window->MacroBox->hasFocus());

        Type(f.Window.get(), Qt::Key_B, QStringLiteral("\x02"),
             Qt::ShiftModifier | Qt::ControlModifier);

        QCOMPARE(f.Pty.ReadAll(), QByteArray("two"));
        // After a send the pane has the focus.
        QVERIFY(f.Window->Console()->hasFocus());
    }

    void enterInTheMacroBoxSends() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->SetMacros({"one", "two"});
        f.Window->MacroBox->setCurrentIndex(1);
        f.Window->MacroBox->setFocus();
        QTRY_VERIFY(f.Window->MacroBox->hasFocus());

        Type(f.Window.get(), Qt::Key_Return, QStringLiteral("\r"));

        QCOMPARE(f.Pty.ReadAll(), QByteArray("two"));
    }

    void f1OpensOneHelpWindow() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(!BubbleForm);

        Type(f.Window.get(), Qt::Key_F1, QString());
        QVERIFY(BubbleForm);
        QTRY_VERIFY(BubbleForm->isVisible());
        TBubbleForm* first = BubbleForm;
        BubbleForm->hide();
        f.Window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.Window.get()));
        Type(f.Window.get(), Qt::Key_F1, QString(), Qt::ShiftModifier | Qt::ControlModifier);

        QCOMPARE(BubbleForm, first);
        QVERIFY(BubbleForm->isVisible());
        QVERIFY(f.Pty.ReadAll(50).isEmpty());
        // The help window goes with the main window.
        f.Window.reset();
        QVERIFY(!BubbleForm);
    }

    // -- Status bar ----------------------------------------------------------

    void portPanel_data() {
        QTest::addColumn<int>("com");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("databits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopbits");
        QTest::addColumn<QString>("text");
        QTest::newRow("COM1 9600 8N1")
            << 1 << int(br9600) << int(db8) << int(paNONE) << int(sb10) << "COM1: 9600,8,N,1";
        QTest::newRow("COM10 cut to 20 characters")
            << 10 << int(br115200) << int(db8) << int(paNONE) << int(sb15)
            << "COM10: 115200,8,N,1.";
        QTest::newRow("COM2 300 7E2")
            << 2 << int(br300) << int(db7) << int(paEVEN) << int(sb20) << "COM2: 300,7,E,2";
        QTest::newRow("COM3 57600 5O1.5")
            << 3 << int(br57600) << int(db5) << int(paODD) << int(sb15) << "COM3: 57600,5,O,1.5";
        QTest::newRow("COM9 19200 6 space 2")
            << 9 << int(br19200) << int(db6) << int(paSPACE) << int(sb20) << "COM9: 19200,6,S,2";
    }

    void portPanel() {
        QFETCH(int, com);
        QFETCH(int, baud);
        QFETCH(int, databits);
        QFETCH(int, parity);
        QFETCH(int, stopbits);
        QFETCH(QString, text);
        AppWindowFixture f;
        f.Dir.MapDevice(com, f.Pty.SlavePath());
        QVERIFY(f.Show());
        // Parameters the settings dialog does not offer, set on the open port.
        TQxComPort& port = SerialPort();
        port.SetComPort(TComPort(com - 1));
        port.SetBaudrate(TBaudrate(baud));
        port.SetDatabits(TDataBits(databits));
        port.SetParity(TParity(parity));
        port.SetStopBits(TStopBits(stopbits));
        f.Window->UpdateStatusBar();

        QVERIFY(f.Fake.Prompts.isEmpty());
        QCOMPARE(f.Window->StatusText(0), text);
        // The panel has room for the whole text.
        const QLabel* panel = f.Window->StatusBar->findChildren<QLabel*>().value(0);
        QVERIFY(panel->fontMetrics().horizontalAdvance(text) <= panel->contentsRect().width());
    }

    void statusPanels() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        TQxConsole* pane = f.Window->Console();
        // The settings of a file without them.
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
        QCOMPARE(f.Window->StatusText(1), QStringLiteral("ASCII"));
        QCOMPARE(f.Window->StatusText(2), QString());
        QCOMPARE(f.Window->StatusText(3), QString());
        QVERIFY(!f.Window->SBLogging->isChecked());

        pane->SetDisplaying(false);
        pane->SetHexEmulation(true);
        pane->SetLocalEcho(true);
        // The panels change only when asked to.
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
        f.Window->UpdateStatusBar();
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("Pause"));
        QCOMPARE(f.Window->StatusText(1), QStringLiteral("HEX"));
        QCOMPARE(f.Window->StatusText(2), QStringLiteral("Echo"));

        pane->SetDisplaying(true);
        f.Window->UpdateStatusBar();
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));
    }

    void missingDeviceWarnsOnceAndRunsOn() {
        AppWindowFixture f;
        f.Dir.MapDevice(1, f.Dir.Path() + "no-such-tty");
        f.WriteSetting("Terminal", "Echo", "1");
        QVERIFY(f.Show());

        QCOMPARE(f.Fake.WarningTexts(), QStringList{OpenWarning});
        QCOMPARE(f.Window->StatusText(0), QString());
        // Paused, panel 0 says so even with the port closed.
        f.Window->Console()->SetDisplaying(false);
        f.Window->UpdateStatusBar();
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("Pause"));
        f.Window->Console()->SetDisplaying(true);
        f.Window->UpdateStatusBar();
        QCOMPARE(f.Window->StatusText(0), QString());
        // Keys and macros write nothing but are still echoed.
        QTest::keyClick(f.Window->windowHandle(), 'k');
        f.Window->SetMacros({"m#27T10"});
        f.Window->MacroBox->setCurrentIndex(0);
        f.Window->MacroBtnClick();
        QCOMPARE(f.ScreenLines(), ByteList{"km"});
        QCOMPARE(f.Fake.WarningTexts().size(), 1);
        QVERIFY(!QFile::exists(f.Dir.Path() + "no-such-tty"));
    }

    // The adapter pulled during a recording and plugged in again: panel 0
    // and the recording tell both moments, a key in between only beeps,
    // and the recorded text stays.
    void unplugAndReplugShowInTheStatusBarAndTheRecording() {
        AppWindowFixture f;
        auto first = std::make_unique<PtyPair>();
        const QString link = f.Dir.Path() + "ttyLink";
        QVERIFY(QFile::link(first->SlavePath(), link));
        f.Dir.MapDevice(1, link);
        QVERIFY(f.Show());
        const QString log = f.Dir.Path() + "session.log";
        f.Window->Console()->SetLogFile(log);
        QVERIFY(f.Window->Console()->Log().Active);
        QVERIFY(first->Write("before\r\n"));
        QTRY_COMPARE(f.ScreenLines(), ByteList{"before"});

        // The link goes with the device, as /dev/serial/by-id links do.
        QVERIFY(QFile::remove(link));
        first.reset();
        QTRY_COMPARE(f.Window->StatusText(0), QStringLiteral("COM1: disconnected"));
        QVERIFY(f.Fake.Prompts.isEmpty());
        Type(f.Window.get(), Qt::Key_A, "a");
        Type(f.Window.get(), Qt::Key_B, "b");
        QCOMPARE(f.Fake.Beeps, 1);

        PtyPair second;
        QVERIFY(QFile::link(second.SlavePath(), link));
        QTRY_COMPARE_WITH_TIMEOUT(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"),
                                  5000);
        Type(f.Window.get(), Qt::Key_C, "c");
        QCOMPARE(second.Read(1), QByteArray("c"));
        f.Window->Console()->SetRecording(false);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        const auto at = [&lines](const QByteArray& start) {
            for (int i = 0; i < lines.size(); ++i)
                if (lines[i].startsWith(start) && lines[i].endsWith("\r"))
                    return i;
            return -1;
        };
        const int lost = at("--- Connection lost: ");
        const int restored = at("--- Connection restored: ");
        QVERIFY(at("--- Start of recording: ") < lost);
        QVERIFY(lost < restored);
        QVERIFY(restored < at("--- End of recording: "));
        QVERIFY(restored < at("before"));
    }

    // -- Size and placement --------------------------------------------------

    void cannotBeMadeSmallerThanTheMacroBoxNeeds() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->resize(100, 100);
        QTRY_VERIFY(f.Window->size() != QSize(550, 300));

        QVERIFY(f.Window->width() >= 463);
        QCOMPARE(f.Window->height(), 250);
        const QRect box = f.Window->MacroBox->geometry();
        QCOMPARE(f.Window->width(), box.x() + box.width() + 10);
        // At the smallest size nothing of the toolbar is cut off.
        for (const QToolButton* button : f.Window->MacroPanel->findChildren<QToolButton*>()) {
            QVERIFY(button->geometry().right() < f.Window->width());
            const QString caption = QString(button->text()).remove('&');
            QVERIFY(button->fontMetrics().horizontalAdvance(caption) < button->width());
        }
    }

    void missingWindowSectionGivesTheDefaults() {
        AppWindowFixture f;
        f.Dir.WriteFile("Console.ini", "[Other]\r\nLeft=5\r\n");
        QVERIFY(f.Show());
        QCOMPARE(f.Window->pos(), QPoint(100, 100));
        QCOMPARE(f.Window->size(), QSize(550, 300));
    }

    void placementWrittenAtCloseReadsBack() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->move(130, 120);
        f.Window->resize(640, 410);
        QTRY_COMPARE(f.Window->size(), QSize(640, 410));
        f.Window.reset();

        const TProfileFile file(f.Dir.SettingsFile());
        QCOMPARE(file.ReadInteger("Window", "Left", 0), 130);
        QCOMPARE(file.ReadInteger("Window", "Top", 0), 120);
        QCOMPARE(file.ReadInteger("Window", "Height", 0), 410);
        QCOMPARE(file.ReadInteger("Window", "Width", 0), 640);
        // The port's mapping beside it is kept.
        QCOMPARE(file.ReadString("Devices", "COM1", ""), f.Pty.SlavePath().toLocal8Bit());

        QVERIFY(f.Show());
        QCOMPARE(f.Window->pos(), QPoint(130, 120));
        QCOMPARE(f.Window->size(), QSize(640, 410));
    }

    // A damaged [Window] section cannot open a window larger than the
    // screen or out of reach; a placement that fits stands as it is.
    void storedPlacementIsFittedIntoTheScreen_data() {
        QTest::addColumn<QRect>("stored");
        QTest::addColumn<bool>("fits");
        QTest::newRow("fits") << QRect(130, 120, 500, 300) << true;
        QTest::newRow("huge") << QRect(100, 100, 100000, 100000) << false;
        QTest::newRow("off to the top left") << QRect(-5000, -400, 550, 300) << false;
        QTest::newRow("off to the bottom right") << QRect(30000, 30000, 550, 300) << false;
    }
    void storedPlacementIsFittedIntoTheScreen() {
        QFETCH(QRect, stored);
        QFETCH(bool, fits);
        AppWindowFixture f;
        TProfileFile file(f.Dir.SettingsFile());
        QVERIFY(file.WriteInteger("Window", "Left", stored.left()));
        QVERIFY(file.WriteInteger("Window", "Top", stored.top()));
        QVERIFY(file.WriteInteger("Window", "Width", stored.width()));
        QVERIFY(file.WriteInteger("Window", "Height", stored.height()));
        QVERIFY(f.Show());
        const QRect shown(f.Window->pos(), f.Window->size());
        QVERIFY2(QGuiApplication::primaryScreen()->availableGeometry().contains(shown),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(shown.x())
                                .arg(shown.y())
                                .arg(shown.width())
                                .arg(shown.height())));
        if (fits)
            QCOMPARE(shown, stored);
    }

    void unwritableSettingsFileIsReportedAtClose() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        // A directory where the file should be: it cannot be replaced.
        QFile::remove(f.Dir.SettingsFile());
        QVERIFY(QDir().mkdir(f.Dir.SettingsFile()));

        f.Window.reset();

        QCOMPARE(f.Fake.WarningTexts(),
                 QStringList{QStringLiteral("Unable to write to %1").arg(f.Dir.SettingsFile())});
        QVERIFY(!SerialPort().Open());
    }

    // As the program runs: SIGTERM closes the window as the user would, so
    // a running recording gets its end marker and the placement is saved.
    void aQuitSignalEndsTheProgramAsClosingDoes() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        InstallQuitSignals();
        const QString log = f.Dir.Path() + QStringLiteral("signal.log");
        f.Window->Console()->SetLogFile(log);
        QVERIFY(f.Window->Console()->Log().Active);
        f.Window->Console()->WriteText("before the signal\r\n");
        QCOMPARE(::raise(SIGTERM), 0);
        QTRY_VERIFY(!f.Window->isVisible());
        f.Window.reset(); // what the program does once its event loop ended
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("before the signal"));
        QVERIFY(text.contains("\r\n--- End of recording: "));
        QVERIFY(text.endsWith(" ---\r\n"));
        QCOMPARE(TProfileFile(f.Dir.SettingsFile()).ReadInteger("Window", "Width", 0), 550);
    }

    // As the program runs: closing the window ends the event loop, but the
    // real warning box comes first, in front of the window, once, and the
    // loop ends only after OK.
    void exitWarningIsShownOnceAndWaitedFor() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        QVERIFY(QFile::setPermissions(f.Dir.SettingsFile(), QFile::ReadOwner));
        TQtInteraction qtInteraction;
        SetInteraction(&qtInteraction);
        QStringList shown;
        bool parentedByTheWindow = false;
        QPointer<QMessageBox> current;
        QElapsedTimer visible;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box != current) {
                current = box;
                visible.start();
                shown << box->text();
                parentedByTheWindow = box->parentWidget() == f.Window.get();
            } else if (visible.hasExpired(300)) {
                box->button(QMessageBox::Ok)->click();
            }
        });
        watch.start(20);
        QTimer::singleShot(0, f.Window.get(), &QWidget::close);
        QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
        QApplication::exec();
        watch.stop();
        SetInteraction(&f.Fake);

        QCOMPARE(shown, QStringList{"Unable to write to " + f.Dir.SettingsFile()});
        QVERIFY(parentedByTheWindow);
        QVERIFY(visible.hasExpired(300));
        f.Window.reset();
        QVERIFY(f.Fake.Prompts.isEmpty());
    }
};

QTEST_MAIN(TestConsoleWindow)
#include "test_console_window.moc"
