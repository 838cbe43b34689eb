// The settings file as the records see it: defaults, stored values that
// match no item, the macro list, the root marker, and files that are no
// proper settings file at all.
#include "platform/AppLocation.h"
#include "settings/TQxPreferences.h"
#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/TempAppDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/stat.h>

namespace {

// The record field a data row looks at, as an integer.
int Field(const QString& name) {
    if (name == "ComPort")
        return ComSettings.ComPort;
    if (name == "Baudrate")
        return ComSettings.Baudrate;
    if (name == "Databits")
        return ComSettings.Databits;
    if (name == "StopBits")
        return ComSettings.StopBits;
    if (name == "Parity")
        return ComSettings.Parity;
    if (name == "LocalEcho")
        return TerminalSettings.LocalEcho;
    if (name == "HexEmulation")
        return TerminalSettings.HexEmulation;
    if (name == "CRLFIn")
        return TerminalSettings.CRLFIn;
    if (name == "CRLFOut")
        return TerminalSettings.CRLFOut;
    if (name == "Mode")
        return TransferSync.Mode;
    qFatal("unknown field");
}

void VerifyRecordsInRange() {
    QVERIFY(ComSettings.ComPort <= poCOM10);
    QVERIFY(ComSettings.Baudrate <= br115200);
    QVERIFY(ComSettings.Databits == db7 || ComSettings.Databits == db8);
    QVERIFY(ComSettings.StopBits == sb10 || ComSettings.StopBits == sb20);
    QVERIFY(ComSettings.Parity <= paEVEN);
    QVERIFY(TransferSync.Mode <= 2);
    QVERIFY(TransferSync.Sequence.size() <= TTransferSync::MaxSequenceLength);
    QVERIFY(!ComSettings.Changed && !TerminalSettings.Changed && !TransferSync.Changed);
}

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; i += 4) {
        const quint32 word = generator.generate();
        for (qsizetype k = 0; k < 4 && i + k < size; ++k)
            bytes[i + k] = static_cast<char>(word >> (8 * k));
    }
    return bytes;
}

// Lines of a plausible file repeated up to Size bytes, with the sections
// appearing again and again.
QByteArray RepeatedIni(qsizetype size) {
    const QByteArray block =
        "[COM-Device]\r\nPort=COM2\r\nBaudrate=9600\r\n[Macros]\r\nMacro0=AT\r\n"
        "junk without equals sign\r\n";
    QByteArray content;
    content.reserve(size + block.size());
    while (content.size() < size)
        content += block;
    return content;
}

} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT

private slots:
    void init() { SpoilSettingsRecords(); }

    void defaultsWithoutFileAndNoFileCreated() {
        TempAppDir dir;
        SettingsPending = true;
        QCOMPARE(ExpandSettingsFile(), QString());
        LoadSettings();
        QVERIFY(!SettingsPending);
        QCOMPARE(ComSettings.ComPort, poCOM1);
        QCOMPARE(ComSettings.Baudrate, br19200);
        QCOMPARE(ComSettings.Databits, db8);
        QCOMPARE(ComSettings.StopBits, sb10);
        QCOMPARE(ComSettings.Parity, paNONE);
        QVERIFY(TerminalSettings.Macros.isEmpty());
        QVERIFY(!TerminalSettings.LocalEcho && !TerminalSettings.HexEmulation);
        QVERIFY(!TerminalSettings.CRLFIn && !TerminalSettings.CRLFOut);
        QCOMPARE(TransferSync.Mode, smAcknowledged);
        QCOMPARE(TransferSync.Sequence, QByteArray("#42"));
        VerifyRecordsInRange();
        QVERIFY(!QFile::exists(dir.SettingsFile()));
    }

    void storedValuesSelectItems_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("expected");
        QTest::newRow("parity missing")
            << QByteArray("[COM-Device]\nPort=COM2\n") << "Parity" << int(paNONE);
        QTest::newRow("parity keine")
            << QByteArray("[COM-Device]\nParity=keine\n") << "Parity" << int(paNONE);
        QTest::newRow("parity EVEN")
            << QByteArray("[COM-Device]\nParity=EVEN\n") << "Parity" << int(paEVEN);
        QTest::newRow("baud 14400")
            << QByteArray("[COM-Device]\nBaudrate=14400\n") << "Baudrate" << int(br300);
        QTest::newRow("baud missing") << QByteArray("[COM-Device]\n") << "Baudrate" << int(br19200);
        QTest::newRow("baud 115200")
            << QByteArray("[com-device]\nBAUDRATE = 115200\n") << "Baudrate" << int(br115200);
        QTest::newRow("databits 9")
            << QByteArray("[COM-Device]\nDatabits=9\n") << "Databits" << int(db7);
        QTest::newRow("stopbits 2")
            << QByteArray("[COM-Device]\nStopbits=2\n") << "StopBits" << int(sb20);
        QTest::newRow("port com10")
            << QByteArray("[COM-Device]\nPort=com10\n") << "ComPort" << int(poCOM10);
        QTest::newRow("port COM11")
            << QByteArray("[COM-Device]\nPort=COM11\n") << "ComPort" << int(poCOM1);
        QTest::newRow("emulation hex")
            << QByteArray("[Terminal]\nEmulation=hex\n") << "HexEmulation" << 1;
        QTest::newRow("echo 1") << QByteArray("[Terminal]\nEcho=1\n") << "LocalEcho" << 1;
        QTest::newRow("echo $10") << QByteArray("[Terminal]\nEcho=$10\n") << "LocalEcho" << 1;
        QTest::newRow("echo yes") << QByteArray("[Terminal]\nEcho=yes\n") << "LocalEcho" << 0;
        QTest::newRow("crlf in 0") << QByteArray("[Terminal]\nCRLF(In)=0\n") << "CRLFIn" << 0;
        QTest::newRow("crlf out 0x1")
            << QByteArray("[Terminal]\nCRLF(Out)=0x1\n") << "CRLFOut" << 1;
        QTest::newRow("sync missing") << QByteArray("[Transfer]\n") << "Mode" << 2;
        QTest::newRow("sync acknowledged")
            << QByteArray("[Transfer]\nSyncMode=acknowledged\n") << "Mode" << 0;
        QTest::newRow("sync DELAYED")
            << QByteArray("[Transfer]\nSyncMode=DELAYED\n") << "Mode" << 1;
        QTest::newRow("sync NONE") << QByteArray("[Transfer]\nSyncMode=NONE\n") << "Mode" << 0;
    }
    void storedValuesSelectItems() {
        QFETCH(QByteArray, content);
        QFETCH(QString, field);
        QFETCH(int, expected);
        TempAppDir dir;
        dir.WriteFile("Console.ini", content);
        LoadSettings();
        QCOMPARE(Field(field), expected);
        VerifyRecordsInRange();
        QCOMPARE(dir.ReadFile("Console.ini"), content);
    }

    void macroListEndsAtFirstGap_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("macros");
        QTest::newRow("0 1 3") << QByteArray("[Macros]\nMacro0=AT\nMacro1=ATZ#13\nMacro3=lost\n")
                               << QList<QByteArray>{"AT", "ATZ#13"};
        QTest::newRow("starts at 1")
            << QByteArray("[Macros]\nMacro1=a\nMacro2=b\n") << QList<QByteArray>{};
        QTest::newRow("empty value ends")
            << QByteArray("[Macros]\nMacro0=a\nMacro1=\nMacro2=c\n") << QList<QByteArray>{"a"};
        QTest::newRow("letter case, order, blanks")
            << QByteArray("[MACROS]\nmacro1 = \" b \"\nMACRO0=a\n")
            << QList<QByteArray>{"a", " b "};
        QTest::newRow("first key wins")
            << QByteArray("[Macros]\nMacro0=a\nMacro0=b\n") << QList<QByteArray>{"a"};
        QTest::newRow("leading zero is another key")
            << QByteArray("[Macros]\nMacro00=a\n") << QList<QByteArray>{};
        QTest::newRow("bytes kept")
            << QByteArray("[Macros]\nMacro0=\xE4\x80\x01\n") << QList<QByteArray>{"\xE4\x80\x01"};
    }
    void macroListEndsAtFirstGap() {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, macros);
        TempAppDir dir;
        dir.WriteFile("Console.ini", content);
        LoadSettings();
        QCOMPARE(TerminalSettings.Macros, macros);
    }

    void longSequenceIsCutInTheRecordOnly() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Transfer]\nSyncSequ=#13#10#62#35\n");
        TQxPreferences dialog;
        QCOMPARE(TransferSync.Sequence, QByteArray("#13#10#62#"));
        QCOMPARE(dialog.SyncEdit->text(), QString("#13#10#62#35"));
    }

    void expandRoot_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray root = QFile::encodeName(ApplicationDir());
        QTest::newRow("backslash")
            << QByteArray("LastFile=<qxroot>\\demo.s19") << "LastFile=" + root + "demo.s19";
        QTest::newRow("slash") << QByteArray("LastFile=<qxroot>/demo.s19")
                               << "LastFile=" + root + "demo.s19";
        QTest::newRow("capitals") << QByteArray("LastFile=<QXROOT>demo.s19")
                                  << "LastFile=" + root + "demo.s19";
        QTest::newRow("mixed case") << QByteArray("a<QxRoot>b") << "a" + root + "b";
        QTest::newRow("two markers") << QByteArray("<qxroot>a;<qxroot>b") << root + "a;<qxroot>b";
        QTest::newRow("marker alone") << QByteArray("<qxroot>") << root;
        QTest::newRow("only one separator dropped") << QByteArray("<qxroot>//x") << root + "/x";
        QTest::newRow("none") << QByteArray("LastFile=/tmp/<qxroo>")
                              << QByteArray("LastFile=/tmp/<qxroo>");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void expandRoot() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, expected);
        QCOMPARE(ExpandRoot(line), expected);
    }

    void settingsFileIsExpandedAndRewrittenWithCrLf() {
        TempAppDir dir;
        dir.WriteFile("Console.ini",
                      "[Transfer]\nLastFile=<QXROOT>\\demo.s19\n\n[Window]\nLeft=5\n");
        QCOMPARE(ExpandSettingsFile(), QString());
        QCOMPARE(dir.ReadFile("Console.ini"),
                 "[Transfer]\r\nLastFile=" + QFile::encodeName(dir.Path()) +
                     "demo.s19\r\n\r\n[Window]\r\nLeft=5\r\n");
    }

    void fileWithoutMarkerIsStillRewrittenOnce() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Window]\nLeft=5\nTop=7");
        QCOMPARE(ExpandSettingsFile(), QString());
        QCOMPARE(dir.ReadFile("Console.ini"), QByteArray("[Window]\r\nLeft=5\r\nTop=7\r\n"));
    }

    void readOnlyFileIsLeftAsItWas() {
        TempAppDir dir;
        const QByteArray content = "[Transfer]\nLastFile=<qxroot>x\n";
        dir.WriteFile("Console.ini", content);
        ::chmod(QFile::encodeName(dir.SettingsFile()).constData(), 0444);
        QCOMPARE(ExpandSettingsFile(), QStringLiteral("The file is read-only"));
        QCOMPARE(dir.ReadFile("Console.ini"), content);
        LoadSettings();
        VerifyRecordsInRange();
    }

    void badFilesLoadSensibly_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("binary junk") << RandomBytes(64 * 1024, 1);
        QTest::newRow("20 MB of junk") << RandomBytes(20 * 1024 * 1024, 2);
        QTest::newRow("20 MB of repeated sections") << RepeatedIni(20 * 1024 * 1024);
        QTest::newRow("lines without equals sign")
            << QByteArray("[COM-Device]\nPort COM3\nBaudrate\n=9600\n[Macros]\nMacro0\n=x\n");
        QTest::newRow("100000 characters")
            << "[COM-Device]\nPort=" + QByteArray(100000, 'C') +
                   "\n[Macros]\nMacro0=" + QByteArray(100000, 'm') +
                   "\n[Transfer]\nSyncSequ=" + QByteArray(100000, '#') + "\n";
        QTest::newRow("NUL bytes and brackets")
            << QByteArrayLiteral("[COM-Device\0]\n[\0\0\n=\0\n[Macros]\nMacro0=\0x\n");
        QTest::newRow("no line end at all") << QByteArray(200000, '[');
    }
    void badFilesLoadSensibly() {
        QFETCH(QByteArray, content);
        TempAppDir dir;
        dir.WriteFile("Console.ini", content);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ExpandSettingsFile(), QString());
        LoadSettings();
        // A generous bound against hangs; the speed itself is a benchmark.
        QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
        VerifyRecordsInRange();
        for (const QByteArray& macro : TerminalSettings.Macros)
            QVERIFY(!macro.isEmpty() && macro.size() <= 2047);
    }

    void duplicateSectionsAndKeysTakeTheFirst() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[COM-Device]\nPort=COM3\nPort=COM4\n[Terminal]\nEcho=1\n"
                                     "[com-device]\nPort=COM5\nBaudrate=9600\n");
        LoadSettings();
        QCOMPARE(ComSettings.ComPort, poCOM3);
        QCOMPARE(ComSettings.Baudrate, br19200);
        QVERIFY(TerminalSettings.LocalEcho);
    }

    void largeMacroSectionLoadsWhole() {
        TempAppDir dir;
        QByteArray content = "[Macros]\n";
        for (int n = 0; n < 20000; ++n)
            content += "Macro" + QByteArray::number(n) + "=m" + QByteArray::number(n) + "\n";
        dir.WriteFile("Console.ini", content);
        LoadSettings();
        QCOMPARE(TerminalSettings.Macros.size(), 20000);
        QCOMPARE(TerminalSettings.Macros.last(), QByteArray("m19999"));
    }
};

int RunSettingsFileTests(int argc, char** argv) {
    SettingsFileTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_settings_file.moc"
