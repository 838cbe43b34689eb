#pragma once

// The line syntax of a profile (INI) file, shared by its readers and
// writers. Readers work on views into the file's content: a read then costs
// one pass over the file and no copy per line, however large or binary the
// file is. Private to the profile layer.

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <optional>

namespace ProfileSyntax {

inline constexpr qsizetype MaxValueLength = 2047;

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline QByteArrayView Trimmed(QByteArrayView text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && IsBlank(text.at(first)))
        ++first;
    while (last > first && IsBlank(text.at(last - 1)))
        --last;
    return text.sliced(first, last - first);
}

inline bool SameName(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// "[ Name ]" gives "Name"; anything else is no section header.
inline std::optional<QByteArrayView> SectionName(QByteArrayView line) {
    const QByteArrayView trimmed = Trimmed(line);
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return Trimmed(trimmed.sliced(1, close - 1));
}

// A "key = value" line; no key for a line without "=".
inline std::optional<QByteArrayView> KeyOf(QByteArrayView line) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return Trimmed(line.first(eq));
}

// The value of a key line without its blanks and one pair of quotes, cut to
// MaxValueLength.
inline QByteArray ValueOf(QByteArrayView line) {
    QByteArrayView value = Trimmed(line.sliced(line.indexOf('=') + 1));
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.sliced(1, value.size() - 2);
    return value.first(std::min<qsizetype>(value.size(), MaxValueLength)).toByteArray();
}

inline bool IsKeyLine(QByteArrayView line, QByteArrayView key) {
    const auto name = KeyOf(line);
    return name && SameName(*name, key);
}

inline QByteArrayView WithoutCr(QByteArrayView line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// Calls Visit with each line of Content (without its LF) until Visit
// returns false.
template <typename Visit> void ForEachLine(QByteArrayView content, Visit visit) {
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        if (!visit(content.sliced(start, end - start)))
            return;
        start = end + 1;
    }
}

// Calls Visit with each line of the first section named Section until Visit
// returns false; the scan stops at that section's end.
template <typename Visit>
void ForEachLineOfSection(QByteArrayView content, QByteArrayView section, Visit visit) {
    bool inSection = false;
    ForEachLine(content, [&](QByteArrayView line) {
        if (const auto name = SectionName(line)) {
            if (inSection)
                return false;
            inSection = SameName(*name, section);
            return true;
        }
        return !inSection || visit(line);
    });
}

// A line break inside a value would split its entry into two lines, so each
// LF is stored as a blank. Values whose outer blanks or quotes would be lost
// on reading are quoted.
inline QByteArray StoredValue(QByteArray value) {
    value.replace('\n', ' ');
    const bool needsQuotes = !value.isEmpty() && (Trimmed(value).size() != value.size() ||
                                                  (value.startsWith('"') && value.endsWith('"')));
    return needsQuotes ? '"' + value + '"' : value;
}

inline void AppendLine(QByteArray& out, QByteArrayView line) {
    out += line;
    out += "\r\n";
}

} // namespace ProfileSyntax
