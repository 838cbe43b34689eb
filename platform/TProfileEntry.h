#pragma once

#include <QByteArray>

// One "key=value" line of a section.
struct TProfileEntry {
    QByteArray Key;
    QByteArray Value;
};
