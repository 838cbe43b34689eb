#include "terminal/TLineTimes.h"

#include <QDateTime>

#include <vector>

qint64 TLineTimes::SystemNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

qint64* TLineTimes::Slot(qint64 line) {
    if (FTimes.empty())
        FFirst = line;
    if (line < FFirst)
        return nullptr;
    const auto index = static_cast<size_t>(line - FFirst);
    if (index == FTimes.size())
        FTimes.push_back(0); // the usual case: the next new line
    else if (index > FTimes.size())
        FTimes.resize(index + 1, 0);
    return &FTimes[index];
}

void TLineTimes::Stamp(qint64 line) {
    qint64* time = Slot(line);
    if (!time || *time != 0)
        return;
    if (!FInBlock)
        *time = Now();
    else
        *time = FBlockTime != 0 ? FBlockTime : (FBlockTime = Now());
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

qint64 TLineTimes::At(qint64 line) const {
    if (line < FFirst || line - FFirst >= static_cast<qint64>(FTimes.size()))
        return 0;
    return FTimes[static_cast<size_t>(line - FFirst)];
}

void TLineTimes::Unstamp(qint64 line) {
    if (line >= FFirst && line - FFirst < static_cast<qint64>(FTimes.size()))
        FTimes[static_cast<size_t>(line - FFirst)] = 0;
}

void TLineTimes::DropBefore(qint64 first) {
    while (!FTimes.empty() && FFirst < first) {
        FTimes.pop_front();
        ++FFirst;
    }
    if (FTimes.empty())
        FFirst = first;
}

void TLineTimes::DropFrom(qint64 line) {
    if (line <= FFirst) {
        FTimes.clear();
        return;
    }
    const auto keep = static_cast<size_t>(line - FFirst);
    if (keep < FTimes.size())
        FTimes.resize(keep);
}

void TLineTimes::Clear() {
    FTimes.clear();
}

QString TLineTimes::Format(qint64 time) {
    if (time == 0)
        return QString(FormatWidth, QLatin1Char(' '));
    return QDateTime::fromMSecsSinceEpoch(time).time().toString(QStringLiteral("hh:mm:ss.zzz"));
}
