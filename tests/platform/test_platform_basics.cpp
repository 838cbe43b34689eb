// Profile file, code page and message texts of the platform layer.
#include "platform/Cp1252.h"
#include "platform/TInteraction.h"
#include "platform/MacroText.h"
#include "platform/TProfileFile.h"
#include "tests/support/TempAppDir.h"

#include <QFile>
#include <QtTest>

#include <sys/stat.h>

class TestPlatformBasics : public QObject {
    Q_OBJECT

private slots:
    void readsIgnoringCaseBlanksAndQuotes() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "junk line\r\n[com-DEVICE]\r\n  PORT =  COM3 \r\n"
                                     "Name=\"  quoted  \"\r\nport=COM4\r\n[Com-Device]\r\nBaud=1\r\n");
        TProfileFile profile(dir.SettingsFile());
        QCOMPARE(profile.ReadString("COM-Device", "Port", "x"), QByteArray("COM3"));
        QCOMPARE(profile.ReadString("COM-Device", "Name", "x"), QByteArray("  quoted  "));
        // Only the first matching section is searched.
        QCOMPARE(profile.ReadString("COM-Device", "Baud", "dflt"), QByteArray("dflt"));
        QCOMPARE(profile.ReadString("Other", "Port", "dflt"), QByteArray("dflt"));
    }

    void readsNothingFromMissingFileAndCreatesNone() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        QCOMPARE(profile.ReadString("A", "B", "dflt"), QByteArray("dflt"));
        QCOMPARE(profile.ReadInteger("A", "B", 7), 7);
        profile.EraseSection("A");
        QVERIFY(!QFile::exists(dir.SettingsFile()));
    }

    void integersInEveryForm_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << QByteArray("42") << 42;
        QTest::newRow("negative") << QByteArray("-3") << -3;
        QTest::newRow("hex 0x") << QByteArray("0x1F") << 31;
        QTest::newRow("hex 0X") << QByteArray("0X10") << 16;
        QTest::newRow("hex dollar") << QByteArray("$ff") << 255;
        QTest::newRow("word") << QByteArray("yes") << -99;
        QTest::newRow("trailing junk") << QByteArray("12ab") << -99;
        QTest::newRow("empty") << QByteArray("") << -99;
        QTest::newRow("bare prefix") << QByteArray("0x") << -99;
    }
    void integersInEveryForm() {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[S]\r\nK=" + text + "\r\n");
        QCOMPARE(TProfileFile(dir.SettingsFile()).ReadInteger("S", "K", -99), expected);
    }

    void writesInPlaceAppendsAndErases() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[A]\nx=1\n\n[B]\ny=2\n");
        TProfileFile profile(dir.SettingsFile());
        profile.WriteString("a", "X", "10");
        profile.WriteString("A", "z", "3");
        profile.WriteString("C", "w", " padded ");
        QCOMPARE(dir.ReadFile("Console.ini"),
                 QByteArray("[A]\r\nX=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=\" padded \"\r\n"));
        QCOMPARE(profile.ReadString("C", "w", ""), QByteArray(" padded "));
        profile.EraseSection("b");
        QCOMPARE(profile.ReadString("B", "y", "gone"), QByteArray("gone"));
        QCOMPARE(profile.ReadString("C", "w", ""), QByteArray(" padded "));
    }

    void valuesReadBackUnchanged() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        const QList<QByteArray> values = {"#13#10", "\"q\"", "a=b", "\xE4\xF6", " ", "x\"", ""};
        for (const QByteArray& value : values) {
            profile.WriteString("S", "K", value);
            QCOMPARE(profile.ReadString("S", "K", "missing"), value);
        }
    }

    void longValuesAreCut() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        profile.WriteString("S", "K", QByteArray(5000, 'v'));
        QCOMPARE(profile.ReadString("S", "K", "").size(), TProfileFile::MaxValueLength);
    }

    void readOnlyFileIsNeverReplaced() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[S]\r\nK=old\r\n");
        ::chmod(dir.SettingsFile().toLocal8Bit().constData(), 0444);
        TProfileFile profile(dir.SettingsFile());
        try {
            profile.WriteString("S", "K", "new");
            QFAIL("write to a read-only file succeeded");
        } catch (const EProfileWriteError& error) {
            QCOMPARE(QString::fromUtf8(error.what()), "Unable to write to " + dir.SettingsFile());
        }
        QVERIFY_THROWS_EXCEPTION(EProfileWriteError, profile.EraseSection("S"));
        QCOMPARE(profile.ReadString("S", "K", ""), QByteArray("old"));
    }

    void codePageRoundTripsEveryByte() {
        for (int byte = 0; byte < 256; ++byte)
            QCOMPARE(UnicodeToCp1252(Cp1252ToUnicode(static_cast<unsigned char>(byte))), byte);
        QCOMPARE(Cp1252ToUnicode(0x80), QChar(0x20AC));
        QCOMPARE(Cp1252ToUnicode(0xE4), QChar(0xE4));
        QCOMPARE(UnicodeToCp1252(QChar(0x20AC)), 0x80);
        QCOMPARE(UnicodeToCp1252(QChar(0x0416)), -1);
    }

    void encodesTextWithEitherPolicy_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("question");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("unmapped");
        const QString mixed = QStringLiteral("\u20AC\u00E4\u0416x\U0001F600y");
        QTest::newRow("all mapped")
            << QStringLiteral("a\u20AC\u00FF\u0081") << false << QByteArray("a\x80\xFF\x81") << 0;
        QTest::newRow("dropped") << mixed << false << QByteArray("\x80\xE4xy") << 2;
        // A stand-in per UTF-16 unit, so a surrogate pair gives two.
        QTest::newRow("question marks") << mixed << true << QByteArray("\x80\xE4?x??y") << 2;
        QTest::newRow("empty") << QString() << true << QByteArray() << 0;
    }
    void encodesTextWithEitherPolicy() {
        QFETCH(QString, text);
        QFETCH(bool, question);
        QFETCH(QByteArray, bytes);
        QFETCH(int, unmapped);
        int counted = -1;
        const TUnmappable policy = question ? TUnmappable::Question : TUnmappable::Drop;
        QCOMPARE(StringToCp1252(text, policy, &counted), bytes);
        QCOMPARE(counted, unmapped);
    }

    void decodesMacroText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("escape") << QByteArray("#35") << QByteArray("#");
        QTest::newRow("pair") << QByteArray("#13#10") << QByteArray("\r\n");
        QTest::newRow("no digits") << QByteArray("#A") << QByteArray("\0A", 2);
        QTest::newRow("two hashes") << QByteArray("##") << QByteArray("\0\0", 2);
        QTest::newRow("lone hash at end") << QByteArray("ab#") << QByteArray("ab\0", 3);
        QTest::newRow("256 wraps") << QByteArray("#256") << QByteArray("\0", 1);
        QTest::newRow("300") << QByteArray("#300") << QByteArray(",");
        QTest::newRow("999") << QByteArray("#999") << QByteArray("\xE7");
        QTest::newRow("fourth digit") << QByteArray("#0655") << QByteArray("A5");
        QTest::newRow("delay marker") << QByteArray("#27T100") << QByteArray("\x1BT100");
        QTest::newRow("every byte") << QByteArray("#0#13#255") << QByteArray("\0\r\xFF", 3);
        QTest::newRow("plain") << QByteArray("AT Z") << QByteArray("AT Z");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void decodesMacroText() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(DecodeMacro(text), bytes);
    }

    // Macro text, then the writes and the pause after each of them.
    void splitsMacrosAtTheirDelays_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QList<int>>("pauses");
        QTest::newRow("no marker")
            << QByteArray("AT#13#10") << QList<QByteArray>{"AT\r\n"} << QList<int>{0};
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{""} << QList<int>{0};
        QTest::newRow("worked example") << QByteArray("AT#13#27T500ATZ#13")
                                        << QList<QByteArray>{"AT\r", "ATZ\r"} << QList<int>{500, 0};
        QTest::newRow("four delay digits") << QByteArray("012#27T0100345")
                                           << QList<QByteArray>{"012", "345"} << QList<int>{100, 0};
        QTest::newRow("fifth digit is sent")
            << QByteArray("#27T12345") << QList<QByteArray>{"", "5"} << QList<int>{1234, 0};
        QTest::newRow("pauses only")
            << QByteArray("#27T5#27T5") << QList<QByteArray>{"", ""} << QList<int>{5, 5};
        QTest::newRow("marker at the end, no digits")
            << QByteArray("A#27T") << QList<QByteArray>{"A"} << QList<int>{0};
        QTest::newRow("marker and digits as escapes")
            << QByteArray("#027#84#53#48X") << QList<QByteArray>{"", "X"} << QList<int>{50, 0};
        QTest::newRow("ESC without T")
            << QByteArray("#27X#27") << QList<QByteArray>{"\x1BX\x1B"} << QList<int>{0};
        QTest::newRow("T without digits before digits")
            << QByteArray("a#27Tb7") << QList<QByteArray>{"a", "b7"} << QList<int>{0, 0};
    }
    void splitsMacrosAtTheirDelays() {
        QFETCH(QByteArray, text);
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QList<int>, pauses);
        QList<TMacroPiece> expected;
        for (qsizetype i = 0; i < writes.size(); ++i)
            expected.append({writes[i], pauses[i]});
        QCOMPARE(SplitAtDelays(DecodeMacro(text)), expected);
    }

    void messageLineBreaksBecomeOne() {
        QCOMPARE(DisplayText("a\n\r\n\r     b"), QString("a\n\n     b"));
    }
};

QTEST_GUILESS_MAIN(TestPlatformBasics)
#include "test_platform_basics.moc"
