#pragma once

#include "platform/AppLocation.h"

#include <QString>
#include <QStringList>

// The input line below the pane as the settings file keeps it: section
// [InputLine] (Visible, Format, LineEnd, RepeatMs) and section
// [InputHistory] (Line0 the oldest ... at most MaxHistory lines; the
// profile layer quotes a line whose blanks at either end would be lost).
struct TInputLineSettings {
    static constexpr int MaxHistory = 100;
    bool Visible = false;
    // Index into FormatNames / LineEndNames.
    int Format = 0;
    int LineEnd = 0;
    // The repeat period in milliseconds; 0 sends once.
    int RepeatMs = 0;
    QStringList History;
};

// The file's words for Format and LineEnd, in the order of their indexes.
QStringList InputFormatNames();
QStringList InputLineEndNames();

// A missing or unreadable key takes its default; a word matching no name
// the first one.
TInputLineSettings LoadInputLineSettings(const QString& fileName = SettingsFileName());
// Both sections in one write; false when the file could not be written (it
// is then as it was).
[[nodiscard]] bool SaveInputLineSettings(const TInputLineSettings& settings,
                                         const QString& fileName = SettingsFileName());
