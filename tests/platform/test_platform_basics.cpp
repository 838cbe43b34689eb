// Code page, macro text and message texts of the platform layer.
#include "platform/Cp1252.h"
#include "platform/TInteraction.h"
#include "platform/MacroText.h"

#include <QtTest>

class TestPlatformBasics : public QObject {
    Q_OBJECT

private slots:
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
