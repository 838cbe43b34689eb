// The VT console of the simulated device: its line editor takes the keys a
// VT terminal sends, and it learns the width from the terminal's answer.
#include "tests/support/target/TargetProcess.h"
#include "tools/VtShell.h"

#include <QtTest>

namespace {

// A console that has asked for the width and got Columns as the answer.
std::string StartedShell(VtShell& shell, int columns = 80) {
    shell.Start();
    const std::string answer = "\x1b[24;" + std::to_string(columns) + "R";
    return shell.Feed(answer.data(), answer.size());
}

} // namespace

class TestVtShell : public QObject {
    Q_OBJECT

private slots:
    void editsTheLineWithTheKeysOfAVtTerminal_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<int>("entered");
        auto row = [](const char* name, const QByteArray& keys, const QString& line, int cursor,
                      int entered = 0) {
            QTest::newRow(name) << keys << line << cursor << entered;
        };
        row("typed", "abc", "abc", 3);
        row("left then insert", "abc\x1b[D\x1b[DX", "aXbc", 2);
        row("right stops at the end", "ab\x1b[D\x1b[C\x1b[CX", "abX", 3);
        row("application mode arrows", "ab\x1bODX", "aXb", 2);
        row("home and end", "abc\x1b[H1\x1b[F2", "1abc2", 5);
        row("home and end as ~ keys", "bc\x1b[1~a\x1b[4~d", "abcd", 4);
        row("DEL and BS erase", "abc\x7f\x08", "a", 1);
        row("backspace at the start", "ab\x1b[H\x7f", "ab", 0);
        row("delete key", "abc\x1b[H\x1b[3~", "bc", 0);
        row("ctrl u keeps the rest", "abc\x1b[D\x15", "c", 0);
        row("history up twice", "one\rtwo\r\x1b[A\x1b[A", "one", 3, 2);
        row("history down gives the draft back", "one\rdra\x1b[A\x1b[B", "dra", 3, 1);
        row("history skips an empty line", "one\r\r\x1b[A", "one", 3, 2);
        row("CR LF is one Enter", "a\r\nb\r\n\x1b[A\x1b[A", "a", 1, 2);
        row("lone LF is Enter", "a\nb\n", "", 0, 2);
        row("UTF-8 split anywhere", "\xc2\xb0\xe4\xbd\xa0", "°你", 2);
        row("invalid UTF-8 is one U+FFFD",
            "\xe4\xbd"
            "a\xff",
            "\uFFFDa\uFFFD", 3);
        row("unknown sequence dropped", "a\x1b[5;3Xb\x1bxc", "abc", 3);
        row("stray position report", "a\x1b[3;7Rb", "ab", 2);
    }
    void editsTheLineWithTheKeysOfAVtTerminal() {
        QFETCH(QByteArray, keys);
        QFETCH(QString, line);
        QFETCH(int, cursor);
        QFETCH(int, entered);
        VtShell whole;
        VtShell byteByByte;
        int lines = 0;
        for (VtShell* shell : {&whole, &byteByByte}) {
            StartedShell(*shell);
            shell->OnLine = [&lines](const std::string&) {
                ++lines;
                return std::string();
            };
        }
        whole.Feed(keys.constData(), keys.size());
        for (const char byte : keys)
            byteByByte.Feed(&byte, 1);
        for (const VtShell* shell : {&whole, &byteByByte}) {
            QCOMPARE(QString::fromStdString(shell->Line()), line);
            QCOMPARE(shell->CursorIndex(), std::size_t(cursor));
        }
        QCOMPARE(lines, 2 * entered);
    }

    void widthComesFromThePositionReport_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("stillAsking");
        QTest::newRow("132 columns") << QByteArray("\x1b[24;132R") << 132 << false;
        QTest::newRow("narrow is clamped") << QByteArray("\x1b[1;5R") << 20 << false;
        QTest::newRow("no column") << QByteArray("\x1b[24R") << 80 << true;
        QTest::newRow("junk column") << QByteArray("\x1b[24;8xR") << 80 << true;
    }
    void widthComesFromThePositionReport() {
        QFETCH(QByteArray, answer);
        QFETCH(int, columns);
        QFETCH(bool, stillAsking);
        VtShell shell;
        const std::string start = shell.Start();
        QVERIFY(start.find("\x1b[6n") != std::string::npos);
        const std::string out = shell.Feed(answer.constData(), answer.size());
        QCOMPARE(shell.Columns(), columns);
        QCOMPARE(shell.AwaitingWidth(), stillAsking);
        // The rule under the boot log spans exactly the width.
        if (!stillAsking)
            QVERIFY(out.find(Utf8(std::u32string(columns, U'\u2500')) + "\x1b[0m") !=
                    std::string::npos);
    }

    // A line wider than the terminal scrolls sideways: no redraw writes more
    // cells than fit after the prompt, so nothing wraps.
    void longLineNeverWraps() {
        VtShell shell;
        StartedShell(shell, 20);
        const std::string keys(40, 'x');
        std::string out;
        for (const char key : keys)
            out = shell.Feed(&key, 1);
        const std::string prompt = "qx>\x1b[0m ";
        const std::size_t shown = out.find("\x1b[K") - out.rfind(prompt) - prompt.size();
        QVERIFY2(shown <= 15, out.c_str());
        QCOMPARE(shell.Line().size(), keys.size());
    }

    void targetAsksTheTerminalAndGoesOnWithoutAnAnswer_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("answered") << QByteArray("\x1b[9;100R") << QByteArray("100 columns");
        QTest::newRow("no answer") << QByteArray() << QByteArray("qx>");
    }
    void targetAsksTheTerminalAndGoesOnWithoutAnAnswer() {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);
        TargetProcess target;
        QVERIFY(target.Start({"--vt", "--loader", "#42"}));
        QVERIFY(target.OpenClient());
        QByteArray seen = target.Read(int(VtShell().Start().size()));
        QVERIFY(seen.contains("25.4 \xc2\xb0"
                              "C"));
        QVERIFY(seen.endsWith("\x1b[999C\x1b[6n"));
        QVERIFY(target.Write(answer));
        seen = target.Read(100000, 3000);
        QVERIFY2(seen.contains(expected), seen.constData());
        QVERIFY(target.Write("help\r\n"));
        seen = target.Read(100000, 3000);
        QVERIFY2(seen.contains("colors") && seen.contains("\r\n*\r\n"), seen.constData());
    }
};

QTEST_GUILESS_MAIN(TestVtShell)
#include "test_vt_shell.moc"
