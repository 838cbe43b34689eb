#include "bench/e2e/Measure.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

qint64 MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double MillisecondsBetween(qint64 startNs, qint64 endNs) {
    return double(endNs - startNs) / 1e6;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

namespace {

const char* reportSuffix = "";

} // namespace

void SetReportSuffix(const char* suffix) {
    reportSuffix = suffix;
}

void Report(const char* name, double value, const char* unit, int decimals) {
    std::printf("%s%s: %.*f %s\n", name, reportSuffix, decimals, value, unit);
    std::fflush(stdout);
}

namespace {

QByteArray ReadProcFile(const QString& path) {
    QFile file(path);
    // Files under /proc report size 0: read until the end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 StatusValue(const QByteArray& status, const QByteArray& key) {
    const qsizetype at = status.indexOf("\n" + key + ":");
    if (at < 0)
        return 0;
    const qsizetype start = at + key.size() + 2;
    const qsizetype end = status.indexOf('\n', start);
    return status.mid(start, end - start).trimmed().split(' ').first().toLongLong();
}

} // namespace

ProcessCounters ReadCounters(qint64 pid) {
    ProcessCounters counters;
    const QString base = QStringLiteral("/proc/%1").arg(pid);
    counters.RssKb = StatusValue("\n" + ReadProcFile(base + "/status"), "VmRSS");
    const QStringList tasks = QDir(base + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        const QString dir = base + "/task/" + task;
        // First field: nanoseconds spent on a processor.
        counters.CpuNs += ReadProcFile(dir + "/schedstat").split(' ').first().toLongLong();
        const QByteArray status = "\n" + ReadProcFile(dir + "/status");
        counters.VoluntarySwitches += StatusValue(status, "voluntary_ctxt_switches");
        counters.InvoluntarySwitches += StatusValue(status, "nonvoluntary_ctxt_switches");
    }
    return counters;
}

double CpuPercent(const ProcessCounters& before, const ProcessCounters& after, qint64 wallNs) {
    return wallNs > 0 ? 100.0 * double(after.CpuNs - before.CpuNs) / double(wallNs) : 0;
}

bool ProcessHoldsFile(qint64 pid, const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fdDir + "/" + fd).symLinkTarget() == canonical)
            return true;
    }
    return false;
}

bool WaitUntilQuiet(qint64 pid, qint64 quietCpuNs, int sliceMs, int timeoutMs) {
    const qint64 deadline = MonotonicNs() + qint64(timeoutMs) * 1000000;
    int quietSlices = 0;
    ProcessCounters last = ReadCounters(pid);
    while (MonotonicNs() < deadline) {
        QThread::msleep(sliceMs);
        const ProcessCounters now = ReadCounters(pid);
        quietSlices = now.CpuNs - last.CpuNs < quietCpuNs ? quietSlices + 1 : 0;
        if (quietSlices >= 2)
            return true;
        last = now;
    }
    return false;
}

void Pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs, int pollMs) {
    const qint64 deadline = MonotonicNs() + qint64(timeoutMs) * 1000000;
    while (!condition()) {
        if (MonotonicNs() > deadline)
            return false;
        Pause(pollMs);
    }
    return true;
}
