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
        const int columns = pane.Vt() ? pane.Vt()->Columns() : 0;
        pane.SetShowTimestamps(true);
        // The VT screen follows the pane's width less the margin.
        if (pane.Vt())
            QCOMPARE(pane.Vt()->Columns(), columns - (TLineTimes::FormatWidth + 1));
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

    // A short history turns over many times: the kept lines keep their own
    // times, and the lines gone from it have none.
    void timesFollowAHistoryThatTurnsOver_data() {
        QTest::addColumn<int>("emulation");
        QTest::newRow("ASCII") << int(Ascii);
        QTest::newRow("VT") << int(Vt);
    }
    void timesFollowAHistoryThatTurnsOver() {
        QFETCH(int, emulation);
        TQxConsole pane;
        pane.resize(700, 3 * pane.LineHeight());
        pane.show();
        pane.SetVtEmulation(emulation == Vt);
        pane.SetScrollbackLimit(600);
        qint64 now = 0;
        TimesOf(pane).Clock = [&now] { return now; };
        for (int i = 0; i < 1000; ++i) {
            now = Base + i;
            pane.WriteText("L" + QByteArray::number(i) + "\r\n");
        }
        // 600 rows of history and about three on the screen.
        for (int line = 0; line < 390; ++line)
            QCOMPARE(pane.LineTime(line), qint64(0));
        for (int line = 410; line < 1000; ++line)
            QCOMPARE(pane.LineTime(line), Base + line);
    }

    // In the VT emulation, piece I arrives at Stamps[I]; the first rows then
    // show the times of Expected (-1: none).
    void vtRowsFollowTheirText_data() {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("the alternate screen leaves the main screen's times")
            << QByteArrayList{"shell\r\n$ ", "\x1b[?1049h\x1b[2Jeditor\r\n\r\n~", "\x1b[?1049l"}
            << QList<int>{0, 0, -1};
        QTest::newRow("a scroll region's rows take their times along")
            << QByteArrayList{"top\x1b[2;3r\x1b[2;1H", "a\r\n", "b\r\n", "c"}
            << QList<int>{0, 2, 3};
        QTest::newRow("an erased row gets a new time")
            << QByteArrayList{"one\r\ntwo", "\x1b[2K", "\rTWO"} << QList<int>{0, 2, -1};
    }
    void vtRowsFollowTheirText() {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QList<int>, expected);
        TQxConsole pane;
        pane.resize(700, 4 * pane.LineHeight());
        pane.show();
        pane.SetVtEmulation(true);
        qint64 now = Base;
        pane.Vt()->Times().Clock = [&now] { return now; };
        for (const QByteArray& piece : pieces) {
            pane.WriteText(piece);
            now += 1111;
        }
        for (int row = 0; row < expected.size(); ++row)
            QCOMPARE(pane.LineTime(row), expected.at(row) < 0 ? 0 : Base + expected.at(row) * 1111);
    }
};

QTEST_MAIN(TestLineTimes)
#include "test_line_times.moc"
