// The VT emulation's screen model: what byte sequences leave on the screen
// (text, cursor, attributes), UTF-8 repair, the answers it gives and the
// ones it never gives, keys, and the history.
#include "terminal/TVtScreen.h"

#include <QtTest>

namespace {

constexpr int Columns = 20;
constexpr int Rows = 5;

struct TFed {
    QStringList Text;
    QPoint Cursor;
    QByteArray Answers;
    bool operator==(const TFed&) const = default;
};

// Feeds Bytes into a fresh screen in the given pieces.
TFed Feed(const QList<QByteArray>& pieces) {
    TVtScreen screen(Columns, Rows);
    TFed fed;
    screen.OnAnswer = [&fed](const QByteArray& answer) { fed.Answers += answer; };
    for (const QByteArray& piece : pieces)
        screen.WriteText(piece);
    fed.Text = screen.VisibleText();
    while (!fed.Text.isEmpty() && fed.Text.last().isEmpty())
        fed.Text.removeLast();
    fed.Cursor = screen.Cursor();
    return fed;
}

// Every way to cut Bytes into two pieces, and into single bytes.
QList<QList<QByteArray>> Splits(const QByteArray& bytes) {
    QList<QList<QByteArray>> splits;
    for (qsizetype at = 1; at < bytes.size(); ++at)
        splits.append({bytes.left(at), bytes.mid(at)});
    QList<QByteArray> single;
    for (const char byte : bytes)
        single.append(QByteArray(1, byte));
    splits.append(single);
    return splits;
}

TVtCell CellAt(const QByteArray& bytes, int col) {
    TVtScreen screen(Columns, Rows);
    screen.WriteText(bytes);
    return screen.Line(screen.ScreenLine()).Cells.value(col);
}

} // namespace

class TestVtScreen : public QObject {
    Q_OBJECT

private slots:
    void bytesLeaveTheScreenAndCursorSplitAnywhere_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("text");
        QTest::addColumn<QPoint>("cursor");
        const QStringList none;
        QTest::newRow("colour log line") << QByteArray("\x1b[0;32mI (312) wifi\x1b[0m\r\n")
                                         << QStringList{"I (312) wifi"} << QPoint(0, 1);
        QTest::newRow("unknown sequences vanish")
            << QByteArray("a\x1b[?999;7zb\x1bP1;2|xyz\x1b\\c\x1b]99;t\x07"
                          "d\x1b^pm\x1b\\e")
            << QStringList{"abcde"} << QPoint(5, 0);
        QTest::newRow("CUP HVP CUU CUF") << QByteArray("\x1b[3;4Hx\x1b[1;1fy\x1b[2Bz\x1b[A\x1b[5Cw")
                                         << QStringList{"y", "       w", " z x"} << QPoint(8, 1);
        QTest::newRow("CNL CPL CHA VPA")
            << QByteArray("ab\x1b[2Ec\x1b[Fd\x1b[5Ge\x1b[4df")
            << QStringList{"ab", "d   e", "c", "     f"} << QPoint(6, 3);
        QTest::newRow("DECSC DECRC and CSI s u")
            << QByteArray("ab\x1b"
                          "7\x1b[3;3Hx\x1b"
                          "8y\x1b[s\x1b[5;1Hz\x1b[uq")
            << QStringList{"abyq", "", "  x", "", "z"} << QPoint(4, 0);
        QTest::newRow("ED EL") << QByteArray("aaaa\r\nbbbb\r\ncccc\x1b[2;3H\x1b[K\x1b[3;2H\x1b[1J")
                               << QStringList{"", "", "  cc"} << QPoint(1, 2);
        QTest::newRow("ICH DCH ECH") << QByteArray("abcdef\r\x1b[2@\x1b[3C\x1b[P\x1b[2X")
                                     << QStringList{"  a  ef"} << QPoint(3, 0);
        QTest::newRow("IL DL") << QByteArray("1\r\n2\r\n3\x1b[2;1H\x1b[L\x1b[3;1H\x1b[2M")
                               << QStringList{"1"} << QPoint(0, 2);
        QTest::newRow("insert mode")
            << QByteArray("abc\r\x1b[4hXY\x1b[4lZ") << QStringList{"XYZbc"} << QPoint(3, 0);
        QTest::newRow("pending wrap at the last column")
            << QByteArray(20, 'x') + QByteArray("\x1b[1;19Hyz")
            << QStringList{"xxxxxxxxxxxxxxxxxxyz"} << QPoint(19, 0);
        QTest::newRow("autowrap") << QByteArray(21, 'x') << QStringList{QString(20, 'x'), "x"}
                                  << QPoint(1, 1);
        QTest::newRow("no autowrap") << QByteArray("\x1b[?7l") + QByteArray(22, 'x') + "y"
                                     << QStringList{QString(19, 'x') + "y"} << QPoint(19, 0);
        QTest::newRow("scroll region and DECOM")
            << QByteArray("top\x1b[2;3r\x1b[?6h\x1b[1;1Ha\r\nb\r\nc\x1b[?6l\x1b[r")
            << QStringList{"top", "b", "c"} << QPoint(0, 0);
        QTest::newRow("IND RI NEL") << QByteArray("a\x1b"
                                                  "Db\x1bMc\x1b"
                                                  "Ed")
                                    << QStringList{"a c", "db"} << QPoint(1, 1);
        QTest::newRow("SU SD") << QByteArray("1\r\n2\r\n3\x1b[S\x1b[2T")
                               << QStringList{"", "", "2", "3"} << QPoint(1, 2);
        QTest::newRow("tabs default HTS TBC CHT CBT")
            << QByteArray("a\tb\x1b[3g\x1b[1;4H\x1bH\r\tc\x1b[Z\x1b[I-")
            << QStringList{"a  c    b          -"} << QPoint(19, 0);
        QTest::newRow("DEC line drawing")
            << QByteArray("\x1b(0lqk\x1b(Bq") << QStringList{"\u250c\u2500\u2510q"} << QPoint(4, 0);
        QTest::newRow("alternate screen restores the main one")
            << QByteArray("main\x1b[?1049hother\r\n\n\n\n\n\x1b[?1049l") << QStringList{"main"}
            << QPoint(4, 0);
        QTest::newRow("wide and combining")
            << QByteArray("\xe4\xb8\xad"
                          "a\xcc\x81"
                          "\xf0\x9f\x98\x80!")
            << QStringList{"\u4e2da\u0301\U0001F600!"} << QPoint(6, 0);
        QTest::newRow("UTF-8 overlong")
            << QByteArray("\xc0\x80x\xe0\x80\x80y")
            << QStringList{"\ufffd\ufffdx\ufffd\ufffd\ufffdy"} << QPoint(7, 0);
        QTest::newRow("UTF-8 surrogate")
            << QByteArray("\xed\xa0\x80z") << QStringList{"\ufffd\ufffd\ufffdz"} << QPoint(4, 0);
        QTest::newRow("UTF-8 cut short by a valid character")
            << QByteArray("\xe2\x82y\xf0\x9f\x98\xc3\xa9") << QStringList{"\ufffdy\ufffd\u00e9"}
            << QPoint(4, 0);
        QTest::newRow("UTF-8 cut short by an escape")
            << QByteArray("\xe2\x82\x1b[2Cx") << QStringList{"\ufffd  x"} << QPoint(4, 0);
        QTest::newRow("UTF-8 beyond U+10FFFF and stray bytes")
            << QByteArray("\xf4\x90\x80\x80v\x80\xfe")
            << QStringList{"\ufffd\ufffd\ufffd\ufffdv\ufffd\ufffd"} << QPoint(7, 0);
        // Each of these crashed the engine before it was filtered.
        QTest::newRow("C1 string start as UTF-8 in insert mode")
            << QByteArray("\x1b[4h\xc2\x9f\"x\x1b\\y") << QStringList{"y"} << QPoint(1, 0);
        QTest::newRow("wide combining marks")
            << QByteArray("d") + QByteArray("\xe3\x82\x99").repeated(10)
            << QStringList{"d" + QString(9, QChar(0x309B)), QString(QChar(0x309B))}
            << QPoint(2, 1);
        QTest::newRow("mode 47 is the alternate screen")
            << QByteArray("back\x1b[?47hx\x1b[?47l") << QStringList{"back"} << QPoint(5, 0);
        QTest::newRow("degree sign") << QByteArray("25.4 \xc2\xb0"
                                                   "C")
                                     << QStringList{"25.4 \u00b0C"} << QPoint(7, 0);
    }
    void bytesLeaveTheScreenAndCursorSplitAnywhere() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, text);
        QFETCH(QPoint, cursor);
        const TFed whole = Feed({bytes});
        QCOMPARE(whole.Text, text);
        QCOMPARE(whole.Cursor, cursor);
        for (const QList<QByteArray>& pieces : Splits(bytes)) {
            if (!(Feed(pieces) == whole))
                QFAIL(qPrintable(QStringLiteral("differs when split after %1 bytes")
                                     .arg(pieces.first().size())));
        }
    }

    void controlsAndEdgesOfTheEngineSplitAnywhere_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("text");
        QTest::addColumn<QPoint>("cursor");
        QTest::newRow("C1 CSI as UTF-8") << QByteArray("a\xc2\x9b"
                                                       "2Cb")
                                         << QStringList{"a  b"} << QPoint(4, 0);
        QTest::newRow("byte 0x9B alone is no control")
            << QByteArray("a\x9b"
                          "2Cb")
            << QStringList{"a\ufffd"
                           "2Cb"}
            << QPoint(5, 0);
        QTest::newRow("REP") << QByteArray("ab\x1b[3b") << QStringList{"abbbb"} << QPoint(5, 0);
        QTest::newRow("OSC past its bound is consumed")
            << QByteArray("\x1b]0;") + QByteArray(4200, 'x') + "\x07z" << QStringList{"z"}
            << QPoint(1, 0);
        QTest::newRow("ESC ends an OSC and starts a sequence")
            << QByteArray("\x1b]0;t\x1b[2Cz") << QStringList{"  z"} << QPoint(3, 0);
        QTest::newRow("mark after the last column joins it")
            << QByteArray("\x1b[1;20Hx\xcc\x81") << QStringList{QString(19, ' ') + "x\u0301"}
            << QPoint(19, 0);
        QTest::newRow("half a wide character overwritten")
            << QByteArray("\xe4\xb8\xad\x1b[2Gy") << QStringList{" y"} << QPoint(2, 0);
        QTest::newRow("soft reset ends insert mode")
            << QByteArray("ab\x1b[4h\x1b[!p\rX") << QStringList{"Xb"} << QPoint(1, 0);
    }
    void controlsAndEdgesOfTheEngineSplitAnywhere() {
        bytesLeaveTheScreenAndCursorSplitAnywhere();
    }

    void attributesAndColoursReachTheCells_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("flags");
        QTest::addColumn<quint32>("fg");
        QTest::addColumn<quint32>("bg");
        QTest::newRow("plain") << QByteArray("x") << 0 << TVtCell::DefaultColour
                               << TVtCell::DefaultColour;
        QTest::newRow("bold italic underline")
            << QByteArray("\x1b[1;3;4mx")
            << int(TVtCell::Bold | TVtCell::Italic | TVtCell::Underline) << TVtCell::DefaultColour
            << TVtCell::DefaultColour;
        QTest::newRow("blink reverse strike")
            << QByteArray("\x1b[5;7;9mx")
            << int(TVtCell::Blink | TVtCell::Reverse | TVtCell::Strike) << TVtCell::DefaultColour
            << TVtCell::DefaultColour;
        QTest::newRow("dim hidden")
            << QByteArray("\x1b[2;8mx") << int(TVtCell::Dim | TVtCell::Hidden)
            << TVtCell::DefaultColour << TVtCell::DefaultColour;
        QTest::newRow("dim off, not a colour index")
            << QByteArray("\x1b[2m\x1b[38;5;2;22;48;2;2;8;2mx") << 0 << TVtCell::Indexed(2)
            << TVtCell::Rgb(2, 8, 2);
        QTest::newRow("reset") << QByteArray("\x1b[1;31;42m\x1b[0mx") << 0 << TVtCell::DefaultColour
                               << TVtCell::DefaultColour;
        QTest::newRow("8 colours")
            << QByteArray("\x1b[31;42mx") << 0 << TVtCell::Indexed(1) << TVtCell::Indexed(2);
        QTest::newRow("bright") << QByteArray("\x1b[93;104mx") << 0 << TVtCell::Indexed(11)
                                << TVtCell::Indexed(12);
        QTest::newRow("256") << QByteArray("\x1b[38;5;202;48;5;17mx") << 0 << TVtCell::Indexed(202)
                             << TVtCell::Indexed(17);
        QTest::newRow("24-bit") << QByteArray("\x1b[38;2;1;2;3;48;2;250;128;0mx") << 0
                                << TVtCell::Rgb(1, 2, 3) << TVtCell::Rgb(250, 128, 0);
        QTest::newRow("default again") << QByteArray("\x1b[31;42m\x1b[39;49mx") << 0
                                       << TVtCell::DefaultColour << TVtCell::DefaultColour;
    }
    void attributesAndColoursReachTheCells() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, flags);
        QFETCH(quint32, fg);
        QFETCH(quint32, bg);
        const TVtCell cell = CellAt(bytes, 0);
        QCOMPARE(cell.Char, U'x');
        QCOMPARE(int(cell.Flags), flags);
        QCOMPARE(cell.Fg, fg);
        QCOMPARE(cell.Bg, bg);
    }

    void onlyDeviceAttributesAndStatusReportsAreAnswered_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("answers");
        QTest::newRow("DA1") << QByteArray("\x1b[c") << QByteArray("\x1b[?1;2c");
        QTest::newRow("DA1 with 0") << QByteArray("\x1b[0c") << QByteArray("\x1b[?1;2c");
        QTest::newRow("DA2") << QByteArray("\x1b[>c") << QByteArray("\x1b[>0;100;0c");
        QTest::newRow("DSR 5") << QByteArray("\x1b[5n") << QByteArray("\x1b[0n");
        QTest::newRow("DSR 6") << QByteArray("ab\r\n\x1b[6n") << QByteArray("\x1b[2;1R");
        QTest::newRow("DSR 6 after wide")
            << QByteArray("\xe4\xb8\xad\x1b[6n") << QByteArray("\x1b[1;3R");
        QTest::newRow("title report")
            << QByteArray("\x1b]2;rm -rf /\x07\x1b[21t\x1b[20t") << QByteArray();
        QTest::newRow("size reports") << QByteArray("\x1b[18t\x1b[14t\x1b[19t") << QByteArray();
        QTest::newRow("mode report") << QByteArray("\x1b[?1$p\x1b[4$p") << QByteArray();
        QTest::newRow("setting report")
            << QByteArray("\x1bP$qm\x1b\\\x1bP$q\"p\x1b\\") << QByteArray();
        QTest::newRow("8-bit controls asked")
            << QByteArray("\x1b G\x1b[c") << QByteArray("\x1b[?1;2c");
        QTest::newRow("colour query") << QByteArray("\x1b]10;?\x07\x1b]4;1;?\x07") << QByteArray();
    }
    void onlyDeviceAttributesAndStatusReportsAreAnswered() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, answers);
        QCOMPARE(Feed({bytes}).Answers, answers);
    }

    void titleIsShownNotAnswered() {
        TVtScreen screen(Columns, Rows);
        QString title;
        screen.OnTitle = [&title](const QString& text) { title = text; };
        screen.WriteText("\x1b]0;board \xc2\xb0"
                         "C\x07");
        QCOMPARE(title, QStringLiteral("board \u00b0C"));
        screen.WriteText("\x1b]2;second\x1b\\");
        QCOMPARE(screen.Title(), QStringLiteral("second"));
    }

    void keysSendXtermSequences_data() {
        QTest::addColumn<QByteArray>("modes");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        const int none = Qt::NoModifier;
        QTest::newRow("up") << QByteArray() << int(Qt::Key_Up) << none << ""
                            << QByteArray("\x1b[A");
        QTest::newRow("up app") << QByteArray("\x1b[?1h") << int(Qt::Key_Up) << none << ""
                                << QByteArray("\x1bOA");
        QTest::newRow("left ctrl") << QByteArray() << int(Qt::Key_Left) << int(Qt::ControlModifier)
                                   << "" << QByteArray("\x1b[1;5D");
        QTest::newRow("home") << QByteArray() << int(Qt::Key_Home) << none << ""
                              << QByteArray("\x1b[H");
        QTest::newRow("end app") << QByteArray("\x1b[?1h") << int(Qt::Key_End) << none << ""
                                 << QByteArray("\x1bOF");
        QTest::newRow("insert") << QByteArray() << int(Qt::Key_Insert) << none << ""
                                << QByteArray("\x1b[2~");
        QTest::newRow("delete") << QByteArray() << int(Qt::Key_Delete) << none << ""
                                << QByteArray("\x1b[3~");
        QTest::newRow("page up") << QByteArray() << int(Qt::Key_PageUp) << none << ""
                                 << QByteArray("\x1b[5~");
        QTest::newRow("page down")
            << QByteArray() << int(Qt::Key_PageDown) << none << "" << QByteArray("\x1b[6~");
        QTest::newRow("F1") << QByteArray() << int(Qt::Key_F1) << none << ""
                            << QByteArray("\x1bOP");
        QTest::newRow("F4") << QByteArray() << int(Qt::Key_F4) << none << ""
                            << QByteArray("\x1bOS");
        QTest::newRow("F5") << QByteArray() << int(Qt::Key_F5) << none << ""
                            << QByteArray("\x1b[15~");
        QTest::newRow("F12") << QByteArray() << int(Qt::Key_F12) << none << ""
                             << QByteArray("\x1b[24~");
        QTest::newRow("backspace DEL")
            << QByteArray() << int(Qt::Key_Backspace) << none << "\b" << QByteArray("\x7f");
        QTest::newRow("ctrl C") << QByteArray() << int(Qt::Key_C) << int(Qt::ControlModifier)
                                << "\x03" << QByteArray("\x03");
        QTest::newRow("shift ctrl A is a macro")
            << QByteArray() << int(Qt::Key_A) << int(Qt::ControlModifier | Qt::ShiftModifier) << ""
            << QByteArray();
        QTest::newRow("alt x") << QByteArray() << int(Qt::Key_X) << int(Qt::AltModifier) << "x"
                               << QByteArray("\x1bx");
        QTest::newRow("alt ctrl a")
            << QByteArray() << int(Qt::Key_A) << int(Qt::AltModifier | Qt::ControlModifier) << ""
            << QByteArray("\x1b\x01");
        QTest::newRow("escape") << QByteArray() << int(Qt::Key_Escape) << none << "\x1b"
                                << QByteArray("\x1b");
        QTest::newRow("tab") << QByteArray() << int(Qt::Key_Tab) << none << "\t"
                             << QByteArray("\t");
        QTest::newRow("text as UTF-8") << QByteArray() << int(Qt::Key_unknown) << none
                                       << "\u00b0\u4e2d" << QByteArray("\xc2\xb0\xe4\xb8\xad");
        QTest::newRow("enter is the caller's")
            << QByteArray() << int(Qt::Key_Return) << none << "\r" << QByteArray();
    }
    void keysSendXtermSequences() {
        QFETCH(QByteArray, modes);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        TVtScreen screen(Columns, Rows);
        screen.WriteText(modes);
        QCOMPARE(screen.KeyBytes(key, Qt::KeyboardModifiers(modifiers), text), bytes);
    }

    void backspaceSettingAndBracketedPaste() {
        TVtScreen screen(Columns, Rows);
        screen.BackspaceSendsBs = true;
        QCOMPARE(screen.KeyBytes(Qt::Key_Backspace, Qt::NoModifier, "\b"), QByteArray("\b"));
        QCOMPARE(screen.PasteBytes("a\rb"), QByteArray("a\rb"));
        screen.WriteText("\x1b[?2004h");
        QCOMPARE(screen.PasteBytes("a\rb"), QByteArray("\x1b[200~a\rb\x1b[201~"));
    }

    void historyKeepsColouredRowsButNotTheAlternateScreen() {
        TVtScreen screen(Columns, Rows);
        screen.WriteText("\x1b[31mred\x1b[0m\r\n2\r\n3\r\n4\r\n5\r\n6");
        QCOMPARE(screen.HistorySize(), 1);
        const TVtLine first = screen.Line(screen.FirstLine());
        QCOMPARE(first.Text(), QStringLiteral("red"));
        QCOMPARE(first.Cells.at(0).Fg, TVtCell::Indexed(1));
        screen.WriteText("\x1b[?1049h" + QByteArray(20, '\n') + "\x1b[?1049l");
        QCOMPARE(screen.HistorySize(), 1);
        QCOMPARE(screen.VisibleText().last(), QStringLiteral("6"));
        screen.SetScrollbackLimit(0);
        QCOMPARE(screen.HistorySize(), 0);
    }

    void bareLfReturnsWhenAsked() {
        TVtScreen screen(Columns, Rows);
        screen.SetBareLfReturns(true);
        screen.WriteText("ab\ncd\n");
        QCOMPARE(screen.VisibleText().mid(0, 2), (QStringList{"ab", "cd"}));
        QCOMPARE(screen.Cursor(), QPoint(0, 2));
    }

    void crFeedsLineWhenAsked() {
        TVtScreen screen(Columns, Rows);
        screen.SetCrFeedsLine(true);
        screen.WriteText("ab\rcd\r\n");
        QCOMPARE(screen.VisibleText().mid(0, 2), (QStringList{"ab", "cd"}));
        QCOMPARE(screen.Cursor(), QPoint(0, 3));
    }

    void selectionAndFindUseCellColumns() {
        TVtScreen screen(Columns, Rows);
        screen.WriteText("\xe4\xb8\xad\xe6\x96\x87 x\xc2\xb0y   \r\nsecond");
        const qint64 line = screen.ScreenLine();
        QCOMPARE(screen.TextBetween({line, 2}, {line + 1, 3}),
                 QStringLiteral("\u6587 x\u00b0y\nsec"));
        const auto found = screen.Find(QStringLiteral("X\u00b0"), false, {line, 0}, false);
        QVERIFY(found.has_value());
        QCOMPARE(found->Col, 5);
        QVERIFY(!screen.Find(QStringLiteral("X\u00b0"), true, {line, 0}, false).has_value());
        const auto back = screen.Find(QStringLiteral("sec"), true, {line, 3}, true);
        QVERIFY(back.has_value());
        QCOMPARE(back->Line, line + 1);
    }

    void resizeKeepsWhatIsOnTheScreen() {
        TVtScreen screen(Columns, Rows);
        screen.WriteText("0123456789abcdef\r\nline2");
        screen.Resize(8, 3);
        QCOMPARE(screen.VisibleText().first(), QStringLiteral("01234567"));
        screen.Resize(30, 6);
        QVERIFY(screen.VisibleText().contains(QStringLiteral("line2")));
        QCOMPARE(screen.Columns(), 30);
    }

    void hugeSequencesAreCutNotStored() {
        TVtScreen screen(Columns, Rows);
        QByteArray csi = "\x1b[";
        for (int i = 0; i < 10000; ++i)
            csi += "1;";
        screen.WriteText(csi + "mA");
        screen.WriteText("\x1b]2;" + QByteArray(10 << 20, 't') + "\x07" + "B");
        QCOMPARE(screen.VisibleText().first(), QStringLiteral("AB"));
        QVERIFY(screen.Title().size() <= 256);
    }
};

QTEST_GUILESS_MAIN(TestVtScreen)
#include "test_vt_screen.moc"
