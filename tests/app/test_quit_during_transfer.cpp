// A quit signal while a file transfer runs and a recording is on: the
// transfer is cancelled (the other side stops) and awaited, the line is
// given back, and the recording notes the transfer and then its own end.
#include "app/QuitSignals.h"
#include "serial/TQxComPort.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"
#include "tests/support/LrzszOnPty.h"
#include "transfer/TSendFileDlg.h"
#include "transfer/TTransferProgressDlg.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <unistd.h>

class TestQuitDuringTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        InitAppResources();
        std::signal(SIGPIPE, SIG_IGN);
        if (QStandardPaths::findExecutable(QStringLiteral("rb")).isEmpty())
            QSKIP("lrzsz is not installed (scripts/install-deps.sh installs it)");
    }

    // One signal a process: the first quit ends every event loop for good.
    void quitSignalCancelsTheTransferAndEndsTheRecording() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        InstallQuitSignals();
        const QString log = f.Dir.Path() + QStringLiteral("session.log");
        f.Window->Console()->SetLogFile(log);
        QTemporaryDir theirs;
        const QString file = f.Dir.Path() + QStringLiteral("big.bin");
        QFile big(file);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write(QByteArray(16 << 20, 'x')) > 0);
        big.close();
        LrzszOnPty target(f.Pty.MasterFd(), theirs.path(), QStringLiteral("rb"), {});

        bool signalled = false;
        QTimer driver;
        driver.callOnTimeout([&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* send = qobject_cast<TSendFileDlg*>(modal)) {
                send->FileEdit->setText(file);
                send->SendBtn->click();
            } else if (auto* progress = qobject_cast<TTransferProgressDlg*>(modal);
                       progress && !signalled && progress->Bar->value() > 0) {
                signalled = true;
                ::kill(::getpid(), SIGTERM);
            }
        });
        driver.start(20);
        QTimer::singleShot(0, f.Window.get(), [&f] { f.Window->SendFileClick(); });
        QVERIFY(QTest::qWaitFor([&] { return signalled && !f.Window->isVisible(); }, 60000));
        QCOMPARE(SerialPort().LineOwner(), TLineUser::Keys);
        QVERIFY(target.Finish() != 0);

        f.Window.reset();
        QFile recording(log);
        QVERIFY(recording.open(QIODevice::ReadOnly));
        const QByteArray text = recording.readAll();
        const qsizetype transfer = text.indexOf("--- Transfer: YMODEM big.bin ");
        QVERIFY2(transfer >= 0 && text.indexOf(" cancelled: ", transfer) > transfer,
                 text.right(300).constData());
        QVERIFY(text.indexOf("--- End of recording: ", transfer) > transfer);
    }
};

QTEST_MAIN(TestQuitDuringTransfer)
#include "test_quit_during_transfer.moc"
