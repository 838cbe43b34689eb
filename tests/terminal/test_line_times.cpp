// The time of each line's first byte in every emulation: kept in the
// history, shown in the margin, copied and saved with the lines on demand.
#include "terminal/TQxConsole.h"
#include "tests/support/FakeInteraction.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum Emulation { Ascii, Hex, Vt };

// 10:20:30.405 local time, then a line every 1.111 s.
const qint64 Base = QDateTime(QDate(2026, 12, 9), QTime(10, 20, 30, 405)).toMSecsSinceEpoch();
const QStringList Stamps = {"10:20:30.405", "10:20:31.516", "10:20:32.627",
                            "10:20:33.738", "10:20:34.849", "10:20:35.960"};

TLineTimes& TimesOf(TQxConsole& pane) {
    return pane.Vt() ? pane.Vt()->Times() : pane.Screen().Times();
}

// Line I in two pieces, the second half a second after the first.
QList<QByteArray> LinePieces(Emulation emulation, int i) {
    if (emulation == Hex)
        return {QByteArray(8, char('A' + i)), QByteArray(8, char('a' + i))};
    return {"L" + QByteArray::number(i), " more\r\n"};
}

} // namespace

class TestLineTimes : public QObject {
    Q_OBJECT

private slots:
    void linesKeepTheTimeOfTheirFirstByte_data() {
        QTest::addColumn<int>("emulation");
        QTest::newRow("ASCII") << int(Ascii);
        QTest::newRow("HEX") << int(Hex);
        QTest::newRow("VT") << int(Vt);
    }
    void linesKeepTheTimeOfTheirFirstByte() {
        QFETCH(int, emulation);
        FakeInteraction fake;
        QTemporaryDir dir;
        TQxConsole pane;
        pane.resize(700, 3 * pane.LineHeight());
        pane.show();
        pane.SetVtEmulation(emulation == Vt);
        pane.SetHexEmulation(emulation == Hex);
        pane.SetShowTimestamps(true);
        qint64 now = 0;
        TimesOf(pane).Clock = [&now] { return now; };
        for (int i = 0; i < Stamps.size(); ++i) {
            const QList<QByteArray> pieces = LinePieces(Emulation(emulation), i);
            now = Base + i * 1111;
            pane.WriteText(pieces.at(0));
            now += 500;
            pane.WriteText(pieces.at(1));
        }
        // Three rows on the screen: most lines are in the history by now.
        QCOMPARE(pane.LineTime(-1), qint64(0));
        for (int i = 0; i < Stamps.size(); ++i)
            QCOMPARE(TLineTimes::Format(pane.LineTime(i)), Stamps.at(i));

        pane.Select(TTextPos{1, 0}, TTextPos{2, 2});
        const QStringList plain = pane.SelectedText().split('\n');
        QCOMPARE(plain.size(), 2);
        QVERIFY(!plain.at(0).contains(':'));
        QCOMPARE(pane.SelectedText(true),
                 Stamps.at(1) + ' ' + plain.at(0) + '\n' + Stamps.at(2) + ' ' + plain.at(1));

        const QString path = dir.filePath("saved.txt");
        fake.FileAnswers << path;
        pane.SaveScrollback(true);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> saved = file.readAll().split('\n');
        for (int i = 0; i < Stamps.size(); ++i)
            QVERIFY2(saved.at(i).startsWith(Stamps.at(i).toLatin1() + ' '), saved.at(i));

        // A cleared screen starts its rows afresh.
        now = Base + 9999;
        pane.ClearScreen();
        pane.WriteText("X");
        QCOMPARE(TLineTimes::Format(TimesOf(pane).At(pane.ViewTopLine())),
                 QStringLiteral("10:20:40.404"));
    }

    // A full-screen program on the alternate screen shows no times, and the
    // main screen's rows have theirs again when it ends.
    void theAlternateScreenKeepsTheMainScreensTimes() {
        TQxConsole pane;
        pane.resize(700, 4 * pane.LineHeight());
        pane.show();
        pane.SetVtEmulation(true);
        qint64 now = Base;
        pane.Vt()->Times().Clock = [&now] { return now; };
        pane.WriteText("shell\r\n$ ");
        now += 1111;
        pane.WriteText("\x1b[?1049h\x1b[H\x1b[2Jeditor\r\n\r\n~");
        QCOMPARE(pane.LineTime(0), qint64(0));
        now += 1111;
        pane.WriteText("\x1b[?1049l");
        QCOMPARE(TLineTimes::Format(pane.LineTime(0)), Stamps.at(0));
        QCOMPARE(TLineTimes::Format(pane.LineTime(1)), Stamps.at(0));
        QCOMPARE(pane.LineTime(2), qint64(0));
    }

    // Rows that a scroll region below the top moves take their times along.
    void rowsOfAScrollRegionKeepTheirTimes() {
        TQxConsole pane;
        pane.resize(700, 4 * pane.LineHeight());
        pane.show();
        pane.SetVtEmulation(true);
        qint64 now = Base;
        pane.Vt()->Times().Clock = [&now] { return now; };
        pane.WriteText("top\x1b[2;3r\x1b[2;1H");
        for (const char* line : {"a\r\n", "b\r\n", "c"}) {
            now += 1111;
            pane.WriteText(line);
        }
        QCOMPARE(pane.Vt()->VisibleText().mid(0, 3), QStringList({"top", "b", "c"}));
        QCOMPARE(TLineTimes::Format(pane.LineTime(0)), Stamps.at(0));
        QCOMPARE(TLineTimes::Format(pane.LineTime(1)), Stamps.at(2));
        QCOMPARE(TLineTimes::Format(pane.LineTime(2)), Stamps.at(3));
    }

    // The VT screen follows the pane's width less the margin.
    void theMarginTakesColumnsFromTheVtScreen() {
        TQxConsole pane;
        pane.resize(700, 5 * pane.LineHeight());
        pane.show();
        pane.SetVtEmulation(true);
        const int columns = pane.Vt()->Columns();
        pane.SetShowTimestamps(true);
        QCOMPARE(pane.Vt()->Columns(), columns - (TLineTimes::FormatWidth + 1));
        pane.SetShowTimestamps(false);
        QCOMPARE(pane.Vt()->Columns(), columns);
    }
};

QTEST_MAIN(TestLineTimes)
#include "test_line_times.moc"
