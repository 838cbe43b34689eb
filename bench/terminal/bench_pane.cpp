// Throughput of a shown terminal pane of 40 rows: text lines of 70
// characters plus CR LF in ASCII emulation and random bytes in HEX
// emulation, fed in blocks of 256 bytes, 4 KB and 64 KB, with the event loop
// run after every block so the pane paints whenever the platform lets it.
// The pane keeps its default history of 10000 rows, full after the warm-up.
// Prints "name: value MB/s" (1 MB = 1,000,000 bytes).
#include "terminal/TQxConsole.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 RunMs = 1500;

class CountingConsole : public TQxConsole {
public:
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++Paints;
        TQxConsole::paintEvent(event);
    }
};

QByteArray TextLines(qsizetype size) {
    QByteArray text;
    text.reserve(size + 80);
    for (int line = 0; text.size() < size; ++line) {
        QByteArray body = "line " + QByteArray::number(line) + ": ";
        while (body.size() < 70)
            body += "The quick brown fox jumps over the lazy dog. ";
        text += body.left(70) + "\r\n";
    }
    return text;
}

QByteArray RandomBytes(qsizetype size) {
    QList<quint32> words(size / 4);
    QRandomGenerator(42).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), words.size() * 4);
}

// Feeds Data block by block (wrapping around) for RunMs; MB/s.
double Feed(CountingConsole& pane, const QByteArray& data, int blockSize) {
    const int blocks = static_cast<int>(data.size() / blockSize);
    qint64 fed = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int block = 0; elapsed.elapsed() < RunMs; block = (block + 1) % blocks) {
        pane.WriteText(
            QByteArray::fromRawData(data.constData() + qsizetype(block) * blockSize, blockSize));
        QCoreApplication::processEvents();
        fed += blockSize;
    }
    return fed / 1e6 / (elapsed.nsecsElapsed() / 1e9);
}

// The time one synchronous repaint of all the pane's rows takes (painting
// into the backing store and putting it on the screen; the scroll bar
// beside them is left out); median of 60, in ms.
double FullRepaintMs(CountingConsole& pane) {
    QRect rows = pane.rect();
    if (const auto* bar = pane.findChild<QScrollBar*>(); bar && bar->isVisible())
        rows.setRight(bar->x() - 1);
    QList<double> times;
    for (int i = 0; i < 60; ++i) {
        QElapsedTimer elapsed;
        elapsed.start();
        pane.repaint(rows);
        times.append(elapsed.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Searching a full history of 10000 rows and the screen for text that is
// not there, without regard to case (the slower way); median of 15, in ms.
double FindAbsentMs(CountingConsole& pane) {
    pane.SetScrollbackLimit(TConsoleScreen::DefaultScrollback);
    QByteArray rows;
    for (int i = 0; i < TConsoleScreen::DefaultScrollback + 100; ++i)
        rows += "history row " + QByteArray::number(i) + ": some text of a boot log\r\n";
    pane.WriteText(rows);
    QList<double> times;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer elapsed;
        elapsed.start();
        const bool found = pane.Find(QStringLiteral("not in the log"), false, false);
        times.append(elapsed.nsecsElapsed() / 1e6);
        if (found || pane.Screen().History().size() != TConsoleScreen::DefaultScrollback)
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Report(const char* name, double mbPerSecond) {
    std::printf("%s: %.1f MB/s\n", name, mbPerSecond);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    CountingConsole pane;
    pane.resize(700, 40 * pane.LineHeight());
    pane.show();
    pane.setFocus();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents();

    const QByteArray text = TextLines(8 << 20);
    const QByteArray random = RandomBytes(8 << 20);
    Feed(pane, text, 4096); // warm-up
    Report("pane_ascii_256_mb_s", Feed(pane, text, 256));
    pane.Paints = 0;
    Report("pane_ascii_4k_mb_s", Feed(pane, text, 4096));
    std::printf("pane_ascii_4k_paints_per_s: %.0f /s\n", pane.Paints * 1000.0 / RunMs);
    Report("pane_ascii_64k_mb_s", Feed(pane, text, 65536));
    std::printf("pane_paint_full_text_ms: %.3f ms\n", FullRepaintMs(pane));
    Report("pane_binary_ascii_4k_mb_s", Feed(pane, random, 4096));
    std::printf("pane_paint_full_binary_ms: %.3f ms\n", FullRepaintMs(pane));
    std::printf("find_10k_ms: %.2f ms\n", FindAbsentMs(pane));
    pane.SetHexEmulation(true);
    Report("pane_hex_256_mb_s", Feed(pane, random, 256));
    Report("pane_hex_4k_mb_s", Feed(pane, random, 4096));
    Report("pane_hex_64k_mb_s", Feed(pane, random, 65536));
    std::printf("pane_paint_full_hex_ms: %.3f ms\n", FullRepaintMs(pane));
    return 0;
}
