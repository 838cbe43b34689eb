// The VT intake under random input: random bytes and streams shaped like
// the escape grammar (many parameters, long strings, nested ESC, odd
// modes), cut at random points, with random resizes in between. Nothing may
// crash or hang, the screen keeps its shape, only device reports go back,
// and overlong sequences are cut rather than stored.
//
// A few seconds in the suite; longer by hand:
//   QX_FUZZ_SECONDS=300 QX_FUZZ_SEED=7 build/tests/terminal/test_vt_fuzz
#include "terminal/TVtScreen.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <random>

namespace {

// The process's resident memory at its peak so far, in KiB.
long PeakRssKib() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int EnvironmentNumber(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

class StreamMaker {
public:
    explicit StreamMaker(quint64 seed) : FRandom(seed) {}

    int Below(int limit) { return static_cast<int>(FRandom() % static_cast<quint64>(limit)); }

    QByteArray RandomBytes(int count) {
        QByteArray bytes(count, Qt::Uninitialized);
        for (char& byte : bytes)
            byte = static_cast<char>(FRandom());
        return bytes;
    }

    // One piece of a stream shaped like the grammar, sometimes broken.
    QByteArray Piece() {
        static const char* const pieces[] = {"\xc2\xb0",
                                             "\xe4\xbd\xa0",
                                             "\xf0\x9f\x98\x80",
                                             "e\xcc\x81",
                                             "\xed\xa0\x80",
                                             "\xc0\xaf",
                                             "\xe4\xbd",
                                             "\x1b(0lqk\x1b(B",
                                             "\x1b"
                                             "7",
                                             "\x1b"
                                             "8",
                                             "\x1bM",
                                             "\x1b"
                                             "D",
                                             "\x1b"
                                             "E",
                                             "\x1b"
                                             "c",
                                             "\x1b#8",
                                             "\r\n",
                                             "\t",
                                             "\x08",
                                             "\x07",
                                             "\x0e",
                                             "\x18",
                                             "\x1a"};
        switch (Below(9)) {
        case 0:
            return RandomBytes(1 + Below(8));
        case 1:
            return pieces[Below(std::size(pieces))];
        case 2:
            return Csi();
        case 3:
            return StringSequence("\x1b]" + QByteArray::number(Below(120)) + ";");
        case 4:
            return StringSequence("\x1bP" + QByteArray::number(Below(4)) + "$q");
        case 5:
            return "\x1b[" + QByteArray(Below(2) ? "?" : "") +
                   QByteArray::number(ModeNumbers[Below(std::size(ModeNumbers))]) +
                   (Below(2) ? "h" : "l");
        case 6:
            return "\x1b[" + QByteArray::number(Below(40)) + ";" + QByteArray::number(Below(40)) +
                   (Below(2) ? "r" : "H");
        case 7:
            return "\x1b" + RandomBytes(1) + (Below(2) ? "\x1b[" : "");
        default:
            return QByteArray("The quick brown fox ").left(1 + Below(20));
        }
    }

private:
    static constexpr int ModeNumbers[] = {1,  3,    4,    5,    6,    7,    12,   20,   25,
                                          47, 1000, 1004, 1006, 1047, 1048, 1049, 2004, 9999};

    QByteArray Number() {
        switch (Below(6)) {
        case 0:
            return QByteArray::number(FRandom() % 100000000000ULL);
        case 1:
            return QByteArray();
        default:
            return QByteArray::number(Below(300));
        }
    }

    QByteArray Csi() {
        static const char privates[] = "?>=<";
        QByteArray csi = "\x1b[";
        if (Below(4) == 0)
            csi += privates[Below(4)];
        const int count = Below(10) == 0 ? Below(2000) : Below(6);
        for (int i = 0; i < count; ++i) {
            csi += Number();
            if (i + 1 < count)
                csi += Below(8) == 0 ? ':' : ';';
        }
        if (Below(8) == 0)
            csi += static_cast<char>(0x20 + Below(16)); // an intermediate
        if (Below(16) == 0)
            csi += "\x1b["; // a new sequence before this one ended
        csi += static_cast<char>(0x40 + Below(63));
        return csi;
    }

    QByteArray StringSequence(QByteArray start) {
        const int length = Below(10) == 0 ? Below(100000) : Below(64);
        start += RandomBytes(length).replace('\x1b', 'x').replace('\x07', 'y');
        static const char* const ends[] = {"\x07", "\x1b\\", "\x18", "", "\x1b[31m"};
        return start + ends[Below(std::size(ends))];
    }

    std::mt19937_64 FRandom;
};

// Feeds Bytes in pieces of random length.
void FeedInPieces(TVtScreen& screen, const QByteArray& bytes, StreamMaker& maker) {
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype length = 1 + maker.Below(maker.Below(4) == 0 ? 4096 : 16);
        screen.WriteText(bytes.mid(at, length));
        at += length;
    }
}

} // namespace

class TestVtFuzz : public QObject {
    Q_OBJECT

private slots:
    // Runs first, while the peak memory is still low.
    void overlongSequencesAreCutNotStored_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<int>("repeats");
        QTest::newRow("CSI with 10000 parameters")
            << QByteArray("\x1b[") << QByteArray("1;") << QByteArray("m") << 10000;
        QTest::newRow("CSI with 10 MB of digits")
            << QByteArray("\x1b[") << QByteArray(65536, '7') << QByteArray("H") << 160;
        QTest::newRow("10 MB title")
            << QByteArray("\x1b]0;") << QByteArray(65536, 'T') << QByteArray("\x07") << 160;
        QTest::newRow("10 MB DCS")
            << QByteArray("\x1bP1$q") << QByteArray(65536, 'D') << QByteArray("\x1b\\") << 160;
        QTest::newRow("10 MB OSC never ended")
            << QByteArray("\x1b]2;") << QByteArray(65536, 'O') << QByteArray("\x18") << 160;
    }
    void overlongSequencesAreCutNotStored() {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, end);
        QFETCH(int, repeats);
        TVtScreen screen(80, 24);
        screen.WriteText("before\r\n");
        const long peakBefore = PeakRssKib();
        screen.WriteText(start);
        for (int i = 0; i < repeats; ++i)
            screen.WriteText(body);
        screen.WriteText(end);
        const long growthKib = PeakRssKib() - peakBefore;
        screen.WriteText("after");
        qInfo("%s: peak memory grew by %ld KiB", QTest::currentDataTag(), growthKib);
        QVERIFY2(growthKib < 4096, qPrintable(QString("%1 KiB").arg(growthKib)));
        QVERIFY(screen.Title().size() < 65536);
        // The parser is back in the ground state: text shows again.
        QVERIFY2(screen.VisibleText().join('|').contains("after"),
                 qPrintable(screen.VisibleText().join('|')));
    }

    void randomStreamsKeepTheScreenWhole_data() {
        QTest::addColumn<bool>("shaped");
        QTest::newRow("random bytes") << false;
        QTest::newRow("grammar-shaped streams") << true;
    }
    void randomStreamsKeepTheScreenWhole() {
        QFETCH(bool, shaped);
        const int seconds = EnvironmentNumber("QX_FUZZ_SECONDS", 3);
        const quint64 seed = EnvironmentNumber("QX_FUZZ_SEED", 1) + (shaped ? 1000 : 0);
        StreamMaker maker(seed);
        TVtScreen screen(80, 24);
        QByteArray answers;
        screen.OnAnswer = [&answers](const QByteArray& answer) { answers += answer; };
        // DA1, DA2, DSR 5 and the cursor position report: nothing else.
        static const QRegularExpression report("^(\x1b\\[[?>]?[0-9;]*[cnR])*$");

        QElapsedTimer clock;
        clock.start();
        qint64 fed = 0;
        for (int stream = 0; clock.elapsed() < seconds * 1000; ++stream) {
            if (maker.Below(8) == 0)
                screen.Resize(1 + maker.Below(300), 1 + maker.Below(120));
            QByteArray bytes;
            while (bytes.size() < 65536)
                bytes += shaped ? maker.Piece() : maker.RandomBytes(4096);
            FeedInPieces(screen, bytes, maker);
            fed += bytes.size();

            const QStringList rows = screen.VisibleText();
            const QPoint cursor = screen.Cursor();
            const QString where = QString("seed %1, stream %2: cursor %3,%4 on %5x%6")
                                      .arg(seed)
                                      .arg(stream)
                                      .arg(cursor.x())
                                      .arg(cursor.y())
                                      .arg(screen.Columns())
                                      .arg(screen.Rows());
            QVERIFY2(rows.size() == screen.Rows(), qPrintable(where));
            QVERIFY2(cursor.x() >= 0 && cursor.x() < screen.Columns() && cursor.y() >= 0 &&
                         cursor.y() < screen.Rows(),
                     qPrintable(where));
            QVERIFY2(report.match(QString::fromLatin1(answers)).hasMatch(),
                     qPrintable(where + ": answered " + answers.toPercentEncoding()));
            answers.clear();
        }
        qInfo("%s: %lld MB in %d s, seed %llu", QTest::currentDataTag(), fed >> 20, seconds, seed);
    }
};

QTEST_GUILESS_MAIN(TestVtFuzz)
#include "test_vt_fuzz.moc"
