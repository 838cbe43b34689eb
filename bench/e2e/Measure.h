#pragma once

// Clocks, medians and readings of a process's counters under /proc, shared
// by the end-to-end benchmarks.

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

// CLOCK_MONOTONIC in nanoseconds: the same clock in every process.
qint64 MonotonicNs();
double MillisecondsBetween(qint64 startNs, qint64 endNs);

// The median of the values (the upper one of an even count); 0 for none.
double Median(std::vector<double> values);
// Prints one "name: value unit" line; the name gets the report suffix.
void Report(const char* name, double value, const char* unit, int decimals);
// Added to every reported name from now on (e.g. "_x11").
void SetReportSuffix(const char* suffix);

// What a process has used so far, summed over all its threads.
struct ProcessCounters {
    qint64 CpuNs = 0;             // time on a processor
    qint64 VoluntarySwitches = 0; // times a thread went to sleep: wake-ups
    qint64 InvoluntarySwitches = 0;
    qint64 RssKb = 0; // resident memory now
};
ProcessCounters ReadCounters(qint64 pid);
// Processor time of Pid between two readings, in percent of one core.
double CpuPercent(const ProcessCounters& before, const ProcessCounters& after, qint64 wallNs);

// True when the process holds an open descriptor on Path (e.g. the port).
bool ProcessHoldsFile(qint64 pid, const QString& path);
// Waits until the process has used less than QuietCpuNs in each of two
// consecutive Slices; false when TimeoutMs passed first.
bool WaitUntilQuiet(qint64 pid, qint64 quietCpuNs, int sliceMs, int timeoutMs);

// Runs the event loop for Ms milliseconds (child output, timers, events).
void Pause(int ms);
// Runs the event loop until Condition holds, checking every PollMs; false
// when TimeoutMs passed first.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs, int pollMs = 10);
