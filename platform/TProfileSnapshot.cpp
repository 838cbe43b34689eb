#include "platform/TProfileSnapshot.h"

#include "platform/ProfileSyntax.h"
#include "platform/TProfileFile.h"

#include <optional>

using namespace ProfileSyntax;

TProfileSnapshot::TProfileSnapshot(QByteArray content) : FContent(std::move(content)) {
    const char* base = FContent.constData();
    TRange* open = nullptr;
    ForEachLine(FContent, [&](QByteArrayView line) {
        const qsizetype lineStart = line.data() - base;
        if (const auto name = SectionName(line)) {
            if (open)
                open->End = lineStart;
            open = nullptr;
            const QByteArray lowered = name->toByteArray().toLower();
            if (!FSections.contains(lowered)) {
                const qsizetype bodyStart = std::min(lineStart + line.size() + 1, FContent.size());
                open = &*FSections.insert(lowered, {bodyStart, FContent.size()});
            }
        }
        return true;
    });
}

QByteArrayView TProfileSnapshot::SectionBody(const QByteArray& section) const {
    const auto found = FSections.constFind(section.toLower());
    if (found == FSections.cend())
        return {};
    return QByteArrayView(FContent).sliced(found->Begin, found->End - found->Begin);
}

QByteArray TProfileSnapshot::ReadString(const QByteArray& section, const QByteArray& key,
                                        const QByteArray& defaultValue) const {
    std::optional<QByteArray> value;
    ForEachLine(SectionBody(section), [&](QByteArrayView line) {
        if (IsKeyLine(line, key))
            value = ValueOf(line);
        return !value;
    });
    return value.value_or(defaultValue);
}

int TProfileSnapshot::ReadInteger(const QByteArray& section, const QByteArray& key,
                                  int defaultValue) const {
    int value = defaultValue;
    if (!ParseProfileInteger(ReadString(section, key, QByteArray()), value))
        return defaultValue;
    return value;
}

bool TProfileSnapshot::HasKey(const QByteArray& section, const QByteArray& key) const {
    bool found = false;
    ForEachLine(SectionBody(section), [&](QByteArrayView line) {
        found = IsKeyLine(line, key);
        return !found;
    });
    return found;
}

QList<TProfileEntry> TProfileSnapshot::ReadSection(const QByteArray& section) const {
    QList<TProfileEntry> entries;
    ForEachLine(SectionBody(section), [&](QByteArrayView line) {
        if (const auto key = KeyOf(line))
            entries.append({key->toByteArray(), ValueOf(line)});
        return true;
    });
    return entries;
}
