// The input line below the pane: its text and hex forms as a table, and in
// the window what it sends to the line, its history across program starts
// and its repeat, stopped by Escape.
#include "app/InputLineText.h"
#include "app/TInputLine.h"
#include "tests/app/AppWindowFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

class TestInputLine : public QObject {
    Q_OBJECT

private slots:
    void parsesTextAndHex_data() {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        QTest::newRow("hex with blanks") << true << "48 65 6C 6c 6F" << QByteArray("Hello") << "";
        QTest::newRow("hex run together")
            << true << " 0D0a00ff " << QByteArray("\r\n\0\xff", 4) << "";
        QTest::newRow("hex, odd digit count")
            << true << "48 6" << QByteArray() << "odd number of hex digits in '6'";
        QTest::newRow("hex, odd run")
            << true << "486" << QByteArray() << "odd number of hex digits in '486'";
        QTest::newRow("hex, bad digit") << true << "48 6G" << QByteArray() << "'G' is no hex digit";
        QTest::newRow("hex, empty") << true << "  " << QByteArray() << "";
        QTest::newRow("text") << false << "AT+CSQ" << QByteArray("AT+CSQ") << "";
        QTest::newRow("escapes") << false << "a\\r\\n\\t\\\\\\x1B[0m\\x00"
                                 << QByteArray("a\r\n\t\\\x1b[0m\0", 10) << "";
        QTest::newRow("hex escape, one digit")
            << false << "\\x4" << QByteArray() << "\\x needs two hex digits: '\\x4'";
        QTest::newRow("hex escape, bad digit")
            << false << "\\xG1" << QByteArray() << "\\x needs two hex digits: '\\xG1'";
        QTest::newRow("unknown escape") << false << "\\q" << QByteArray() << "unknown escape '\\q'";
        QTest::newRow("backslash at the end")
            << false << "ab\\" << QByteArray() << "a backslash at the end: write \\\\ for one";
        QTest::newRow("Western code page")
            << false << QString::fromUtf8("\xE2\x82\xAC\xC3\xA4") << QByteArray("\x80\xe4") << "";
        QTest::newRow("no byte for it")
            << false << QString::fromUtf8("\xE2\x86\x92") << QByteArray()
            << QString::fromUtf8("'\xE2\x86\x92' has no byte in the Western code page");
    }
    void parsesTextAndHex() {
        QFETCH(bool, hex);
        QFETCH(QString, text);
        const TInputBytes parsed =
            ParseInputLine(text, hex ? TInputFormat::Hex : TInputFormat::Text);
        QTEST(parsed.Error, "error");
        QTEST(parsed.Bytes, "bytes");
    }

    // F4 shows the line; Enter sends it with its line end, echoed; a bad
    // line is not sent. The next start finds the line in its history.
    void sendsWithItsLineEndAndKeepsTheHistory() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        TInputLine* line = f.Window->InputLine;
        QVERIFY(!line->isVisible());
        QTest::sendKeyEvent(QTest::Click, f.Window->windowHandle(), Qt::Key_F4, QString(),
                            Qt::NoModifier);
        QVERIFY(line->isVisible() && line->Edit->hasFocus());
        line->FormatBox->setCurrentIndex(int(TInputFormat::Hex));
        line->LineEndBox->setCurrentIndex(int(TLineEnd::CRLF));
        QTest::keyClicks(line->Edit, "48 69");
        QTest::keyClick(line->Edit, Qt::Key_Return);
        QCOMPARE(f.Pty.Read(4), QByteArray("Hi\r\n"));
        QVERIFY(line->Edit->text().isEmpty());
        QTest::keyClicks(line->Edit, "0D 7");
        QTest::keyClick(line->Edit, Qt::Key_Enter);
        QVERIFY(f.Pty.ReadAll(200).isEmpty());
        QCOMPARE(line->Edit->text(), QStringLiteral("0D 7"));
        QVERIFY(f.Window->StatusBar->currentMessage().contains("odd number of hex digits in '7'"));
        QCOMPARE(f.Window->WrittenBytes(), QList<QByteArray>{"Hi\r\n"});

        f.Window.reset();
        QVERIFY(f.Show());
        line = f.Window->InputLine;
        QVERIFY(line->isVisible());
        QCOMPARE(line->FormatBox->currentIndex(), int(TInputFormat::Hex));
        QTest::keyClicks(line->Edit, "draft");
        QTest::keyClick(line->Edit, Qt::Key_Up);
        QCOMPARE(line->Edit->text(), QStringLiteral("48 69"));
        QTest::keyClick(line->Edit, Qt::Key_Up);
        QCOMPARE(line->Edit->text(), QStringLiteral("48 69"));
        QTest::keyClick(line->Edit, Qt::Key_Down);
        QCOMPARE(line->Edit->text(), QStringLiteral("draft"));
    }

    // In VT the target's programs get F4 (an edit key of full-screen
    // tools); the input line is not toggled.
    void f4GoesToTheTargetInVt() {
        AppWindowFixture f;
        f.WriteSetting("Terminal", "Emulation", "VT");
        QVERIFY(f.Show());
        QTest::sendKeyEvent(QTest::Click, f.Window->windowHandle(), Qt::Key_F4, QString(),
                            Qt::NoModifier);
        QCOMPARE(f.Pty.Read(3), QByteArray("\x1bOS"));
        QVERIFY(!f.Window->InputLine->isVisible());
    }

    void aRepeatGoesOnUntilEscape() {
        AppWindowFixture f;
        f.WriteSetting("InputLine", "Visible", "1");
        f.WriteSetting("InputLine", "RepeatMs", "20");
        QVERIFY(f.Show());
        TInputLine* line = f.Window->InputLine;
        QTest::keyClicks(line->Edit, "ping");
        QTest::keyClick(line->Edit, Qt::Key_Return);
        QByteArray received;
        QVERIFY(QTest::qWaitFor([&] {
            received += f.Pty.ReadAll(10);
            return received.count("ping\r") >= 3;
        }));
        QVERIFY(line->Repeating());
        QTest::keyClick(line->Edit, Qt::Key_Escape);
        QVERIFY(!line->Repeating());
        f.Pty.ReadAll(100);
        QVERIFY(f.Pty.ReadAll(200).isEmpty());
    }
};

QTEST_MAIN(TestInputLine)
#include "test_input_line.moc"
