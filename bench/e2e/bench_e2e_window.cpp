// The real main window on the offscreen platform with COM1 on a
// pseudo-terminal: how fast it drains a flood of text (ASCII) and of random
// bytes (HEX) into its pane without losing one, how long a typed key takes
// to reach the line, and how long the program takes from its start to its
// first painted window.
#include "app/TQxConsoleWindow.h"
#include "bench/e2e/Measure.h"
#include "bench/e2e/VirtualDisplay.h"
#include "platform/AppLocation.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "terminal/TConsoleScreen.h"
#include "terminal/TQxConsole.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2netServer.h"
#include "tests/support/TempAppDir.h"
#include "tools/FloodStream.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

// The toolbar pictures of the application library (outside any namespace,
// as the resource's registration function is).
static void InitIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace {

constexpr int Runs = 5;
constexpr qint64 TextBytes = 64 * 1024 * 1024;
constexpr qint64 HexBytes = 32 * 1024 * 1024;
constexpr int WriteBlock = 65536;
constexpr int FloodTimeoutMs = 120000;
constexpr int KeySamples = 300;
constexpr int KeyGapMs = 10;
constexpr int StartupRuns = 7;
constexpr int PacedBytesPerSecond = 11520;
constexpr int PacedChunkMs = 5;
constexpr int PacedMs = 10000;
// A 3 Mbaud line (300 KB/s) while the main thread is blocked for a second.
constexpr int BlockedLineBytesPerSecond = 300000;
constexpr int BlockedChunkMs = 1;
constexpr int BlockedMs = 1000;
constexpr int BlockedStreamMs = 2000;
constexpr int BlockedRuns = 3;
constexpr int EchoSamples = 100;
constexpr int ReconnectRuns = 5;
constexpr int ReconnectKeyGapMs = 5;
constexpr int EchoGapMs = 100;

QByteArray MakeStream(FloodKind kind, qint64 bytes) {
    QByteArray stream(bytes, Qt::Uninitialized);
    FloodStream(kind, 1).Fill(stream.data(), size_t(bytes));
    return stream;
}

// The main window as the program builds it, shown, with its port open.
struct ShownWindow {
    FakeInteraction Fake;
    TempAppDir Dir;
    PtyPair Pty;
    std::unique_ptr<TQxConsoleWindow> Window;

    // Device: what COM1 names; the pseudo-terminal by default.
    bool Show(const QString& device = {}) {
        Dir.MapDevice(1, device.isEmpty() ? Pty.SlavePath() : device);
        Window = std::make_unique<TQxConsoleWindow>();
        Window->show();
        Window->activateWindow();
        if (!WaitFor([this] { return Window->isVisible() && SerialPort().Open(); }, 10000))
            return false;
        Window->Console()->setFocus();
        return WaitFor([this] { return Window->Console()->hasFocus(); }, 10000);
    }
    ~ShownWindow() {
        Window.reset();
        DestroySerialPort();
    }
};

// One flood into the open port: the rate at which the window took it, or a
// negative value when a byte went missing or the pane shows something else
// than the same bytes give a fresh screen.
double DrainRate(ShownWindow& shown, const QByteArray& stream, bool hex) {
    TQxConsole& pane = *shown.Window->Console();
    pane.SetHexEmulation(hex);
    pane.ClearScreen();
    Pause(50);

    TQxComPort& port = SerialPort();
    const std::function<void(quint16)> original = port.OnReceive;
    qint64 announced = 0;
    qint64 doneAt = 0;
    QEventLoop loop;
    port.OnReceive = [&](quint16 count) {
        original(count);
        announced += count;
        if (announced >= stream.size() && doneAt == 0) {
            doneAt = MonotonicNs();
            loop.quit();
        }
    };
    const qint64 start = MonotonicNs();
    std::thread target([&] {
        for (qsizetype sent = 0; sent < stream.size();) {
            const ssize_t n =
                ::write(shown.Pty.MasterFd(), stream.constData() + sent,
                        size_t(std::min<qsizetype>(WriteBlock, stream.size() - sent)));
            if (n > 0)
                sent += n;
            else if (errno != EINTR)
                break;
        }
    });
    QTimer::singleShot(FloodTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    target.join();
    // Anything more than the stream would show up now; the last frame paints.
    Pause(200);
    port.OnReceive = original;

    if (doneAt == 0 || announced != stream.size()) {
        std::fprintf(stderr, "%s: %lld of %lld bytes reached the pane\n", hex ? "hex" : "ascii",
                     static_cast<long long>(announced), static_cast<long long>(stream.size()));
        return -1;
    }
    TConsoleScreen reference;
    reference.MaxRow = pane.MaxRow();
    reference.SetHexEmulation(hex);
    reference.ClearScreen();
    reference.WriteText(stream);
    if (reference.Lines != pane.Lines() || reference.Row != pane.Row() ||
        reference.Col != pane.Col()) {
        std::fprintf(stderr, "%s: the pane does not show what the stream gives\n",
                     hex ? "hex" : "ascii");
        return -1;
    }
    return double(stream.size()) / 1e6 / (double(doneAt - start) / 1e9);
}

// Reads the target side and notes when each byte arrives.
class WireWatch {
public:
    explicit WireWatch(int master) : FMaster(master), FThread([this] { Run(); }) {}
    ~WireWatch() {
        FStop = true;
        FThread.join();
    }
    // Waits until more than Seen bytes have arrived; the arrival time of the
    // next one, or 0 after TimeoutMs.
    qint64 WaitForByte(qint64 seen, int timeoutMs) {
        std::unique_lock lock(FLock);
        const bool arrived = FArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                               [&] { return FCount > seen; });
        return arrived ? FFirstAfter(seen) : 0;
    }
    qint64 Count() {
        std::lock_guard lock(FLock);
        return FCount;
    }

private:
    qint64 FFirstAfter(qint64 seen) const { return FTimes[size_t(seen)]; }
    void Run() {
        char buffer[4096];
        while (!FStop) {
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
            const qint64 now = MonotonicNs();
            if (n <= 0)
                continue;
            {
                std::lock_guard lock(FLock);
                for (ssize_t i = 0; i < n; ++i)
                    FTimes.push_back(now);
                FCount += n;
            }
            FArrived.notify_all();
        }
    }

    int FMaster;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::condition_variable FArrived;
    std::vector<qint64> FTimes;
    qint64 FCount = 0;
    std::thread FThread;
};

// Keys arrive as the window system delivers them: posted to the window from
// another thread, which wakes the main thread.
double MedianKeyToWireMs(ShownWindow& shown) {
    TQxConsole& pane = *shown.Window->Console();
    pane.SetHexEmulation(false);
    pane.ClearScreen();
    QWindow* window = shown.Window->windowHandle();
    // The first key event registers the keyboard device, which must happen
    // on the main thread.
    QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    WireWatch wire(shown.Pty.MasterFd());
    std::vector<double> samples;
    std::atomic<bool> done{false};
    std::thread keyboard([&] {
        for (int i = 0; i < KeySamples; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(KeyGapMs));
            const qint64 seen = wire.Count();
            const qint64 pressed = MonotonicNs();
            QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_A,
                                                              Qt::NoModifier, QStringLiteral("a")));
            QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyRelease, Qt::Key_A,
                                                              Qt::NoModifier, QStringLiteral("a")));
            const qint64 arrived = wire.WaitForByte(seen, 1000);
            if (arrived > 0)
                samples.push_back(MillisecondsBetween(pressed, arrived));
        }
        done = true;
    });
    WaitFor([&] { return done.load(); }, 60000);
    keyboard.join();
    if (samples.size() < KeySamples / 2) {
        std::fprintf(stderr, "keys: only %zu of %d reached the line\n", samples.size(), KeySamples);
        return -1;
    }
    return Median(samples);
}

// The processor time this process spends on a text stream paced like a
// 115200-baud line (57 bytes every 5 ms, as a USB adapter delivers them),
// without the writing thread's own time. PortOnly replaces the window's
// receive handler by one that reads and drops the bytes: what the port and
// the event loop cost alone.
double PacedCpuPercent(ShownWindow& shown, bool portOnly) {
    TQxConsole& pane = *shown.Window->Console();
    pane.SetHexEmulation(false);
    pane.ClearScreen();
    TQxComPort& port = SerialPort();
    const std::function<void(quint16)> original = port.OnReceive;
    std::vector<char> sink(65536);
    if (portOnly)
        port.OnReceive = [&](quint16 count) { port.ReadBuffer(sink.data(), count); };
    const QByteArray stream =
        MakeStream(FloodKind::Text, PacedBytesPerSecond * (PacedMs / 1000 + 2));
    // A plain buffer: through a QByteArray gcc at -O3 cannot rule out its
    // shared one-byte empty array and warns that the write reads past it.
    const std::vector<char> bytes(stream.cbegin(), stream.cend());
    std::atomic<bool> stop{false};
    std::atomic<qint64> writerTid{0};
    std::thread target([&] {
        writerTid = gettid();
        const int chunk = PacedBytesPerSecond * PacedChunkMs / 1000;
        qint64 next = MonotonicNs();
        for (size_t sent = 0; !stop && sent + chunk <= bytes.size(); sent += chunk) {
            next += qint64(PacedChunkMs) * 1000000;
            std::this_thread::sleep_for(
                std::chrono::nanoseconds(std::max<qint64>(next - MonotonicNs(), 0)));
            if (::write(shown.Pty.MasterFd(), bytes.data() + sent, size_t(chunk)) != chunk)
                break;
        }
    });
    const auto ownCpuNs = [&] {
        const QString writer = QStringLiteral("/proc/self/task/%1/schedstat").arg(writerTid.load());
        QFile file(writer);
        const qint64 writerNs =
            file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').first().toLongLong() : 0;
        return ReadCounters(getpid()).CpuNs - writerNs;
    };
    Pause(1000);
    const qint64 cpuBefore = ownCpuNs();
    const qint64 start = MonotonicNs();
    Pause(PacedMs);
    const qint64 cpu = ownCpuNs() - cpuBefore;
    const qint64 wall = MonotonicNs() - start;
    stop = true;
    target.join();
    port.OnReceive = original;
    return 100.0 * double(cpu) / double(wall);
}

// The main thread blocked for BlockedMs (a long paint, a slow X server)
// while a 3 Mbaud line streams: the longest time the port's reader left the
// device unread (its own timestamps between two reads that found bytes), or
// a negative value when a byte went missing on the way to the pane.
double MaxUnreadMsWhileBlocked(ShownWindow& shown) {
    TQxConsole& pane = *shown.Window->Console();
    pane.SetHexEmulation(false);
    pane.ClearScreen();
    Pause(50);
    TQxComPort& port = SerialPort();
    const std::function<void(quint16)> original = port.OnReceive;
    const QByteArray stream =
        MakeStream(FloodKind::Text, qint64(BlockedLineBytesPerSecond) * BlockedStreamMs / 1000);
    qint64 announced = 0;
    port.OnReceive = [&](quint16 count) {
        original(count);
        announced += count;
    };
    std::atomic<bool> started{false};
    std::thread target([&] {
        const int chunk = BlockedLineBytesPerSecond * BlockedChunkMs / 1000;
        qint64 next = MonotonicNs();
        for (qsizetype sent = 0; sent < stream.size(); sent += chunk) {
            next += qint64(BlockedChunkMs) * 1000000;
            std::this_thread::sleep_for(
                std::chrono::nanoseconds(std::max<qint64>(next - MonotonicNs(), 0)));
            const qsizetype n = std::min<qsizetype>(chunk, stream.size() - sent);
            if (!shown.Pty.Write(stream.mid(sent, n)))
                break;
            started = true;
        }
    });
    WaitFor([&] { return started.load(); }, 5000, 1);
    Pause(200);
    port.ResetReadGap();
    // The hook: the main thread does nothing else for a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(BlockedMs));
    const double unreadMs = double(port.LongestReadGap().count()) / 1e6;
    target.join();
    WaitFor([&] { return announced >= stream.size(); }, 20000);
    Pause(200);
    port.OnReceive = original;
    if (announced != stream.size()) {
        std::fprintf(stderr, "blocked: %lld of %lld bytes reached the pane\n",
                     static_cast<long long>(announced), static_cast<long long>(stream.size()));
        return -1;
    }
    TConsoleScreen reference;
    reference.MaxRow = pane.MaxRow();
    reference.ClearScreen();
    reference.WriteText(stream);
    if (reference.Lines != pane.Lines()) {
        std::fprintf(stderr, "blocked: the pane does not show what the stream gives\n");
        return -1;
    }
    return unreadMs;
}

// Notes the first paint of the pane after a received byte was written into
// it: the moment the echo is on its way to the screen.
class EchoPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && Armed.exchange(false))
            PaintedNs = MonotonicNs();
        return QObject::eventFilter(watched, event);
    }
    std::atomic<bool> Armed{false};
    std::atomic<qint64> PaintedNs{0};
};

struct EchoFigures {
    double ToScreenMs = -1; // key press to the paint that shows the echo
    double ToPaneMs = -1;   // key press to the echo handed to the pane
};

// A key typed after a quiet time, echoed by the target at once.
EchoFigures MedianKeyToScreen(ShownWindow& shown) {
    TQxConsole& pane = *shown.Window->Console();
    pane.SetHexEmulation(false);
    pane.ClearScreen();
    QWindow* window = shown.Window->windowHandle();
    QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    TQxComPort& port = SerialPort();
    const std::function<void(quint16)> original = port.OnReceive;
    EchoPaint paint;
    pane.installEventFilter(&paint);
    qint64 handedNs = 0;
    port.OnReceive = [&](quint16 count) {
        original(count);
        if (count > 0) {
            handedNs = MonotonicNs();
            paint.Armed = true;
        }
    };
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char buffer[256];
        while (!stop) {
            pollfd p{shown.Pty.MasterFd(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(shown.Pty.MasterFd(), buffer, sizeof buffer);
            if (n > 0)
                shown.Pty.Write(QByteArray(buffer, n));
        }
    });
    std::vector<double> samples, handed;
    for (int i = 0; i < EchoSamples; ++i) {
        Pause(EchoGapMs);
        paint.PaintedNs = 0;
        handedNs = 0;
        const qint64 pressed = MonotonicNs();
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_A,
                                                          Qt::NoModifier, QStringLiteral("a")));
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyRelease, Qt::Key_A,
                                                          Qt::NoModifier, QStringLiteral("a")));
        if (WaitFor([&] { return paint.PaintedNs.load() != 0; }, 1000, 0)) {
            samples.push_back(MillisecondsBetween(pressed, paint.PaintedNs));
            handed.push_back(MillisecondsBetween(pressed, handedNs));
        }
    }
    stop = true;
    echo.join();
    pane.removeEventFilter(&paint);
    port.OnReceive = original;
    if (samples.size() < EchoSamples / 2) {
        std::fprintf(stderr, "echo: only %zu of %d keys came back\n", samples.size(), EchoSamples);
        return {};
    }
    return {Median(samples), Median(handed)};
}

// The adapter pulled and plugged in again: COM1 is a link to a
// pseudo-terminal that goes away; once the program shows the port
// disconnected, a new one appears under the same link while a key is typed
// every few milliseconds. The time from the link naming the new device to
// the first typed byte arriving there.
double MedianReconnectMs() {
    TempAppDir dir;
    auto device = std::make_unique<PtyPair>();
    const QString link = dir.Path() + QStringLiteral("ttyAdapter");
    QFile::link(device->SlavePath(), link);
    ShownWindow shown;
    if (!shown.Show(link))
        return -1;
    QWindow* window = shown.Window->windowHandle();
    QKeyEvent(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier);
    std::vector<double> samples;
    for (int run = 0; run < ReconnectRuns; ++run) {
        // The link goes with the device (the freed terminal's name may soon
        // stand for another one).
        QFile::remove(link);
        device.reset();
        if (!WaitFor([] { return SerialPort().Disconnected() && !SerialPort().Open(); }, 10000))
            return -1;
        device = std::make_unique<PtyPair>();
        WireWatch wire(device->MasterFd());
        const QString fresh = link + QStringLiteral(".new");
        QFile::link(device->SlavePath(), fresh);
        const qint64 appeared = MonotonicNs();
        ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData());
        std::atomic<bool> stop{false};
        std::thread keyboard([&] {
            while (!stop) {
                QCoreApplication::postEvent(
                    window, new QKeyEvent(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, "k"));
                QCoreApplication::postEvent(
                    window, new QKeyEvent(QEvent::KeyRelease, Qt::Key_K, Qt::NoModifier, "k"));
                std::this_thread::sleep_for(std::chrono::milliseconds(ReconnectKeyGapMs));
            }
        });
        const bool arrived = WaitFor([&] { return wire.Count() > 0; }, 10000, 1);
        stop = true;
        keyboard.join();
        if (arrived)
            samples.push_back(MillisecondsBetween(appeared, wire.WaitForByte(0, 0)));
        Pause(100);
    }
    if (samples.size() < ReconnectRuns) {
        std::fprintf(stderr, "reconnect: only %zu of %d came back\n", samples.size(),
                     ReconnectRuns);
        return -1;
    }
    return Median(samples);
}

// --- Start-up ------------------------------------------------------------

// Notes the end of the first paint of the pane: the main window stands
// complete on the screen.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !FSeen) {
            FSeen = true;
            // Runs once this paint and the flush to the screen are through.
            QTimer::singleShot(0, this, [] {
                std::printf("painted_ns: %lld\n", static_cast<long long>(MonotonicNs()));
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool FSeen = false;
};

// The program's own start, as main() does it, in a fresh process.
int StartupChild(int argc, char** argv) {
    SetApplicationDir(QString::fromLocal8Bit(argv[2]));
    QApplication application(argc, argv);
    InitIcons();
    QApplication::setApplicationName(QStringLiteral("Qx-Console"));
    FakeInteraction fake;
    auto* window = new TQxConsoleWindow;
    FirstPaint watch;
    window->Console()->installEventFilter(&watch);
    window->show();
    const int result = QApplication::exec();
    delete window;
    DestroySerialPort();
    return result;
}

double MedianStartupMs(const QString& self) {
    QTemporaryDir dir;
    PtyPair pty;
    TProfileFile settings(dir.path() + QStringLiteral("/Console.ini"));
    if (!settings.WriteString("Devices", "COM1", pty.SlavePath().toLocal8Bit()))
        qFatal("%s", qPrintable(settings.WriteError().Text()));
    std::vector<double> samples;
    for (int run = 0; run < StartupRuns; ++run) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        const qint64 start = MonotonicNs();
        child.start(self, {QStringLiteral("--startup-child"), dir.path()});
        if (!child.waitForFinished(30000))
            continue;
        const QByteArray output = child.readAllStandardOutput();
        const qsizetype at = output.indexOf("painted_ns: ");
        if (at < 0)
            continue;
        const qint64 painted = output.mid(at + 12).trimmed().toLongLong();
        samples.push_back(MillisecondsBetween(start, painted));
    }
    return samples.empty() ? -1 : Median(samples);
}

// The window on a port behind a real ser2net on this machine (RFC 2217 over
// loopback): a binary flood of every byte value (the pane must show the
// same as from a local line) and key to wire.
void ReportThroughSer2net() {
    if (!Ser2netServer::Installed()) {
        std::fprintf(stderr, "rfc2217: ser2net is not installed, skipped\n");
        return;
    }
    ShownWindow shown;
    Ser2netServer server(shown.Pty.SlavePath(), QStringLiteral("telnet(rfc2217),tcp"));
    if (!server.Start() || !shown.Show(server.Url())) {
        std::fprintf(stderr, "rfc2217: the window did not open its port through ser2net\n");
        Report("e2e_rx_rfc2217_mb_s", -1, "MB/s", 1);
        return;
    }
    const QByteArray binary = MakeStream(FloodKind::Binary, HexBytes);
    std::vector<double> rates;
    for (int run = 0; run < Runs; ++run)
        rates.push_back(DrainRate(shown, binary, false));
    Report("e2e_rx_rfc2217_mb_s", Median(rates), "MB/s", 1);
    Report("key_to_wire_rfc2217_ms", MedianKeyToWireMs(shown), "ms", 3);
}

} // namespace

// Arguments: the parts to run (rx, blocked, key, echo, split, reconnect,
// startup, rfc2217); all
// when none given. --x11: on an X server of its own (xcb), names end in _x11.
int main(int argc, char** argv) {
    if (argc >= 3 && qstrcmp(argv[1], "--startup-child") == 0)
        return StartupChild(argc, argv);
    VirtualDisplay display;
    bool skip = false;
    if (!SetUpX11IfAsked(argc, argv, display, skip))
        return skip ? 0 : 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InitIcons();
    QApplication::setApplicationName(QStringLiteral("Qx-Console"));
    QStringList parts = application.arguments().mid(1);
    if (parts.isEmpty())
        parts = {QStringLiteral("rx"),     QStringLiteral("blocked"), QStringLiteral("key"),
                 QStringLiteral("echo"),   QStringLiteral("split"),   QStringLiteral("reconnect"),
                 QStringLiteral("startup"), QStringLiteral("rfc2217")};

    if (parts.contains(QStringLiteral("rx")) || parts.contains(QStringLiteral("blocked")) ||
        parts.contains(QStringLiteral("key")) || parts.contains(QStringLiteral("echo")) ||
        parts.contains(QStringLiteral("split"))) {
        ShownWindow shown;
        if (!shown.Show()) {
            std::fprintf(stderr, "the main window did not come up with its port open\n");
            return 1;
        }
        if (parts.contains(QStringLiteral("rx"))) {
            const QByteArray text = MakeStream(FloodKind::Text, TextBytes);
            const QByteArray binary = MakeStream(FloodKind::Binary, HexBytes);
            std::vector<double> ascii, binaryAscii, hex;
            for (int run = 0; run < Runs; ++run) {
                ascii.push_back(DrainRate(shown, text, false));
                binaryAscii.push_back(DrainRate(shown, binary, false));
                hex.push_back(DrainRate(shown, binary, true));
            }
            Report("e2e_rx_ascii_mb_s", Median(ascii), "MB/s", 1);
            Report("e2e_rx_binary_ascii_mb_s", Median(binaryAscii), "MB/s", 1);
            Report("e2e_rx_hex_mb_s", Median(hex), "MB/s", 1);
        }
        if (parts.contains(QStringLiteral("blocked"))) {
            std::vector<double> unread;
            for (int run = 0; run < BlockedRuns; ++run)
                unread.push_back(MaxUnreadMsWhileBlocked(shown));
            // A lost byte in any run counts.
            const bool lost =
                std::any_of(unread.begin(), unread.end(), [](double v) { return v < 0; });
            Report("rx_max_unread_ms_ui_blocked", lost ? -1 : Median(unread), "ms", 2);
        }
        if (parts.contains(QStringLiteral("split"))) {
            Report("e2e_cpu_split_window_percent", PacedCpuPercent(shown, false), "%", 2);
            Report("e2e_cpu_split_port_only_percent", PacedCpuPercent(shown, true), "%", 2);
        }
        if (parts.contains(QStringLiteral("key")))
            Report("key_to_wire_ms", MedianKeyToWireMs(shown), "ms", 3);
        if (parts.contains(QStringLiteral("echo"))) {
            const EchoFigures echo = MedianKeyToScreen(shown);
            Report("key_to_screen_ms", echo.ToScreenMs, "ms", 3);
            Report("key_to_pane_ms", echo.ToPaneMs, "ms", 3);
        }
    }
    if (parts.contains(QStringLiteral("rfc2217")))
        ReportThroughSer2net();
    if (parts.contains(QStringLiteral("reconnect")))
        Report("reconnect_ms", MedianReconnectMs(), "ms", 1);
    if (parts.contains(QStringLiteral("startup")))
        Report("startup_ms", MedianStartupMs(QCoreApplication::applicationFilePath()), "ms", 1);
    return 0;
}
