// A whole S-Record file downloaded into qx-target playing a boot loader that
// checks every record and answers each line with an asterisk.
#include "download/TQxLoaderDlg.h"
#include "tests/download/DownloadRig.h"
#include "tests/tools/TargetProcess.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <csignal>

class TestDownloadLoader : public QObject {
    Q_OBJECT

private slots:
    void everyRecordReachesTheLoader_data() {
        QTest::addColumn<QStringList>("loaderOptions");
        QTest::addColumn<QByteArray>("repeats");
        QTest::newRow("every line answered") << QStringList{} << QByteArray("0");
        QTest::newRow("one line answered only when repeated")
            << QStringList{"--drop", "500"} << QByteArray("1");
    }
    void everyRecordReachesTheLoader() {
        QFETCH(QStringList, loaderOptions);
        QFETCH(QByteArray, repeats);
        FakeInteraction fake;
        TempAppDir dir;
        const QString file = dir.Path() + "image.s19";
        QCOMPARE(RunTarget({"--make-srec", "998", file}).ExitCode, 0);
        TargetProcess target;
        QVERIFY(target.Start(QStringList{"--loader", "#42"} + loaderOptions));
        dir.MapDevice(1, target.SlavePath());

        TQxComPort port;
        TTransferSync sync;
        sync.Mode = 2;
        sync.Sequence = "#42";
        TQxLoaderDlg dialog;
        dialog.SetComPort(&port);
        dialog.SetSyncSettings(sync);
        dialog.show();
        dialog.HexFileEdit->setText(file);
        QTest::mouseClick(dialog.LoadBtn, Qt::LeftButton);
        QVERIFY(WaitUntilClosed(dialog, 120000));
        QVERIFY(fake.WarningTexts().isEmpty());

        QVERIFY(target.Stop(SIGINT));
        QCOMPARE(target.ExitCode(), 0);
        const QMap<QByteArray, QByteArray> summary = target.Summary();
        QCOMPARE(summary.value("lines"), QByteArray("1000"));
        QCOMPARE(summary.value("records"), QByteArray("1000"));
        QCOMPARE(summary.value("data_bytes"), QByteArray("15968"));
        QCOMPARE(summary.value("checksum_errors"), QByteArray("0"));
        QCOMPARE(summary.value("malformed_records"), QByteArray("0"));
        QCOMPARE(summary.value("repeats"), repeats);
    }
};

QTEST_MAIN(TestDownloadLoader)
#include "test_download_loader.moc"
