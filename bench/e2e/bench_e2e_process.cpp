// The real program as a user runs it, watched from outside through /proc:
// processor time and wake-ups while idle, under a 115200-baud text stream
// and (in the VT emulation) under a 115200-baud colour log, and resident
// memory after start and after 100 MB received. The target device is
// qx-target on a pseudo-terminal that COM1 maps to.
#include "bench/e2e/ConsoleProcess.h"
#include "bench/e2e/Measure.h"
#include "bench/e2e/VirtualDisplay.h"
#include "tests/support/target/TargetProcess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>

namespace {

constexpr int Runs = 3;
constexpr int SettleMs = 2000;
// The caret blinks for ten cycles (10 s at the usual flash time) after the
// last activity, then rests; idle is measured after that.
constexpr int IdleSettleMs = 12000;
constexpr int IdleMs = 10000;
constexpr int StreamMs = 20000;
constexpr int BaudBytesPerSecond = 11520; // 115200 baud, 10 bits a byte
constexpr qint64 BigStreamBytes = 100000000;
constexpr int BigStreamDelayMs = 3000;

QByteArray SettingsFor(const QString& device, bool vt) {
    return "[Devices]\r\nCOM1=" + device.toLocal8Bit() +
           "\r\n[COM-Device]\r\nPort=COM1\r\nBaudrate=115200\r\n" +
           (vt ? "[Terminal]\r\nEmulation=VT\r\n" : "");
}

// The target and the program, running, with the port open.
struct Session {
    TargetProcess Target;
    ConsoleProcess Console;
    bool Vt = false;

    // Modem: the program's pseudo-terminal answers the modem-line calls of a
    // real UART (the preloaded shim).
    bool Start(const QStringList& targetArgs, bool modem = false) {
        if (modem)
            Console.Environment.insert(QStringLiteral("LD_PRELOAD"),
                                       QStringLiteral(QX_MODEM_SHIM_PATH));
        if (!Target.Start(targetArgs) || !Console.Start(SettingsFor(Target.SlavePath(), Vt)))
            return false;
        const qint64 pid = Console.Pid();
        const QString device = Target.SlavePath();
        return WaitFor([&] { return ProcessHoldsFile(pid, device); }, 20000, 20);
    }
};

// The median of the values that are not negative (failed runs); -1 when
// every run failed.
double MedianOfValid(std::vector<double> values) {
    std::erase_if(values, [](double value) { return value < 0; });
    return values.empty() ? -1 : Median(values);
}

struct IdleFigures {
    double CpuPercent = 0;
    double WakeupsPerSecond = 0;
};

IdleFigures MeasureIdle(bool modem) {
    Session session;
    if (!session.Start({QStringLiteral("--echo")}, modem))
        return {-1, -1};
    Pause(IdleSettleMs);
    const qint64 pid = session.Console.Pid();
    const qint64 start = MonotonicNs();
    const ProcessCounters before = ReadCounters(pid);
    Pause(IdleMs);
    const ProcessCounters after = ReadCounters(pid);
    const qint64 wall = MonotonicNs() - start;
    return {CpuPercent(before, after, wall),
            double(after.VoluntarySwitches - before.VoluntarySwitches) / (double(wall) / 1e9)};
}

struct StreamFigures {
    double CpuPercent = -1;
    double WakeupsPerSecond = -1;
};

// A text stream, or with Vt a colour log in the VT emulation.
StreamFigures MeasureStream(bool vt) {
    Session session;
    session.Vt = vt;
    if (!session.Start({QStringLiteral("--flood"),
                        vt ? QStringLiteral("colour") : QStringLiteral("text"),
                        QStringLiteral("--baud"), QStringLiteral("115200")}))
        return {};
    Pause(SettleMs);
    const qint64 pid = session.Console.Pid();
    const qint64 start = MonotonicNs();
    const ProcessCounters before = ReadCounters(pid);
    Pause(StreamMs);
    const ProcessCounters after = ReadCounters(pid);
    const qint64 wall = MonotonicNs() - start;
    session.Target.Stop(SIGTERM);
    // The stream must have run at the line's speed the whole time.
    const qint64 sent = session.Target.Summary().value("sent_bytes").toLongLong();
    const double expected = double(BaudBytesPerSecond) * double(StreamMs + SettleMs) / 1000;
    if (sent < expected * 0.9) {
        std::fprintf(stderr, "stream too slow: %lld bytes sent\n", static_cast<long long>(sent));
        return {};
    }
    return {CpuPercent(before, after, wall),
            double(after.VoluntarySwitches - before.VoluntarySwitches) / (double(wall) / 1e9)};
}

struct MemoryFigures {
    double StartMb = 0;
    double After100MbMb = 0;
};

MemoryFigures MeasureMemory() {
    Session session;
    if (!session.Start({QStringLiteral("--flood"), QStringLiteral("text"),
                        QStringLiteral("--bytes"), QString::number(BigStreamBytes),
                        QStringLiteral("--flood-delay"), QString::number(BigStreamDelayMs)}))
        return {-1, -1};
    const qint64 pid = session.Console.Pid();
    // Before the stream starts.
    Pause(BigStreamDelayMs / 2);
    const double startMb = double(ReadCounters(pid).RssKb) / 1024;
    // The target reports the stream once it has all been written; then the
    // program drains what the terminal still holds.
    if (!WaitFor([&] { return session.Target.Summary().contains("flood_bytes"); }, 300000, 20))
        return {startMb, -1};
    if (!WaitUntilQuiet(pid, 5000000, 200, 30000))
        return {startMb, -1};
    if (!session.Console.Running())
        return {startMb, -1};
    return {startMb, double(ReadCounters(pid).RssKb) / 1024};
}

} // namespace

// Arguments: the parts to run (idle, idle_modem, stream, stream_vt, memory);
// all when none given.
// --x11: the program runs on an X server of its own (xcb), names end in _x11.
int main(int argc, char** argv) {
    VirtualDisplay display;
    bool skip = false;
    if (!SetUpX11IfAsked(argc, argv, display, skip))
        return skip ? 0 : 1;
    QCoreApplication application(argc, argv);
    QStringList parts = application.arguments().mid(1);
    if (parts.isEmpty())
        parts = {QStringLiteral("idle"), QStringLiteral("idle_modem"), QStringLiteral("stream"),
                 QStringLiteral("stream_vt"), QStringLiteral("memory")};
    std::vector<double> idleCpu, idleWakeups, modemWakeups, streamCpu, streamWakeups, vtCpu,
        rssStart, rssAfter;
    for (int run = 0; run < Runs; ++run) {
        if (parts.contains(QStringLiteral("idle"))) {
            const IdleFigures idle = MeasureIdle(false);
            idleCpu.push_back(idle.CpuPercent);
            idleWakeups.push_back(idle.WakeupsPerSecond);
        }
        if (parts.contains(QStringLiteral("idle_modem")))
            modemWakeups.push_back(MeasureIdle(true).WakeupsPerSecond);
        if (parts.contains(QStringLiteral("stream"))) {
            const StreamFigures stream = MeasureStream(false);
            streamCpu.push_back(stream.CpuPercent);
            streamWakeups.push_back(stream.WakeupsPerSecond);
        }
        if (parts.contains(QStringLiteral("stream_vt")))
            vtCpu.push_back(MeasureStream(true).CpuPercent);
        if (parts.contains(QStringLiteral("memory"))) {
            const MemoryFigures memory = MeasureMemory();
            rssStart.push_back(memory.StartMb);
            rssAfter.push_back(memory.After100MbMb);
        }
    }
    if (!idleCpu.empty()) {
        Report("e2e_idle_cpu_percent", Median(idleCpu), "%", 3);
        Report("e2e_idle_wakeups_s", Median(idleWakeups), "/s", 2);
    }
    if (!modemWakeups.empty())
        Report("e2e_idle_wakeups_s_modem", Median(modemWakeups), "/s", 2);
    if (!streamCpu.empty()) {
        // A run whose target fell behind the line (a loaded machine) does not count.
        Report("e2e_cpu_percent_115200", MedianOfValid(streamCpu), "%", 2);
        Report("e2e_wakeups_s_115200", MedianOfValid(streamWakeups), "/s", 1);
    }
    if (!vtCpu.empty())
        Report("e2e_cpu_percent_115200_vt_colour_log", MedianOfValid(vtCpu), "%", 2);
    if (!rssStart.empty()) {
        Report("rss_mb_start", Median(rssStart), "MB", 1);
        Report("rss_mb_after_100mb", Median(rssAfter), "MB", 1);
    }
    return 0;
}
