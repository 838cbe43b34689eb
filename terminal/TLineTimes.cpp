#include "terminal/TLineTimes.h"

#include <QDateTime>

#include <algorithm>

qint64 TLineTimes::SystemNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

qint64* TLineTimes::Slot(qint64 line) {
    if (FFirst == FEnd)
        FFirst = FEnd = line;
    if (line < FFirst)
        return nullptr;
    if (line >= FEnd) {
        if (line - FFirst >= static_cast<qint64>(FRing.size()))
            Grow(line - FFirst + 1);
        for (; FEnd <= line; ++FEnd)
            Cell(FEnd) = 0; // lines skipped over have no time
    }
    return &Cell(line);
}

// Makes room for Lines lines from FFirst on, keeping the times held.
void TLineTimes::Grow(qint64 lines) {
    size_t size = std::max<size_t>(FRing.size(), 64);
    while (static_cast<qint64>(size) < lines)
        size *= 2;
    std::vector<qint64> ring(size);
    for (qint64 line = FFirst; line < FEnd; ++line)
        ring[static_cast<size_t>(line) & (size - 1)] = Cell(line);
    FRing.swap(ring);
}

void TLineTimes::StampAfresh(qint64 line) {
    if (qint64* time = Slot(line))
        *time = StampTime();
}

qint64 TLineTimes::ReadStampTime() {
    const qint64 now = Now();
    if (FInBlock)
        FBlockTime = now;
    return now;
}

void TLineTimes::Move(qint64 dest, qint64 src, int count) {
    std::vector<qint64> moved;
    for (int i = 0; i < count; ++i)
        moved.push_back(At(src + i));
    for (int i = 0; i < count; ++i) {
        if (moved[i] == 0) {
            Unstamp(dest + i);
        } else if (qint64* time = Slot(dest + i)) {
            *time = moved[i];
        }
    }
}

void TLineTimes::Unstamp(qint64 line) {
    if (Holds(line))
        Cell(line) = 0;
}

void TLineTimes::DropFrom(qint64 line) {
    FEnd = std::clamp(line, FFirst, FEnd);
}

void TLineTimes::Clear() {
    FEnd = FFirst;
}

QString TLineTimes::Format(qint64 time) {
    if (time == 0)
        return QString(FormatWidth, QLatin1Char(' '));
    return QDateTime::fromMSecsSinceEpoch(time).time().toString(QStringLiteral("hh:mm:ss.zzz"));
}
