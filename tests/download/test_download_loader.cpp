// A whole S-Record file downloaded into qx-target playing a boot loader that
// checks every record and answers each line with an asterisk.
#include "download/TQxLoaderDlg.h"
#include "tests/download/TDownloadRig.h"
#include "tests/support/Ser2netServer.h"
#include "tests/support/target/TargetProcess.h"

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
        QTest::addColumn<bool>("throughSer2net");
        QTest::newRow("every line answered") << QStringList{} << QByteArray("0") << false;
        QTest::newRow("one line answered only when repeated")
            << QStringList{"--drop", "500"} << QByteArray("1") << false;
        QTest::newRow("a loader behind ser2net (RFC 2217)")
            << QStringList{} << QByteArray("0") << true;
    }
    void everyRecordReachesTheLoader() {
        QFETCH(QStringList, loaderOptions);
        QFETCH(QByteArray, repeats);
        QFETCH(bool, throughSer2net);
        if (throughSer2net && !Ser2netServer::Installed())
            QSKIP("ser2net is not installed (scripts/install-deps.sh installs it)");
        FakeInteraction fake;
        TempAppDir dir;
        const QString file = dir.Path() + "image.s19";
        QCOMPARE(RunTarget({"--make-srec", "998", file}).ExitCode, 0);
        TargetProcess target;
        QVERIFY(target.Start(QStringList{"--loader", "#42"} + loaderOptions));
        dir.MapDevice(1, target.SlavePath());
        Ser2netServer server(target.SlavePath(), QStringLiteral("telnet(rfc2217),tcp"));
        if (throughSer2net) {
            QVERIFY(server.Start());
            dir.MapDevice(1, server.Url());
        }

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
