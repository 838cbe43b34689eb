// The download dialog: file choice, the remembered file, starting, following,
// cancelling and closing a download against a target on a pseudo-terminal.
#include "download/TQxLoadTask.h"
#include "download/TQxLoaderDlg.h"
#include "platform/TProfileFile.h"
#include "tests/download/TDownloadRig.h"
#include "tests/download/TDownloadTarget.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <unistd.h>

namespace {

constexpr int LongWaitMs = 30000;

using TRig = TDownloadRig;

QByteArray LastFile(const TRig& rig) {
    return TProfileFile(rig.Dir.SettingsFile()).ReadString("Transfer", "LastFile", "(none)");
}

// Starts a download of File from a shown dialog.
void StartDownload(TQxLoaderDlg& dialog, const QString& file) {
    dialog.HexFileEdit->setText(file);
    QTest::mouseClick(dialog.LoadBtn, Qt::LeftButton);
}

// The (maximum, value) pairs the progress bar shows from now on.
class TProgressWatch {
public:
    explicit TProgressWatch(QProgressBar* bar) {
        QObject::connect(bar, &QProgressBar::valueChanged, bar,
                         [this, bar](int value) { Shown << qMakePair(bar->maximum(), value); });
    }
    QList<QPair<int, int>> Shown;
};

} // namespace

class TestDownloadDialog : public QObject {
    Q_OBJECT

private slots:
    void startsWithTheLastFileAsTyped() {
        TRig rig;
        {
            TQxLoaderDlg dialog;
            QCOMPARE(dialog.HexFileEdit->text(), QStringLiteral("<noname>"));
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Download..."));
            QCOMPARE(dialog.ProgressBar->maximum(), 100);
            QCOMPARE(dialog.ProgressBar->value(), 0);
        }
        // Linux file names are case-sensitive: the name stays as typed.
        const QString file = rig.File("Prog.S19", "S9030000FC\r\n");
        TDownloadTarget target(rig.Pty.MasterFd());
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.SetSyncSettings(Sync(0));
        dialog.show();
        StartDownload(dialog, file);
        QVERIFY(WaitUntilClosed(dialog));
        QCOMPARE(LastFile(rig), QFile::encodeName(file));
        TQxLoaderDlg next;
        QCOMPARE(next.HexFileEdit->text(), file);
        QCOMPARE(next.Filename(), file);
    }

    void openDialogOffersTheDownloadFileKinds() {
        TRig rig;
        TQxLoaderDlg dialog;
        rig.Fake.FileAnswers << rig.Dir.Path() + "Chosen.HEX";
        QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);
        QCOMPARE(rig.Fake.FileRequests.size(), 1);
        const TFileDialogRequest request = rig.Fake.FileRequests.first();
        QCOMPARE(request.Title, QStringLiteral("Open download file..."));
        QCOMPARE(request.Filters,
                 (QStringList{"Motorola-S-Records (*.S19)|*.S19;*.s19",
                              "Intel-Hex-File (*.HEX)|*.HEX;*.hex",
                              "Text files (*.TXT)|*.TXT;*.txt", "All files (*.*)|*"}));
        QCOMPARE(request.InitialFilter, 3);
        QCOMPARE(request.DefaultSuffix, QStringLiteral("S19"));
        QVERIFY(request.MustExist);
        // "<noname>" has no directory: the dialog starts where the platform likes.
        QCOMPARE(request.InitialFile, QString());
        QCOMPARE(dialog.HexFileEdit->text(), rig.Dir.Path() + "Chosen.HEX");

        // Next time it starts in the directory of the name in the edit; a
        // cancelled choice leaves the name alone.
        QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);
        QCOMPARE(rig.Fake.FileRequests.last().InitialFile, rig.Dir.Path());
        QCOMPARE(dialog.HexFileEdit->text(), rig.Dir.Path() + "Chosen.HEX");
        dialog.HexFileEdit->setText("/top.s19");
        QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton);
        QCOMPARE(rig.Fake.FileRequests.last().InitialFile, QStringLiteral("/"));
    }

    void missingFileWarnsAndStaysIdle() {
        TRig rig;
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(dialog.LoadBtn->hasFocus());
        StartDownload(dialog, rig.Dir.Path() + "missing.s19");
        QCOMPARE(rig.Fake.WarningTexts(), QStringList{TQxLoaderDlg::MissingFileText});
        QVERIFY(!dialog.Busy());
        QVERIFY(dialog.LoadBtn->isEnabled());
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.HexFileEdit->hasFocus());
        QCOMPARE(LastFile(rig), QByteArray("(none)"));
    }

    // The file is read off the main thread; what cannot be downloaded is
    // named with the reason, nothing is sent and the dialog stays idle.
    void unreadablePathShowsTheReasonAndStaysIdle_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("directory") << "folder.s19"
                                   << "Is a directory";
        QTest::newRow("binary") << "image.bin"
                                << "NUL byte at offset 1.";
        QTest::newRow("1 GB") << "huge.s19"
                              << "larger than 256 MB";
    }
    void unreadablePathShowsTheReasonAndStaysIdle() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        TRig rig;
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.show();
        QDir(rig.Dir.Path()).mkdir("folder.s19");
        rig.File("image.bin", QByteArray("S\0\x01\x02", 4));
        const QString huge = rig.File("huge.s19", "S0");
        QCOMPARE(::truncate(QFile::encodeName(huge).constData(), 1 << 30), 0);
        StartDownload(dialog, rig.Dir.Path() + name);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.Busy(), LongWaitMs);
        const QStringList warnings = rig.Fake.WarningTexts();
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].contains(name) && warnings[0].contains(reason),
                 qPrintable(warnings[0]));
        QVERIFY(dialog.LoadBtn->isEnabled());
        QVERIFY(dialog.isVisible());
        QCOMPARE(rig.Port.Requests(), 0);
        QCOMPARE(LastFile(rig), QFile::encodeName(rig.Dir.Path() + name));
    }

    void progressShowsLinesDoneOfTotalAndTheDialogCloses() {
        TRig rig;
        TDownloadTarget target(rig.Pty.MasterFd(), [](int, const QByteArray&) { return "*"; });
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.SetSyncSettings(Sync(2, "#42"));
        dialog.show();
        TProgressWatch watch(dialog.ProgressBar);
        StartDownload(dialog, rig.File("four.s19", "1\r\n2\r\n3\r\n4\r\n"));
        QVERIFY(dialog.Busy());
        QVERIFY(!dialog.LoadBtn->isEnabled());
        QVERIFY(WaitUntilClosed(dialog));
        QCOMPARE(watch.Shown, ProgressSteps(4, 4));
        QCOMPARE(target.LineCount(), 4);
        QVERIFY(rig.Fake.WarningTexts().isEmpty());
        QVERIFY(!dialog.Busy());
    }

    void failureShowsTheMessageAndAllowsAnotherStart() {
        TRig rig;
        // The second line is never answered.
        TDownloadTarget target(rig.Pty.MasterFd(), [](int arrival, const QByteArray&) {
            return arrival == 1 || arrival > 3 ? QByteArray("*") : QByteArray();
        });
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.SetSyncSettings(Sync(2, "#42"));
        dialog.show();
        const QString file = rig.File("three.s19", "a\nb\nc\n");
        StartDownload(dialog, file);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.Busy(), LongWaitMs);
        QCOMPARE(rig.Fake.WarningTexts(), QStringList{TQxLoadTask::NoResponseText});
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.LoadBtn->isEnabled());
        QCOMPARE(dialog.ProgressBar->maximum(), 3);
        QCOMPARE(dialog.ProgressBar->value(), 1);
        QCOMPARE(target.Lines(), (QList<QByteArray>{"a", "b", "b"}));

        // Started again, it runs to the end and closes.
        StartDownload(dialog, file);
        QVERIFY(WaitUntilClosed(dialog));
        QCOMPARE(target.Lines().mid(3), (QList<QByteArray>{"a", "b", "c"}));
    }

    void cancelDuringAWaitCountsTheLineAndCloses() {
        TRig rig;
        // The first line gets a byte that is no acknowledgement; nothing else
        // is answered.
        TDownloadTarget target(rig.Pty.MasterFd(), [](int arrival, const QByteArray&) {
            return arrival == 1 ? QByteArray("x") : QByteArray();
        });
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.SetSyncSettings(Sync(2, "#42"));
        // The byte reaches OnScan while the wait runs: Cancel is pressed then.
        rig.Port.OnScan = [&dialog](char&) { dialog.CancelBtnClick(); };
        dialog.show();
        StartDownload(dialog, rig.File("three.s19", "a\nb\nc\n"));
        QVERIFY(WaitUntilClosed(dialog));
        QVERIFY(rig.Fake.WarningTexts().isEmpty());
        QCOMPARE(dialog.ProgressBar->maximum(), 3);
        QCOMPARE(dialog.ProgressBar->value(), 1);
        QTest::qWait(200);
        QCOMPARE(target.Lines(), QList<QByteArray>{"a"});
    }

    void closingIsRefusedWhileBusy() {
        TRig rig;
        TDownloadTarget target(rig.Pty.MasterFd());
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.SetSyncSettings(Sync(1));
        dialog.show();
        QByteArray lines;
        for (int i = 0; i < 200; ++i)
            lines += QByteArray::number(i) + "\r\n";
        StartDownload(dialog, rig.File("slow.txt", lines));
        QTRY_VERIFY_WITH_TIMEOUT(target.LineCount() >= 1, LongWaitMs);
        QVERIFY(!dialog.close());
        dialog.reject();
        QVERIFY(dialog.isVisible());
        // Escape cancels; the dialog closes once the task has ended.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QVERIFY(WaitUntilClosed(dialog));
        QVERIFY(target.LineCount() < 200);
        QCOMPARE(dialog.ProgressBar->value(), target.LineCount());
        QVERIFY(rig.Fake.WarningTexts().isEmpty());
    }

    void destroyingTheDialogWhileBusyCancelsTheTask() {
        TRig rig;
        TDownloadTarget target(rig.Pty.MasterFd());
        auto* dialog = new TQxLoaderDlg;
        dialog->SetComPort(&rig.Port);
        dialog->SetSyncSettings(Sync(1));
        dialog->show();
        StartDownload(*dialog, rig.File("slow.txt", QByteArray(200, '\n')));
        QTRY_VERIFY_WITH_TIMEOUT(target.LineCount() >= 1, LongWaitMs);
        delete dialog;
        // The task ends by itself: its request on the port is dropped.
        QTRY_COMPARE_WITH_TIMEOUT(rig.Port.Requests(), 0, LongWaitMs);
        QVERIFY(target.LineCount() < 200);
        QVERIFY(rig.Fake.WarningTexts().isEmpty());
    }

    void escapeClosesAnIdleDialog() {
        TRig rig;
        TQxLoaderDlg dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(dialog.HexFileEdit, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
    }

    void portThatCannotOpenWarnsAndCloses() {
        TRig rig;
        rig.Dir.MapDevice(1, rig.Dir.Path() + "no-such-device");
        TQxLoaderDlg dialog;
        dialog.SetComPort(&rig.Port);
        dialog.show();
        StartDownload(dialog, rig.File("a.s19", "a\r\n"));
        QVERIFY(WaitUntilClosed(dialog));
        const QStringList warnings = rig.Fake.WarningTexts();
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings[0].startsWith("Unable to open the selected serial interface!"));
        QCOMPARE(rig.Port.Requests(), 0);
        QCOMPARE(dialog.ProgressBar->value(), 0);
    }

    void runDownloadDialogShowsItModally() {
        TRig rig;
        TDownloadTarget target(rig.Pty.MasterFd());
        const QString file = rig.File("run.txt", "x\ny\n");
        TProfileFile settings(rig.Dir.SettingsFile());
        QVERIFY(settings.WriteString("Transfer", "LastFile", QFile::encodeName(file)));
        bool seen = false;
        QTimer::singleShot(0, [&seen] {
            auto* dialog = qobject_cast<TQxLoaderDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen = true;
            QTest::mouseClick(dialog->LoadBtn, Qt::LeftButton);
        });
        QWidget owner;
        RunDownloadDialog(&owner, rig.Port, Sync(0));
        QVERIFY(seen);
        QTRY_COMPARE(target.Received(), QByteArray("x\r\ny\r\n"));
        QVERIFY(owner.findChildren<TQxLoaderDlg*>().isEmpty());
    }

    void nothingIsClipped_data() {
        QTest::addColumn<int>("pointSize");
        QTest::newRow("platform font") << 0;
        QTest::newRow("large font") << 20;
    }
    void nothingIsClipped() {
        QFETCH(int, pointSize);
        TRig rig;
        TQxLoaderDlg dialog;
        if (pointSize > 0) {
            QFont font = dialog.font();
            font.setPointSize(pointSize);
            dialog.setFont(font);
        }
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.width() >= 351);
        for (QWidget* child : dialog.findChildren<QWidget*>()) {
            if (qobject_cast<QLabel*>(child) || qobject_cast<QAbstractButton*>(child)) {
                QVERIFY2(child->width() >= child->sizeHint().width() &&
                             child->height() >= child->sizeHint().height(),
                         qPrintable(child->objectName() + child->property("text").toString()));
            }
        }
    }
};

QTEST_MAIN(TestDownloadDialog)
#include "test_download_dialog.moc"
