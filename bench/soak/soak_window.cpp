// A long run of the real main window (offscreen) on a line that streams
// text as a 115200-baud device does, with a recording on: every DropEvery
// the device goes away (its pseudo-terminal hangs up) and comes back under
// the same name, every PasteEvery a paste goes out. At the end the
// process's resident memory, descriptors and threads are compared with a
// reading taken once the scrollback was full, and the recording is checked:
// its markers balance, and its stream lines come in order, none twice.
//
// soak_window [--minutes N] (default 30; QX_SOAK_MINUTES too). Prints
// "name: value unit" lines; exits 1 when a check fails.
#include "app/TQxConsoleWindow.h"
#include "serial/TQxComPort.h"
#include "terminal/TConsoleScreen.h"
#include "terminal/TQxConsole.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include <malloc.h>
#include <poll.h>
#include <unistd.h>

static void InitIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace {

using namespace std::chrono_literals;

constexpr int BytesPerSecond = 11520; // 115200 baud, 8N1
constexpr auto ChunkTime = 10ms;
constexpr auto DropEvery = 30s;
constexpr auto PasteEvery = 60s;
constexpr int PasteBytes = 16 * 1024;
constexpr auto SampleEvery = 30s;
// Long enough for the scrollback (10000 lines) to fill at about 160 lines
// a second.
constexpr auto WarmUp = 75s;
// The port's receive queue is one block that malloc maps at once but the
// kernel backs page by page as the stream first passes through it: resident
// memory grows at the line's rate until the stream went round the queue
// once (about 6 minutes), then stays. Resident memory is compared from
// then on; the heap in use (which counts the queue whole from the start)
// from the warm-up on.
constexpr auto RssWarmUp =
    std::chrono::seconds(ReceiveQueueSize / BytesPerSecond) + std::chrono::seconds(30);
const QByteArray Body = "the quick brown fox jumps over the lazy dog 0123456789 ABCDEFG";

QByteArray StreamLine(qint64 number) {
    return "L" + QByteArray::number(number).rightJustified(8, '0') + ' ' + Body + "\r\n";
}

struct TReading {
    qint64 RssKb = 0;
    // Bytes malloc has handed out and not had back (small blocks and
    // mmap'ed large ones): what the program holds, whatever the allocator
    // keeps cached around it.
    qint64 HeapInUseKb = 0;
    int Descriptors = 0;
    int Threads = 0;
};

qint64 StatusValue(const QByteArray& status, const QByteArray& key) {
    const qsizetype at = status.indexOf("\n" + key + ":");
    if (at < 0)
        return -1;
    const QByteArray rest = status.mid(at + key.size() + 2);
    return rest.left(rest.indexOf('\n')).simplified().split(' ').value(0).toLongLong();
}

TReading ReadSelf() {
    QFile file(QStringLiteral("/proc/self/status"));
    QByteArray status = "\n";
    if (file.open(QIODevice::ReadOnly))
        status += file.readAll();
    TReading reading;
    reading.RssKb = StatusValue(status, "VmRSS");
    const struct mallinfo2 heap = ::mallinfo2();
    reading.HeapInUseKb = qint64((heap.uordblks + heap.hblkhd) / 1024);
    reading.Threads = int(StatusValue(status, "Threads"));
    reading.Descriptors = int(QDir(QStringLiteral("/proc/self/fd"))
                                  .entryList(QDir::NoDotAndDotDot | QDir::System)
                                  .size());
    return reading;
}

void Report(const char* name, double value, const char* unit, int decimals = 0) {
    std::printf("%s: %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

// The target: streams numbered lines at the line's rate into the current
// pseudo-terminal and reads (and drops) what the program sends.
class TStreamingTarget {
public:
    explicit TStreamingTarget(int master) : FMaster(master) {
        FThread = std::thread([this] { Run(); });
    }
    ~TStreamingTarget() {
        FStop = true;
        FThread.join();
    }
    // Held while the target reads and writes: a caller that holds it may
    // swap (and close) the terminal.
    std::mutex& Lock() { return FLock; }
    void SetMaster(int master) { FMaster = master; }
    qint64 LinesSent() const { return FLine.load(); }
    qint64 BytesReceived() const { return FReceived.load(); }

private:
    void Run() {
        QByteArray pending;
        auto next = std::chrono::steady_clock::now();
        while (!FStop) {
            std::this_thread::sleep_until(next);
            next += ChunkTime;
            const std::lock_guard guard(FLock);
            const int master = FMaster.load();
            char buffer[65536];
            for (ssize_t n = 1; n > 0;) {
                pollfd wait{master, POLLIN, 0};
                n = ::poll(&wait, 1, 0) > 0 && (wait.revents & POLLIN)
                        ? ::read(master, buffer, sizeof buffer)
                        : 0;
                if (n > 0)
                    FReceived += n;
            }
            while (pending.size() < BytesPerSecond / 100)
                pending += StreamLine(FLine++);
            const qsizetype chunk = BytesPerSecond / 100;
            const ssize_t n = ::write(master, pending.constData(), size_t(chunk));
            // A hung-up line takes nothing: those bytes are lost with it.
            pending.remove(0, n > 0 ? n : chunk);
        }
    }

    std::mutex FLock;
    std::atomic<int> FMaster;
    std::atomic<bool> FStop{false};
    std::atomic<qint64> FLine{0};
    std::atomic<qint64> FReceived{0};
    std::thread FThread;
};

struct TRecordCheck {
    int Starts = 0;
    int Ends = 0;
    int Lost = 0;
    int Restored = 0;
    qint64 StreamLines = 0;
    qint64 OutOfOrder = 0;
};

TRecordCheck CheckRecording(const QString& path) {
    TRecordCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    const QRegularExpression whole(QStringLiteral("L(\\d{8}) ") +
                                   QRegularExpression::escape(QString::fromLatin1(Body)) +
                                   QStringLiteral("\\s*$"));
    qint64 last = -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        check.Starts += line.contains("--- Start of recording: ");
        check.Ends += line.contains("--- End of recording: ");
        check.Lost += line.contains("--- Connection lost: ");
        check.Restored += line.contains("--- Connection restored: ");
        const QRegularExpressionMatch match = whole.match(QString::fromLatin1(line));
        if (!match.hasMatch())
            continue;
        const qint64 number = match.captured(1).toLongLong();
        ++check.StreamLines;
        if (number <= last)
            ++check.OutOfOrder;
        last = number;
    }
    return check;
}

} // namespace

int main(int argc, char* argv[]) {
    double minutes = qEnvironmentVariableIsSet("QX_SOAK_MINUTES")
                         ? qEnvironmentVariable("QX_SOAK_MINUTES").toDouble()
                         : 30;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--minutes")
            minutes = QByteArray(argv[i + 1]).toDouble();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InitIcons();
    FakeInteraction fake;
    TempAppDir dir;
    auto pty = std::make_unique<PtyPair>();
    const QString link = dir.Path() + QStringLiteral("ttySoak");
    QFile::link(pty->SlavePath(), link);
    dir.MapDevice(1, link);
    auto window = std::make_unique<TQxConsoleWindow>();
    window->show();
    TQxConsole& pane = *window->Console();
    const QString recording = dir.Path() + QStringLiteral("soak.log");
    pane.SetLogFile(recording);

    TStreamingTarget target(pty->MasterFd());
    const auto total = std::chrono::duration<double, std::ratio<60>>(minutes);
    QElapsedTimer clock;
    clock.start();
    int drops = 0;
    int pastes = 0;
    TReading start;
    bool started = false;

    // The last drop comes well before the end, so that its reconnection is
    // recorded.
    const auto lastDropMs = std::chrono::duration_cast<std::chrono::milliseconds>(total).count() -
                            std::chrono::milliseconds(DropEvery / 3).count();
    QTimer drop;
    drop.callOnTimeout([&] {
        if (clock.elapsed() > lastDropMs)
            return;
        // A new terminal under the same name, then the old one hangs up.
        auto fresh = std::make_unique<PtyPair>();
        const QString staged = link + QStringLiteral(".new");
        QFile::link(fresh->SlavePath(), staged);
        ::rename(QFile::encodeName(staged).constData(), QFile::encodeName(link).constData());
        const std::lock_guard guard(target.Lock());
        target.SetMaster(fresh->MasterFd());
        pty = std::move(fresh);
        ++drops;
    });
    drop.start(DropEvery);
    QTimer paste;
    paste.callOnTimeout([&] {
        fake.QuestionAnswers = {true};
        pane.PasteText(QString(PasteBytes, QLatin1Char('p')));
        ++pastes;
    });
    // Halfway between two drops: a paste meets a connected line.
    QTimer::singleShot(DropEvery / 2, &paste, [&paste] { paste.start(PasteEvery); });
    // A reading every SampleEvery to stderr, so that a run shows whether
    // memory levels off or keeps climbing.
    QTimer sample;
    sample.callOnTimeout([&] {
        const TReading now = ReadSelf();
        std::fprintf(stderr, "soak_sample: %.1f min rss %lld kB heap %lld kB\n",
                     clock.elapsed() / 60000.0, now.RssKb, now.HeapInUseKb);
    });
    sample.start(SampleEvery);
    TReading rssStart;
    bool rssStarted = false;
    QTimer::singleShot(RssWarmUp, [&] {
        rssStart = ReadSelf();
        rssStarted = true;
    });
    QTimer::singleShot(WarmUp, [&] {
        start = ReadSelf();
        started = true;
    });
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(total), &application,
                       &QCoreApplication::quit);
    QApplication::exec();
    drop.stop();
    paste.stop();
    const TReading end = ReadSelf();
    pane.SetRecording(false);
    const TRecordCheck check = CheckRecording(recording);

    Report("soak_minutes", clock.elapsed() / 60000.0, "min", 1);
    Report("soak_drops", drops, "count");
    Report("soak_pastes", pastes, "count");
    Report("soak_lines_sent", double(target.LinesSent()), "lines");
    Report("soak_bytes_pasted_received", double(target.BytesReceived()), "bytes");
    Report("soak_rss_warm_up", double(start.RssKb), "kB");
    Report("soak_rss_start", double(rssStart.RssKb), "kB");
    Report("soak_rss_end", double(end.RssKb), "kB");
    Report("soak_heap_start", double(start.HeapInUseKb), "kB");
    Report("soak_heap_end", double(end.HeapInUseKb), "kB");
    Report("soak_descriptors_start", start.Descriptors, "count");
    Report("soak_descriptors_end", end.Descriptors, "count");
    Report("soak_threads_start", start.Threads, "count");
    Report("soak_threads_end", end.Threads, "count");
    Report("soak_recorded_stream_lines", double(check.StreamLines), "lines");
    Report("soak_recorded_out_of_order", double(check.OutOfOrder), "lines");
    Report("soak_connection_lost_markers", check.Lost, "count");
    Report("soak_connection_restored_markers", check.Restored, "count");

    QStringList failures;
    if (!started)
        failures << QStringLiteral("the run ended before the warm-up");
    // Within a tenth of the start (the heap settles), and no new descriptor
    // or thread. A run too short for the receive queue to fill compares the
    // heap only.
    if (started && end.HeapInUseKb > start.HeapInUseKb + start.HeapInUseKb / 10)
        failures << QStringLiteral("the heap in use grew");
    if (rssStarted && end.RssKb > rssStart.RssKb + rssStart.RssKb / 10)
        failures << QStringLiteral("resident memory grew");
    if (!rssStarted)
        std::fprintf(stderr, "soak_window: too short to compare resident memory (%lld s needed)\n",
                     qint64(RssWarmUp.count()));
    if (started && end.Descriptors > start.Descriptors)
        failures << QStringLiteral("descriptors grew");
    if (started && end.Threads > start.Threads)
        failures << QStringLiteral("threads grew");
    if (check.Starts != 1 || check.Ends != 1)
        failures << QStringLiteral("start and end markers do not balance");
    if (check.Lost != drops || check.Restored != drops)
        failures << QStringLiteral("connection markers do not match the drops");
    if (check.OutOfOrder != 0 || check.StreamLines == 0)
        failures << QStringLiteral("stream lines missing, out of order or twice");
    window.reset();
    DestroySerialPort();
    for (const QString& failure : failures)
        std::fprintf(stderr, "soak_window: %s\n", qPrintable(failure));
    return failures.isEmpty() ? 0 : 1;
}
