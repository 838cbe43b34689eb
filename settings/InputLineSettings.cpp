#include "settings/InputLineSettings.h"

#include "platform/Cp1252.h"
#include "platform/TProfileChanges.h"
#include "platform/TProfileFile.h"
#include "platform/TProfileSnapshot.h"

#include <algorithm>

namespace {

// Section, key, default; the same form as the settings model's key table.
struct TInputKey {
    const char* Section;
    const char* Key;
    const char* Default;
};
constexpr TInputKey VisibleKey = {"InputLine", "Visible", "0"};
constexpr TInputKey FormatKey = {"InputLine", "Format", "Text"};
constexpr TInputKey LineEndKey = {"InputLine", "LineEnd", "CR"};
constexpr TInputKey RepeatKey = {"InputLine", "RepeatMs", "0"};
constexpr const char* HistorySection = "InputHistory";
constexpr int MaxRepeatMs = 3600000;

int CaseBlindIndexOf(const QStringList& names, const QByteArray& word) {
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).compare(QString::fromLatin1(word), Qt::CaseInsensitive) == 0)
            return i;
    }
    return 0;
}

} // namespace

QStringList InputFormatNames() {
    return {QStringLiteral("Text"), QStringLiteral("Hex")};
}

QStringList InputLineEndNames() {
    return {QStringLiteral("None"), QStringLiteral("CR"), QStringLiteral("LF"),
            QStringLiteral("CRLF")};
}

TInputLineSettings LoadInputLineSettings(const QString& fileName) {
    const TProfileSnapshot file = TProfileFile(fileName).Snapshot();
    const auto text = [&file](const TInputKey& key) {
        return file.ReadString(key.Section, key.Key, key.Default);
    };
    const auto integer = [&file](const TInputKey& key) {
        return file.ReadInteger(key.Section, key.Key, QByteArray(key.Default).toInt());
    };
    TInputLineSettings settings;
    settings.Visible = integer(VisibleKey) != 0;
    settings.Format = CaseBlindIndexOf(InputFormatNames(), text(FormatKey));
    settings.LineEnd = CaseBlindIndexOf(InputLineEndNames(), text(LineEndKey));
    settings.RepeatMs = std::clamp(integer(RepeatKey), 0, MaxRepeatMs);
    for (const TProfileEntry& entry : file.ReadSection(HistorySection)) {
        if (!entry.Value.isEmpty())
            settings.History.append(Cp1252ToString(entry.Value));
    }
    if (settings.History.size() > TInputLineSettings::MaxHistory)
        settings.History =
            settings.History.mid(settings.History.size() - TInputLineSettings::MaxHistory);
    return settings;
}

bool SaveInputLineSettings(const TInputLineSettings& settings, const QString& fileName) {
    TProfileChanges changes;
    changes.WriteString(VisibleKey.Section, VisibleKey.Key, settings.Visible ? "1" : "0");
    changes.WriteString(FormatKey.Section, FormatKey.Key,
                        InputFormatNames().value(settings.Format).toLatin1());
    changes.WriteString(LineEndKey.Section, LineEndKey.Key,
                        InputLineEndNames().value(settings.LineEnd).toLatin1());
    changes.WriteString(RepeatKey.Section, RepeatKey.Key, QByteArray::number(settings.RepeatMs));
    QList<TProfileEntry> lines;
    const QStringList history = settings.History.mid(
        std::max<qsizetype>(0, settings.History.size() - TInputLineSettings::MaxHistory));
    for (const QString& line : history)
        lines.append(
            {"Line" + QByteArray::number(lines.size()), StringToCp1252(line, TUnmappable::Drop)});
    changes.WriteSection(HistorySection, lines);
    TProfileFile file(fileName);
    return file.Commit(changes);
}
