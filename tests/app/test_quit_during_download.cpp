// A quit signal while a download runs and a recording is on: the download
// is cancelled and awaited, the windows close and the event loops end, and
// the recording gets its end marker when the window goes (as main() does).
#include "app/QuitSignals.h"
#include "download/TQxLoaderDlg.h"
#include "serial/TQxComPort.h"
#include "settings/Settings.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <csignal>

#include <unistd.h>

class TestQuitDuringDownload : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    // One signal per process: the first quit ends every event loop for good.
    void quitSignalEndsTheDownloadAndTheRecording() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        InstallQuitSignals();
        const QString log = f.Dir.Path() + QStringLiteral("session.log");
        f.Window->Console()->SetLogFile(log);
        QVERIFY(f.Window->Console()->Log().Active);
        const QString file = f.Dir.Path() + QStringLiteral("lines.txt");
        QFile lines(file);
        QVERIFY(lines.open(QIODevice::WriteOnly));
        for (int i = 0; i < 2000; ++i)
            lines.write("a line of the download\n");
        lines.close();
        // 50 ms a line: the download runs for minutes unless it is ended.
        TransferSync.Mode = smDelayed;
        TimedPtyReader target(f.Pty.MasterFd());

        // The dialog is modal: it is driven from the event loop it runs.
        bool signalled = false;
        bool forced = false;
        QElapsedTimer sinceSignal;
        QTimer driver;
        driver.callOnTimeout([&] {
            auto* dialog = qobject_cast<TQxLoaderDlg*>(QApplication::activeModalWidget());
            if (!signalled && dialog && !dialog->Busy()) {
                dialog->HexFileEdit->setText(file);
                dialog->LoadBtnClick();
            } else if (!signalled && SerialPort().LineOwner() == TLineUser::Download &&
                       !target.All().isEmpty()) {
                signalled = true;
                sinceSignal.start();
                ::kill(::getpid(), SIGTERM);
            } else if (signalled && dialog && sinceSignal.elapsed() > 15000) {
                // The signal was swallowed: end the dialog so the test fails.
                forced = true;
                dialog->CancelBtnClick();
                if (!dialog->Busy())
                    dialog->reject();
            }
        });
        driver.start(20);
        QTimer::singleShot(0, f.Window.get(), [&f] { f.Window->SBTransferClick(); });
        QVERIFY(QTest::qWaitFor([&] { return signalled && !f.Window->isVisible(); }, 30000));
        QVERIFY(!forced);
        QCOMPARE(SerialPort().LineOwner(), TLineUser::Keys);
        // Bounded by the quit's wait, whatever the machine.
        QVERIFY(sinceSignal.elapsed() < 5000);

        f.Window.reset();
        QFile recording(log);
        QVERIFY(recording.open(QIODevice::ReadOnly));
        QVERIFY(recording.readAll().contains("--- End of recording: "));
    }
};

QTEST_MAIN(TestQuitDuringDownload)
#include "test_quit_during_download.moc"
