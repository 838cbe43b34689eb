// Throughput of the VT emulation, the screen model alone and in a shown
// pane of 40 rows: a plain text flood (70 characters plus CR LF), a colour
// log (SGR at the start and end of every line of about 80 bytes) and random
// bytes, fed in blocks of 4 KB with the event loop run after every block.
// Then the resident memory with a full history of 10,000 coloured rows of
// 200 columns: what the history adds, and the program's whole. Prints "name: value unit" (1 MB =
// 1,000,000 bytes).
#include "terminal/TQxConsole.h"
#include "terminal/TVtScreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>

namespace {

constexpr qint64 RunMs = 1500;
constexpr int Block = 4096;

QByteArray TextLines(qsizetype size) {
    QByteArray text;
    for (int line = 0; text.size() < size; ++line) {
        QByteArray body = "line " + QByteArray::number(line) + ": ";
        while (body.size() < 70)
            body += "The quick brown fox jumps over the lazy dog. ";
        text += body.left(70) + "\r\n";
    }
    return text;
}

QByteArray ColourLog(qsizetype size) {
    static const char* const colours[] = {"0;32", "0;33", "0;31", "1;36"};
    QByteArray text;
    for (int line = 0; text.size() < size; ++line) {
        QByteArray body = "I (" + QByteArray::number(line * 7) + ") wifi: station connected ";
        while (body.size() < 64)
            body += "rssi -42 ";
        text += "\x1b[" + QByteArray(colours[line % 4]) + "m" + body.left(64) + "\x1b[0m\r\n";
    }
    return text;
}

QByteArray RandomBytes(qsizetype size) {
    QList<quint32> words(size / 4);
    QRandomGenerator(42).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), words.size() * 4);
}

// Feeds Data block by block (wrapping around) for RunMs; MB/s.
template <typename Sink> double Feed(Sink& sink, const QByteArray& data, bool events) {
    const int blocks = static_cast<int>(data.size() / Block);
    qint64 fed = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int block = 0; elapsed.elapsed() < RunMs; block = (block + 1) % blocks) {
        sink.WriteText(QByteArray::fromRawData(data.constData() + qsizetype(block) * Block, Block));
        if (events)
            QCoreApplication::processEvents();
        fed += Block;
    }
    return fed / 1e6 / (elapsed.nsecsElapsed() / 1e9);
}

double ResidentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return -1;
}

// A screen of 200 columns whose history fills with 10,000 rows, each of 20
// coloured stretches.
double ScrollbackRssMb() {
    const double before = ResidentMb();
    TVtScreen screen(200, 50);
    QByteArray row;
    for (int part = 0; part < 20; ++part)
        row += "\x1b[38;5;" + QByteArray::number(part * 11) + "mcoloured " + "\x1b[0m";
    row += "\r\n";
    for (int i = 0; i < 10050; ++i)
        screen.WriteText(row);
    return screen.HistorySize() == 10000 ? ResidentMb() - before : -1;
}

void Report(const char* name, double mbPerSecond) {
    std::printf("%s: %.1f MB/s\n", name, mbPerSecond);
    std::fflush(stdout);
}

// The floods, then the memory: the pane and the test data are gone by then.
void Floods() {
    const QByteArray text = TextLines(8 << 20);
    const QByteArray colour = ColourLog(8 << 20);
    const QByteArray random = RandomBytes(8 << 20);
    {
        TVtScreen model(80, 40);
        Feed(model, text, false); // warm-up
        Report("vt_model_text_mb_s", Feed(model, text, false));
        Report("vt_model_colour_log_mb_s", Feed(model, colour, false));
        Report("vt_model_random_mb_s", Feed(model, random, false));
    }
    TQxConsole pane;
    pane.resize(700, 40 * pane.LineHeight());
    pane.show();
    pane.SetVtEmulation(true);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents();
    Feed(pane, text, true); // warm-up
    Report("vt_pane_text_4k_mb_s", Feed(pane, text, true));
    Report("vt_pane_colour_log_4k_mb_s", Feed(pane, colour, true));
    Report("vt_pane_random_4k_mb_s", Feed(pane, random, true));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Floods();
    const double growth = ScrollbackRssMb();
    std::printf("vt_rss_growth_10k_rows_200_columns_mb: %.1f MB\n", growth);
    std::printf("vt_rss_total_with_10k_rows_200_columns_mb: %.1f MB\n", ResidentMb());
    return 0;
}
