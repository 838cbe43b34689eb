#include "platform/TProfileSnapshot.h"

#include "platform/ProfileSyntax.h"
#include "platform/TProfileFile.h"

#include <optional>

using namespace ProfileSyntax;

namespace {

// Lower-cases Name into Out, reusing Out's buffer.
void LowerInto(QByteArrayView name, QByteArray& out) {
    out.resize(name.size());
    char* to = out.data();
    for (const char c : name)
        *to++ = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

TProfileSnapshot::TProfileSnapshot(QByteArray content) : FContent(std::move(content)) {}

void TProfileSnapshot::IndexSections() const {
    FIndexed = true;
    const char* base = FContent.constData();
    TRange* open = nullptr;
    QByteArray lowered;
    ForEachLine(FContent, [&](QByteArrayView line) {
        if (line.isEmpty() || (line.front() != '[' && !IsBlank(line.front())))
            return true;
        const qsizetype lineStart = line.data() - base;
        if (const auto name = SectionName(line)) {
            if (open)
                open->End = lineStart;
            open = nullptr;
            LowerInto(*name, lowered);
            if (!FSections.contains(lowered)) {
                const qsizetype bodyStart = std::min(lineStart + line.size() + 1, FContent.size());
                open = &*FSections.insert(lowered, {bodyStart, FContent.size()});
            }
        }
        return true;
    });
}

QByteArrayView TProfileSnapshot::SectionBody(const QByteArray& section) const {
    if (!FIndexed)
        IndexSections();
    QByteArray lowered;
    LowerInto(section, lowered);
    const auto found = FSections.constFind(lowered);
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
