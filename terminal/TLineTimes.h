#pragma once

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <functional>
#include <vector>

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

    // Gives Line the current time unless it has one. Every received run of
    // text asks, and nearly always of a line that has a time or of the next
    // new line, so those two answers are inline.
    void Stamp(qint64 line) {
        if (Holds(line)) {
            if (Cell(line) == 0)
                Cell(line) = StampTime();
        } else if (line == FEnd && FEnd - FFirst < static_cast<qint64>(FRing.size())) {
            Cell(FEnd++) = StampTime();
        } else {
            StampAfresh(line);
        }
    }
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
    qint64 At(qint64 line) const { return Holds(line) ? Cell(line) : 0; }
    // Takes the time of Line back: it shows nothing now.
    void Unstamp(qint64 line);
    // The times of Count lines from Src on go to the lines from Dest on (the
    // rows of a scroll region moved).
    void Move(qint64 dest, qint64 src, int count);
    // Drops the times of the lines before First (they left the history).
    void DropBefore(qint64 first) {
        FFirst = std::max(FFirst, first);
        FEnd = std::max(FEnd, FFirst);
    }
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
    qint64& Cell(qint64 line) { return FRing[static_cast<size_t>(line) & (FRing.size() - 1)]; }
    qint64 Cell(qint64 line) const { return FRing[static_cast<size_t>(line) & (FRing.size() - 1)]; }
    bool Holds(qint64 line) const { return line >= FFirst && line < FEnd; }
    void Grow(qint64 lines);
    void StampAfresh(qint64 line);
    qint64 StampTime() { return FInBlock && FBlockTime != 0 ? FBlockTime : ReadStampTime(); }
    qint64 ReadStampTime();

    // The times of lines FFirst to FEnd - 1, line N at N modulo the size (a
    // power of two). A new line is one store and a line leaving the history
    // none, where a queue pushed and popped for every line of a flood.
    std::vector<qint64> FRing;
    qint64 FFirst = 0;
    qint64 FEnd = 0;
    bool FInBlock = false;
    qint64 FBlockTime = 0;
};
