// Byte interpretation of the screen model: ASCII and HEX emulation, escape
// sequence, pause, emulation switch, and the bounds of the buffer.
#include "tests/terminal/ScreenProbe.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// A screen with rows 0 to MaxRow.
struct Screen {
    explicit Screen(int maxRow = 9) : Probe(Model) { Model.MaxRow = maxRow; }
    TConsoleScreen Model;
    ScreenProbe Probe;
};

QByteArray Line(const TConsoleScreen& screen, int row) {
    return screen.Lines.value(row);
}

QByteArray HexLine(const QByteArray& pairs, const QByteArray& text) {
    return Padded(pairs, TConsoleScreen::HexAreaWidth) + text;
}

// The invariants of the buffer that hold between two blocks of intake.
QString BrokenInvariant(const TConsoleScreen& screen) {
    if (screen.Lines.size() < screen.Row + 1)
        return QStringLiteral("Lines shorter than Row + 1");
    if (screen.Row < 0 || screen.Row > screen.MaxRow)
        return QStringLiteral("Row %1 outside 0..%2").arg(screen.Row).arg(screen.MaxRow);
    if (!screen.HexEmulation) {
        if (screen.Col < 1 || screen.Col > TConsoleScreen::Columns)
            return QStringLiteral("Col %1").arg(screen.Col);
        for (const QByteArray& line : screen.Lines) {
            if (line.size() != TConsoleScreen::Columns)
                return QStringLiteral("ASCII line of %1").arg(line.size());
        }
        return {};
    }
    if (screen.Col < 1 || screen.Col > TConsoleScreen::HexLastCol || (screen.Col - 1) % 3 != 0)
        return QStringLiteral("HEX Col %1").arg(screen.Col);
    for (int row = 0; row < screen.Lines.size(); ++row) {
        const int placed = row < screen.Row ? 16 : (screen.Col - 1) / 3;
        if (screen.Lines[row].size() != TConsoleScreen::HexAreaWidth + placed)
            return QStringLiteral("HEX row %1 of %2").arg(row).arg(screen.Lines[row].size());
    }
    return {};
}

} // namespace

class TestConsoleScreen : public QObject {
    Q_OBJECT

private slots:
    void wrapsAtColumn80AndCrLfThenLeavesAnEmptyRow() {
        Screen s;
        s.Model.WriteText(QByteArray(79, 'a'));
        QCOMPARE(s.Model.Col, 80);
        s.Model.WriteText("b");
        QCOMPARE(s.Model.Row, 1);
        QCOMPARE(s.Model.Col, 1);
        s.Model.WriteText("\r\nc");
        QCOMPARE(Line(s.Model, 0), QByteArray(79, 'a') + "b");
        QCOMPARE(Line(s.Model, 1), Padded(""));
        QCOMPARE(Line(s.Model, 2), Padded("c"));
        QCOMPARE(s.Model.Row, 2);
    }

    void interpretsAsciiBytes_data() {
        QTest::addColumn<bool>("crlfIn");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        const QByteArray blank = Padded("");
        QTest::newRow("BS at column 1 does nothing")
            << false << QByteArray("\bA") << QList{Padded("A")} << 0 << 2;
        QTest::newRow("BS blanks and moves left")
            << false << QByteArray("ABC\b") << QList{Padded("AB")} << 0 << 3;
        QTest::newRow("BS twice then write")
            << false << QByteArray("ABC\b\bX") << QList{Padded("AX")} << 0 << 3;
        QTest::newRow("BS never goes up")
            << false << QByteArray("AB\n\b\b\b") << QList{Padded("AB"), Padded(" ")} << 1 << 1;
        QTest::newRow("LF keeps the column")
            << false << QByteArray("AB\nC") << QList{Padded("AB"), Padded("  C")} << 1 << 4;
        QTest::newRow("CR only returns")
            << false << QByteArray("ABC\rX") << QList{Padded("XBC")} << 0 << 2;
        QTest::newRow("CR with CRLFIn feeds")
            << true << QByteArray("ABC\rX") << QList{Padded("ABC"), Padded("X")} << 1 << 2;
        QTest::newRow("CR LF once without CRLFIn")
            << false << QByteArray("A\r\nB") << QList{Padded("A"), Padded("B")} << 1 << 2;
        QTest::newRow("CR LF twice with CRLFIn")
            << true << QByteArray("A\r\nB") << QList{Padded("A"), blank, Padded("B")} << 2 << 2;
        QTest::newRow("ESC then other byte shows it") << false
                                                      << QByteArray("\x1b"
                                                                    "A")
                                                      << QList{Padded("A")} << 0 << 2;
        QTest::newRow("ESC then lower p shows it")
            << false << QByteArray("\x1bpq") << QList{Padded("pq")} << 0 << 3;
        QTest::newRow("ESC ESC P positions")
            << false << QByteArray("\x1b\x1bP11X") << QList{blank, Padded(" X")} << 1 << 3;
        QTest::newRow("ESC P 2 5")
            << false << QByteArray("\x1bP25") << QList{blank, blank, blank} << 2 << 6;
        QTest::newRow("ESC P row below 0, column 127")
            << false << QByteArray("\x1bP!\x7fZ") << QList{QByteArray(79, ' ') + "Z", blank} << 1
            << 1;
        QTest::newRow("ESC P column above 127")
            << false << QByteArray("\x1bP0\xc8") << QList{blank} << 0 << 80;
        QTest::newRow("ESC P column below 0")
            << false << QByteArray("abc\x1bP0 X") << QList{Padded("Xbc")} << 0 << 2;
        QTest::newRow("ESC stores text before it")
            << false << QByteArray("ab\x1bP10cd") << QList{Padded("ab"), Padded("cd")} << 1 << 3;
        QTest::newRow("FF clears and homes")
            << false << QByteArray("AB\r\nCD\fE") << QList{Padded("E")} << 0 << 2;
        QTest::newRow("SUB clears and homes")
            << false << QByteArray("AB\r\nCD\x1a") << QList{blank} << 0 << 1;
        QTest::newRow("BEL shows nothing")
            << false << QByteArray("A\aB") << QList{Padded("AB")} << 0 << 3;
        QTest::newRow("EOT and ENQ show nothing") << false
                                                  << QByteArray("A\x05\x04"
                                                                "B")
                                                  << QList{Padded("AB")} << 0 << 3;
        QTest::newRow("NUL, TAB and DEL take a column") << false
                                                        << QByteArray("\0\t\x7f"
                                                                      "A",
                                                                      4)
                                                        << QList{Padded(QByteArray("\0\t\x7f"
                                                                                   "A",
                                                                                   4))}
                                                        << 0 << 5;
    }
    void interpretsAsciiBytes() {
        QFETCH(bool, crlfIn);
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, row);
        QFETCH(int, col);
        Screen s;
        s.Model.CRLFIn = crlfIn;
        s.Model.WriteText(input);
        QCOMPARE(s.Model.Lines, lines);
        QCOMPARE(s.Model.Row, row);
        QCOMPARE(s.Model.Col, col);
        QCOMPARE(s.Model.EscState, 0);
        // The same bytes one at a time give the same screen.
        Screen single;
        single.Model.CRLFIn = crlfIn;
        for (const char byte : input)
            single.Model.WriteText(QByteArray(1, byte));
        QCOMPARE(single.Model.Lines, lines);
        QCOMPARE(single.Model.Row, row);
        QCOMPARE(single.Model.Col, col);
    }

    void escapeSequenceSplitAcrossBlocks() {
        Screen s;
        s.Model.WriteText("ab\x1bP");
        QCOMPARE(s.Model.EscState, 2);
        s.Model.WriteText("3");
        QCOMPARE(s.Model.EscState, 3);
        s.Model.WriteText("4X");
        QCOMPARE(s.Model.Row, 3);
        QCOMPARE(Line(s.Model, 3), Padded("    X"));
        QCOMPARE(Line(s.Model, 0), Padded("ab"));
    }

    void escapeStateSurvivesClear() {
        Screen s;
        s.Model.WriteText("\x1bP");
        s.Model.ClearScreen();
        s.Model.WriteText("11Y");
        QCOMPARE(s.Model.Lines, (QList<QByteArray>{Padded(""), Padded(" Y")}));
    }

    void rowBeyondTheLastScreenRowScrollsUntilItIsLast() {
        Screen s(4);
        s.Model.WriteText("top\r\nsecond");
        s.Model.WriteText("\x1bP9"
                          "0Z");
        QCOMPARE(s.Probe.Scrolls, 5);
        QCOMPARE(s.Model.Row, 4);
        QCOMPARE(s.Model.Lines.size(), 5);
        QCOMPARE(Line(s.Model, 4), Padded("Z"));
        for (int row = 0; row < 4; ++row)
            QCOMPARE(Line(s.Model, row), Padded(""));
    }

    void lineFeedOnLastRowScrolls() {
        Screen s(2);
        s.Model.WriteText("a\r\nb\r\nc\r\nd");
        QCOMPARE(s.Model.Lines, (QList<QByteArray>{Padded("b"), Padded("c"), Padded("d")}));
        QCOMPARE(s.Probe.Scrolls, 1);
        QCOMPARE(s.Model.Row, 2);
    }

    void wrapOnLastRowScrolls() {
        Screen s(1);
        s.Model.WriteText(QByteArray(160, 'x') + "y");
        QCOMPARE(s.Model.Lines, (QList<QByteArray>{Padded(QByteArray(80, 'x')), Padded("y")}));
        QCOMPARE(s.Probe.Scrolls, 1);
    }

    void lineFeedAfterPositioningUpAddsNoLines() {
        Screen s(9);
        s.Model.WriteText("\n\n\n\n\n");
        QCOMPARE(s.Model.Lines.size(), 6);
        s.Model.WriteText("\x1bP00\n\n\n\n\n");
        QCOMPARE(s.Model.Row, 5);
        QCOMPARE(s.Model.Lines.size(), 6);
        s.Model.WriteText("\x1bP00" + QByteArray(400, 'w'));
        QCOMPARE(s.Model.Row, 5);
        QCOMPARE(s.Model.Lines.size(), 6);
    }

    void redrawingAFixedScreenKeepsTheBufferBounded() {
        Screen s(23);
        QByteArray redraw = "\x1bP00";
        for (int row = 0; row < 24; ++row)
            redraw += "row " + QByteArray::number(row) + (row < 23 ? "\r\n" : "");
        for (int i = 0; i < 100000; ++i) {
            s.Model.WriteText(redraw);
            if (s.Model.Lines.size() > s.Model.MaxRow + 2)
                QFAIL(qPrintable(QStringLiteral("Lines grew to %1 after %2 redraws")
                                     .arg(s.Model.Lines.size())
                                     .arg(i + 1)));
        }
        QCOMPARE(Line(s.Model, 23), Padded("row 23"));
        QCOMPARE(s.Probe.Scrolls, 0);
    }

    void controlCodesReachTheListener() {
        Screen s;
        s.Model.WriteText("\a\a");
        QCOMPARE(s.Probe.Beeps, 2);
        s.Model.WriteText("\x05");
        QVERIFY(!s.Model.CursorOn);
        s.Model.WriteText("\x04");
        QVERIFY(s.Model.CursorOn);
        s.Probe.ChangedRows.clear();
        s.Probe.CursorChanges = 0;
        s.Model.WriteText("");
        QCOMPARE(s.Probe.ChangedRows, QList<int>{0});
        QCOMPARE(s.Probe.CursorChanges, 1);
    }

    void hexLaysOutSixteenBytesALine() {
        Screen s;
        s.Model.SetHexEmulation(true);
        s.Model.WriteText("ABCDEFGHIJKLMNOPQ");
        QCOMPARE(Line(s.Model, 0),
                 HexLine("41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50", "ABCDEFGHIJKLMNOP"));
        QCOMPARE(Line(s.Model, 1), HexLine("51", "Q"));
        QCOMPARE(s.Model.Row, 1);
        QCOMPARE(s.Model.Col, 4);
    }

    void hexShowsEveryByteAndInterpretsNone_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("CR LF ESC BS") << QByteArray("\r\n\x1b\b") << HexLine("0D 0A 1B 08", "....");
        QTest::newRow("FF SUB BEL NUL")
            << QByteArray("\f\x1a\a\0", 4) << HexLine("0C 1A 07 00", "....");
        QTest::newRow("DEL and high bytes")
            << QByteArray("\x7f\x80\xe4\xff") << HexLine("7F 80 E4 FF", "\x7f\x80\xe4\xff");
        QTest::newRow("blank and letter") << QByteArray(" A") << HexLine("20 41", " A");
        QTest::newRow("ESC P sequence") << QByteArray("\x1bP00") << HexLine("1B 50 30 30", ".P00");
    }
    void hexShowsEveryByteAndInterpretsNone() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, line);
        Screen s;
        s.Model.SetHexEmulation(true);
        s.Model.WriteText(input);
        QCOMPARE(s.Model.Lines, QList<QByteArray>{line});
        QCOMPARE(s.Model.Row, 0);
        QCOMPARE(s.Model.EscState, 0);
        QCOMPARE(s.Probe.Beeps, 0);
    }

    void hexScrollsFullLines() {
        Screen s(1);
        s.Model.SetHexEmulation(true);
        s.Model.WriteText(QByteArray(16 * 2, 'z'));
        QCOMPARE(s.Model.Lines.size(), 2);
        QCOMPARE(Line(s.Model, 1), HexLine("", ""));
        QCOMPARE(s.Probe.Scrolls, 1);
        QCOMPARE(Line(s.Model, 0),
                 HexLine(QByteArray("7A ").repeated(16).trimmed(), QByteArray(16, 'z')));
    }

    void pausedIntakeIsLostButClearWorks() {
        Screen s;
        s.Model.WriteText("seen");
        s.Model.Displaying = false;
        s.Model.WriteText("\r\nlost\f");
        QCOMPARE(s.Model.Lines, QList<QByteArray>{Padded("seen")});
        s.Model.Displaying = true;
        QCOMPARE(s.Model.Lines, QList<QByteArray>{Padded("seen")});
        s.Model.Displaying = false;
        s.Model.ClearScreen();
        QCOMPARE(s.Model.Lines, QList<QByteArray>{Padded("")});
        QCOMPARE(s.Model.Col, 1);
    }

    void switchingTheEmulationClearsOnlyOnChange() {
        Screen s;
        s.Model.WriteText("ascii\r\n");
        s.Model.SetHexEmulation(false);
        QCOMPARE(s.Probe.Clears, 0);
        s.Model.SetHexEmulation(true);
        QCOMPARE(s.Probe.Clears, 1);
        QCOMPARE(s.Model.Lines, QList<QByteArray>{HexLine("", "")});
        QCOMPARE(s.Model.Row, 0);
        QCOMPARE(s.Model.Col, 1);
        s.Model.WriteText("hex");
        s.Model.SetHexEmulation(true);
        QCOMPARE(s.Model.Lines, QList<QByteArray>{HexLine("68 65 78", "hex")});
        s.Model.ClearScreen();
        QCOMPARE(s.Model.Lines, QList<QByteArray>{HexLine("", "")});
        s.Model.SetHexEmulation(false);
        QCOMPARE(s.Probe.Clears, 3);
        QCOMPARE(s.Model.Lines, QList<QByteArray>{Padded("")});
    }

    void randomBytesKeepTheInvariants_data() {
        QTest::addColumn<bool>("hex");
        QTest::newRow("ASCII") << false;
        QTest::newRow("HEX") << true;
    }
    void randomBytesKeepTheInvariants() {
        QFETCH(bool, hex);
        Screen s(23);
        s.Model.SetHexEmulation(hex);
        s.Model.CRLFIn = true;
        QRandomGenerator random(hex ? 4711 : 815);
        qsizetype fed = 0;
        while (fed < 10 * 1024 * 1024) {
            const int size = random.bounded(1, 8193);
            QList<quint32> words((size + 3) / 4);
            random.fillRange(words.data(), words.size());
            const QByteArray block(reinterpret_cast<const char*>(words.constData()), size);
            s.Model.WriteText(block);
            fed += block.size();
            const QString broken = BrokenInvariant(s.Model);
            if (!broken.isEmpty())
                QFAIL(qPrintable(broken + QStringLiteral(" after %1 bytes").arg(fed)));
        }
    }

    // Rows that scroll off go into the history, oldest first, bounded by the
    // limit; 0 keeps none. Line numbers run on over history and screen.
    void historyKeepsTheNewestRowsInOrder_data() {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("lines");
        QTest::newRow("ascii, under the limit") << false << 100 << 50;
        QTest::newRow("ascii, flood over the limit") << false << 100 << 5000;
        QTest::newRow("ascii, no history") << false << 0 << 500;
        QTest::newRow("hex, flood over the limit") << true << 64 << 3000;
    }
    void historyKeepsTheNewestRowsInOrder() {
        QFETCH(bool, hex);
        QFETCH(int, limit);
        QFETCH(int, lines);
        Screen s;
        s.Model.SetHexEmulation(hex);
        s.Model.SetScrollbackLimit(limit);
        QByteArray text;
        for (int i = 0; i < lines; ++i)
            text += hex ? char(i % 256) + QByteArray(15, 'x')
                        : "line " + QByteArray::number(i) + "\r\n";
        s.Model.WriteText(text);
        const int scrolled = lines - s.Model.MaxRow;
        QCOMPARE(s.Model.History().size(), std::min(scrolled, limit));
        QCOMPARE(s.Model.ScreenLine(), scrolled);
        QCOMPARE(s.Model.EndLine() - s.Model.FirstLine(),
                 s.Model.History().size() + s.Model.Lines.size());
        for (qint64 line = s.Model.FirstLine(); line < s.Model.EndLine() - 1; ++line) {
            const QByteArray expected =
                hex ? QByteArray::number(line % 256, 16).toUpper().rightJustified(2, '0')
                    : Padded("line " + QByteArray::number(line));
            QCOMPARE(s.Model.LineText(line).left(expected.size()), expected);
        }
    }

    void positioningAndClearAddressTheScreenOnly() {
        Screen s(3);
        s.Model.WriteText("a\r\nb\r\nc\r\nd\r\ne\r\nf");
        const QList<QByteArray> history = s.Model.History();
        QCOMPARE(history.size(), 2);
        s.Model.WriteText("\x1bP00X");
        QCOMPARE(Line(s.Model, 0), Padded("X"));
        QCOMPARE(s.Model.History(), history);
        s.Model.ClearScreen();
        QCOMPARE(s.Model.History(), history);
        s.Model.ClearScrollback();
        QVERIFY(s.Model.History().isEmpty());
        s.Model.WriteText("a\r\nb\r\nc\r\nd\r\ne");
        s.Model.SetHexEmulation(true);
        QVERIFY(s.Model.History().isEmpty());
    }

    // History lines 0..3, screen lines 4..6 (rows 0..2).
    void findsOverHistoryAndScreen_data() {
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<qint64>("fromLine");
        QTest::addColumn<int>("fromCol");
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<qint64>("line");
        QTest::addColumn<int>("col");
        QTest::newRow("forward into history")
            << QByteArray("boot") << true << 0LL << 0 << false << 1LL << 0;
        QTest::newRow("forward past the start")
            << QByteArray("boot") << true << 1LL << 1 << false << 5LL << 3;
        QTest::newRow("forward wraps around")
            << QByteArray("boot") << true << 5LL << 4 << false << 1LL << 0;
        QTest::newRow("case on") << QByteArray("BOOT") << true << 0LL << 0 << false << 6LL << 0;
        QTest::newRow("case off") << QByteArray("BOOT") << false << 2LL << 0 << false << 5LL << 3;
        QTest::newRow("backwards") << QByteArray("boot") << true << 5LL << 3 << true << 1LL << 0;
        QTest::newRow("backwards wraps")
            << QByteArray("boot") << true << 1LL << 0 << true << 5LL << 3;
        QTest::newRow("code page letters fold")
            << QByteArray("\xc4RGER") << false << 0LL << 0 << false << 3LL << 0;
        QTest::newRow("absent") << QByteArray("nowhere") << false << 0LL << 0 << false << -1LL
                                << -1;
    }
    void findsOverHistoryAndScreen() {
        QFETCH(QByteArray, needle);
        QFETCH(bool, matchCase);
        QFETCH(qint64, fromLine);
        QFETCH(int, fromCol);
        QFETCH(bool, backwards);
        QFETCH(qint64, line);
        QFETCH(int, col);
        Screen s(2);
        s.Model.WriteText("zero\r\nboot one\r\ntwo\r\n\xe4rger\r\nfour\r\nno boot\r\nBOOT");
        QCOMPARE(s.Model.FirstLine(), 0);
        QCOMPARE(s.Model.ScreenLine(), 4);
        const std::optional<TTextPos> found =
            s.Model.Find(needle, matchCase, TTextPos{fromLine, fromCol}, backwards);
        QCOMPARE(found.has_value(), line >= 0);
        if (found) {
            QCOMPARE(found->Line, line);
            QCOMPARE(found->Col, col);
        }
    }

    void textBetweenJoinsRowsWithoutTrailingBlanks() {
        Screen s(2);
        s.Model.WriteText("first row\r\nsecond row\r\nthird\r\nlast");
        const QList<QByteArray> across{"row", "second row", "thi"};
        QCOMPARE(s.Model.TextBetween(TTextPos{0, 6}, TTextPos{2, 3}), across);
        QCOMPARE(s.Model.TextBetween(TTextPos{2, 3}, TTextPos{0, 6}), across);
        QCOMPARE(s.Model.TextBetween(TTextPos{1, 0}, TTextPos{2, 0}),
                 QList<QByteArray>{"second row"});
        s.Model.SetHexEmulation(true);
        s.Model.WriteText("AB\r");
        const qint64 top = s.Model.ScreenLine();
        QCOMPARE(s.Model.TextBetween(TTextPos{top, 0}, TTextPos{top, 100}),
                 QList<QByteArray>{HexLine("41 42 0D", "AB.")});
    }
};

QTEST_GUILESS_MAIN(TestConsoleScreen)
#include "test_console_screen.moc"
