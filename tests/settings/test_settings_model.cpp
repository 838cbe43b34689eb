// The settings model: every key read with its default or stored value, junk
// values, the round trip through a save, and one write of the file per save.
#include "platform/TProfileFile.h"
#include "settings/TQxPreferences.h"
#include "settings/TSettingsModel.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/TempAppDir.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

namespace {

// Every field of the records and the model's other keys, in one line.
QString Describe(const TSettingsModel& model) {
    const TSettingsRecords r = model.Load();
    QStringList macros;
    for (const QByteArray& macro : r.Terminal.Macros)
        macros.append(QString::fromLatin1(macro));
    const QRect placement = model.Placement();
    return QStringLiteral("port %1 baud %2/%3 bits %4 stop %5 parity %6 | hex %7 echo %8 in %9 "
                          "out %10 scroll %11 stamps %12 macros [%13] | sync %14 %15 %16 | "
                          "last %17 | window %18,%19 %20x%21 | dev %22 dtr %23 rts %24 re %25")
        .arg(r.Com.ComPort)
        .arg(r.Com.Baudrate)
        .arg(r.Com.OtherBaudrate)
        .arg(r.Com.Databits)
        .arg(r.Com.StopBits)
        .arg(r.Com.Parity)
        .arg(r.Terminal.HexEmulation)
        .arg(r.Terminal.LocalEcho)
        .arg(r.Terminal.CRLFIn)
        .arg(r.Terminal.CRLFOut)
        .arg(r.Terminal.Scrollback)
        .arg(r.Terminal.Timestamps)
        .arg(macros.join(','))
        .arg(r.Transfer.Mode)
        .arg(QString::fromLatin1(r.Transfer.Sequence), QString::fromLatin1(r.SyncSequence),
             model.LastFile())
        .arg(placement.left())
        .arg(placement.top())
        .arg(placement.width())
        .arg(placement.height())
        .arg(model.DevicePath(poCOM3))
        .arg(model.OutputLineHigh("DTR"))
        .arg(model.OutputLineHigh("RTS"))
        .arg(model.ReconnectEnabled());
}

const QByteArray EveryKey = "[COM-Device]\r\nPort=COM3\r\nBaudrate=57600\r\nDatabits=7\r\n"
                            "Stopbits=2\r\nParity=even\r\nDTR=0\r\nRTS=0\r\nReconnect=0\r\n"
                            "[Devices]\r\nCOM3=/dev/ttyACM7\r\n"
                            "[Terminal]\r\nEmulation=HEX\r\nEcho=1\r\nCRLF(In)=1\r\nCRLF(Out)=1\r\n"
                            "Scrollback=500\r\n[Logfile]\r\nTimestamps=1\r\n"
                            "[Macros]\r\nMacro0=AT#13\r\nMacro1=ATZ\r\n"
                            "[Transfer]\r\nSyncMode=DELAYED\r\nSyncSequ=#13#10#62#35\r\n"
                            "LastFile=/tmp/a.s19\r\n"
                            "[Window]\r\nLeft=5\r\nTop=6\r\nHeight=400\r\nWidth=700\r\n";

} // namespace

class SettingsModelTest : public QObject {
    Q_OBJECT

private slots:
    void readsEveryKey_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no file")
            << QByteArray()
            << "port 0 baud 6/0 bits 4 stop 0 parity 0 | hex 0 echo 0 in 0 out 0 "
               "scroll 10000 stamps 0 macros [] | sync 2 #42 #42 | last <noname> | "
               "window 100,100 550x300 | dev /dev/ttyS2 dtr 1 rts 1 re 1";
        QTest::newRow("every key")
            << EveryKey
            << "port 2 baud 8/0 bits 3 stop 2 parity 2 | hex 1 echo 1 in 1 out 1 "
               "scroll 500 stamps 1 macros [AT#13,ATZ] | sync 1 #13#10#62# "
               "#13#10#62#35 | last /tmp/a.s19 | window 5,6 700x400 | "
               "dev /dev/ttyACM7 dtr 0 rts 0 re 0";
        QTest::newRow("junk")
            << QByteArray("[COM-Device]\nPort=COM11\nBaudrate=14400\nDatabits=9\nStopbits=1.5\n"
                          "Parity=keine\nDTR=x\n[Terminal]\nEmulation=VT100\nEcho=yes\n"
                          "CRLF(In)=0x10\nScrollback=-5\n[Macros]\nMacro1=a\n"
                          "[Transfer]\nSyncMode=acknowledged\nSyncSequ=\n[Window]\nLeft=abc\n"
                          "Top=$10\n[Devices]\nCOM3=\n")
            << "port 0 baud 0/14400 bits 3 stop 0 parity 0 | hex 0 echo 0 in 1 out 0 "
               "scroll 0 stamps 0 macros [] | sync 0   | last <noname> | "
               "window 100,16 550x300 | dev /dev/ttyS2 dtr 1 rts 1 re 1";
    }
    void readsEveryKey() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        TempAppDir dir;
        if (!content.isNull())
            dir.WriteFile("Console.ini", content);
        QCOMPARE(Describe(TSettingsModel()), expected);
    }

    void readsTheVtKeysAndSavesThemBack_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("defaults") << QByteArray("[Terminal]\nEmulation=ASCII\n")
                                  << "vt 0 hex 0 lf 0 columns 0 bs 0 raw 0";
        QTest::newRow("every key")
            << QByteArray("[Terminal]\nEmulation=VT\nLF(In)=1\nColumns=132\nBackspace=BS\n"
                          "[Logfile]\nRaw=1\n")
            << "vt 1 hex 0 lf 1 columns 132 bs 1 raw 1";
        QTest::newRow("hex stays hex alone") << QByteArray("[Terminal]\nEmulation=HEX\n")
                                             << "vt 0 hex 1 lf 0 columns 0 bs 0 raw 0";
        QTest::newRow("columns clamped, junk backspace")
            << QByteArray("[Terminal]\nEmulation=vt\nColumns=5000\nBackspace=x\n")
            << "vt 1 hex 0 lf 0 columns 500 bs 0 raw 0";
        QTest::newRow("small and negative columns")
            << QByteArray("[Terminal]\nColumns=3\n") << "vt 0 hex 0 lf 0 columns 20 bs 0 raw 0";
    }
    void readsTheVtKeysAndSavesThemBack() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        TempAppDir dir;
        dir.WriteFile("Console.ini", content);
        TSettingsModel model;
        const auto describe = [&model] {
            const TTerminalSettings t = model.Load().Terminal;
            return QStringLiteral("vt %1 hex %2 lf %3 columns %4 bs %5 raw %6")
                .arg(t.VtEmulation)
                .arg(t.HexEmulation)
                .arg(t.LFIn)
                .arg(t.Columns)
                .arg(t.BackspaceBs)
                .arg(t.RawLog);
        };
        QCOMPARE(describe(), expected);
        QVERIFY(model.Save(model.Load()));
        QCOMPARE(describe(), expected);
    }

    // What a save writes reads back as it was, and a file that held every
    // key keeps its bytes.
    void aSaveReadsBackAsItWas() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", EveryKey);
        TSettingsModel model;
        const QString before = Describe(model);
        const TSettingsRecords records = model.Load();
        QVERIFY(model.Save(records));
        QVERIFY(model.SavePlacement(model.Placement()));
        QVERIFY(model.SaveLastFile(model.LastFile()));
        QCOMPARE(Describe(model), before);
        QCOMPARE(dir.ReadFile("Console.ini"), EveryKey);
    }

    void eachSaveWritesTheFileOnce() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Macros]\nMacro0=a\n");
        TSettingsModel model;
        quint64 before = TProfileFile::Replacements();
        QVERIFY(model.Save(model.Load()));
        QCOMPARE(TProfileFile::Replacements() - before, quint64(1));
        before = TProfileFile::Replacements();
        QVERIFY(model.SavePlacement({1, 2, 300, 400}));
        QCOMPARE(TProfileFile::Replacements() - before, quint64(1));
        before = TProfileFile::Replacements();
        TQxPreferences dialog;
        dialog.show();
        dialog.EchoBox->click();
        dialog.OKBtn->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(TProfileFile::Replacements() - before, quint64(1));
    }
};

int RunSettingsModelTests(int argc, char** argv) {
    SettingsModelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_settings_model.moc"
