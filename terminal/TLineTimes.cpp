#include "terminal/TLineTimes.h"

#include <QDateTime>

qint64 TLineTimes::SystemNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

void TLineTimes::Stamp(qint64 line) {
    if (FTimes.empty())
        FFirst = line;
    if (line < FFirst)
        return;
    const auto index = static_cast<size_t>(line - FFirst);
    if (index < FTimes.size()) {
        if (FTimes[index] == 0)
            FTimes[index] = Now();
        return;
    }
    FTimes.resize(index + 1, 0);
    FTimes[index] = Now();
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
