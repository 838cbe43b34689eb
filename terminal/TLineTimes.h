#pragma once

#include <QString>
#include <QtGlobal>

#include <deque>
#include <functional>

// The time each line of history and screen received its first character,
// by line number (as TConsoleScreen counts lines: they keep their number
// while they scroll). Times are milliseconds since the epoch, 0 for a line
// that has none. The screens record them always; the pane shows them on
// demand.
class TLineTimes {
public:
    // Where the times come from; the system clock unless a test sets it.
    std::function<qint64()> Clock;
    static qint64 SystemNow();

    // Gives Line the current time unless it has one.
    void Stamp(qint64 line);
    // While a block of received bytes is taken in, every line it stamps gets
    // the same time, read once: the bytes arrived together, and a clock
    // reading per line would cost a flood of short lines (HEX) a third of
    // its speed.
    class TBlock {
    public:
        explicit TBlock(TLineTimes& times) : FTimes(times) {
            FTimes.FBlockTime = 0, FTimes.FInBlock = true;
        }
        ~TBlock() { FTimes.FInBlock = false; }
        TBlock(const TBlock&) = delete;
        TBlock& operator=(const TBlock&) = delete;

    private:
        TLineTimes& FTimes;
    };
    // 0 for a line without a time (never written, or dropped).
    qint64 At(qint64 line) const;
    // Takes the time of Line back: it shows nothing now.
    void Unstamp(qint64 line);
    // The times of Count lines from Src on go to the lines from Dest on (the
    // rows of a scroll region moved).
    void Move(qint64 dest, qint64 src, int count);
    // Drops the times of the lines before First (they left the history).
    void DropBefore(qint64 first);
    // Drops the times of Line and every line after it (the screen was
    // cleared: its rows start afresh).
    void DropFrom(qint64 line);
    void Clear();

    // A time as the pane and the recording write it, "hh:mm:ss.zzz" in
    // local time; blanks of the same width for 0.
    static QString Format(qint64 time);
    static constexpr int FormatWidth = 12;

private:
    qint64 Now() const { return Clock ? Clock() : SystemNow(); }
    // The time of Line, made room for; null before the first line kept.
    qint64* Slot(qint64 line);

    std::deque<qint64> FTimes;
    bool FInBlock = false;
    qint64 FBlockTime = 0;
    // The line number of FTimes.front().
    qint64 FFirst = 0;
};
