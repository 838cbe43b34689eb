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

    void messageLineBreaksBecomeOne() {
        QCOMPARE(DisplayText("a\n\r\n\r     b"), QString("a\n\n     b"));
    }
};

QTEST_GUILESS_MAIN(TestPlatformBasics)
#include "test_platform_basics.moc"
