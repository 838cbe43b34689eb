#include "platform/TProfileFile.h"

#include "platform/FileContent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <algorithm>
#include <climits>
#include <optional>

namespace {

// Files that could not be read in this run, with the reason. They are never
// written again while the program runs: a rewrite would put defaults in
// place of settings that were never seen. Reads can come from worker
// threads (a port opened by a download reads its device path).
class TUnreadableFiles {
public:
    struct TEntry {
        QString Reason;
        // The user was told that the file is left alone.
        bool Reported = false;
    };

    void Note(const QString& fileName, const QString& reason) {
        const QMutexLocker lock(&FLock);
        if (!FEntries.contains(fileName))
            FEntries.insert(fileName, {reason});
    }
    TEntry EntryFor(const QString& fileName) const {
        const QMutexLocker lock(&FLock);
        return FEntries.value(fileName);
    }
    // The reason, the first time it is asked for after the failure.
    QString TakeReasonToReport(const QString& fileName) {
        const QMutexLocker lock(&FLock);
        const auto entry = FEntries.find(fileName);
        if (entry == FEntries.end() || entry->Reported)
            return {};
        entry->Reported = true;
        return entry->Reason;
    }

private:
    mutable QMutex FLock;
    QHash<QString, TEntry> FEntries;
};

TUnreadableFiles& UnreadableFiles() {
    static TUnreadableFiles files;
    return files;
}

// The whole content; empty when the file is missing or cannot be read, the
// latter noted with its reason.
QByteArray ReadWholeFile(const QString& fileName) {
    TFileRead read = ReadRegularFile(fileName, TProfileFile::MaxFileSize);
    if (!read.Ok())
        UnreadableFiles().Note(fileName, read.Error);
    return std::move(read.Content);
}

// The file a write replaces: the end of a chain of symbolic links, so that
// the link stays a link.
QString LinkTarget(const QString& fileName) {
    QFileInfo info(fileName);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.filePath();
}

// The readers below work on views into the file's content: a read then
// costs one pass over the file and no copy per line, however large or
// binary the file is.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

QByteArrayView Trimmed(QByteArrayView text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && IsBlank(text.at(first)))
        ++first;
    while (last > first && IsBlank(text.at(last - 1)))
        --last;
    return text.sliced(first, last - first);
}

bool SameName(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// "[ Name ]" gives "Name"; anything else is no section header.
std::optional<QByteArrayView> SectionName(QByteArrayView line) {
    const QByteArrayView trimmed = Trimmed(line);
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return Trimmed(trimmed.sliced(1, close - 1));
}

// A "key = value" line; no key for a line without "=".
std::optional<QByteArrayView> KeyOf(QByteArrayView line) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return Trimmed(line.first(eq));
}

QByteArray ValueOf(QByteArrayView line) {
    QByteArrayView value = Trimmed(line.sliced(line.indexOf('=') + 1));
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.sliced(1, value.size() - 2);
    return value.first(std::min<qsizetype>(value.size(), TProfileFile::MaxValueLength))
        .toByteArray();
}

bool IsKeyLine(QByteArrayView line, QByteArrayView key) {
    const auto name = KeyOf(line);
    return name && SameName(*name, key);
}

// Calls Visit with each line of Content (without its line end) until Visit
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

// Calls Visit with each line of the first section named Section.
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
QByteArray StoredValue(QByteArray value) {
    value.replace('\n', ' ');
    const bool needsQuotes = !value.isEmpty() && (Trimmed(value).size() != value.size() ||
                                                  (value.startsWith('"') && value.endsWith('"')));
    return needsQuotes ? '"' + value + '"' : value;
}

QByteArrayView WithoutCr(QByteArrayView line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

QList<QByteArray> SplitLines(const QByteArray& content) {
    QList<QByteArray> lines;
    ForEachLine(content, [&](QByteArrayView line) {
        lines.append(WithoutCr(line).toByteArray());
        return true;
    });
    return lines;
}

void AppendLine(QByteArray& out, QByteArrayView line) {
    out += line;
    out += "\r\n";
}

// Room for the file rebuilt with CR LF line ends and a few more lines.
QByteArray OutputFor(const QByteArray& content) {
    QByteArray out;
    out.reserve(content.size() + content.count('\n') + 1024);
    return out;
}

// Empty when Info's file may be replaced; otherwise why not. An existing
// file that is no regular file or has no write permission is never
// replaced, also not by root, who could replace it.
QString RefusalToReplace(const QFileInfo& info) {
    const auto writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!info.exists())
        return {};
    if (!info.isFile())
        return QStringLiteral("Not a regular file");
    if (!(info.permissions() & writeBits))
        return QStringLiteral("The file is read-only");
    return {};
}

} // namespace

EProfileWriteError::EProfileWriteError(const QString& fileName, const QString& reason,
                                       bool knownUnreadable)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(fileName).toStdString()),
      FileName(fileName), Reason(reason), KnownUnreadable(knownUnreadable) {}

TProfileFile::TProfileFile(QString fileName) : FFileName(std::move(fileName)) {}

QString TProfileFile::ReadError() const {
    if (UnreadableFiles().EntryFor(FFileName).Reason.isEmpty())
        ReadWholeFile(FFileName);
    return UnreadableFiles().EntryFor(FFileName).Reason;
}

QString TProfileFile::ReadErrorToReport() const {
    ReadError();
    return UnreadableFiles().TakeReasonToReport(FFileName);
}

QByteArray TProfileFile::ReadString(const QByteArray& section, const QByteArray& key,
                                    const QByteArray& defaultValue) const {
    const QByteArray content = ReadWholeFile(FFileName);
    std::optional<QByteArray> value;
    ForEachLineOfSection(content, section, [&](QByteArrayView line) {
        if (IsKeyLine(line, key))
            value = ValueOf(line);
        return !value;
    });
    return value.value_or(defaultValue);
}

QList<TProfileEntry> TProfileFile::ReadSection(const QByteArray& section) const {
    const QByteArray content = ReadWholeFile(FFileName);
    QList<TProfileEntry> entries;
    ForEachLineOfSection(content, section, [&](QByteArrayView line) {
        if (const auto key = KeyOf(line))
            entries.append({key->toByteArray(), ValueOf(line)});
        return true;
    });
    return entries;
}

bool ParseProfileInteger(const QByteArray& text, int& value) {
    QByteArray digits = text.trimmed();
    bool negative = false;
    if (digits.startsWith('-') || digits.startsWith('+')) {
        negative = digits.startsWith('-');
        digits = digits.mid(1);
    }
    int base = 10;
    if (digits.startsWith("0x") || digits.startsWith("0X")) {
        base = 16;
        digits = digits.mid(2);
    } else if (digits.startsWith('$')) {
        base = 16;
        digits = digits.mid(1);
    }
    if (digits.isEmpty())
        return false;
    bool ok = false;
    const qlonglong parsed = digits.toLongLong(&ok, base);
    if (!ok || digits.startsWith('-') || digits.startsWith('+'))
        return false;
    const qlonglong signedValue = negative ? -parsed : parsed;
    if (signedValue < INT_MIN || signedValue > UINT_MAX)
        return false;
    value = static_cast<int>(static_cast<qint64>(signedValue));
    return true;
}

int TProfileFile::ReadInteger(const QByteArray& section, const QByteArray& key,
                              int defaultValue) const {
    int value = defaultValue;
    if (!ParseProfileInteger(ReadString(section, key, QByteArray()), value))
        return defaultValue;
    return value;
}

QList<QByteArray> TProfileFile::ReadLines() const {
    return SplitLines(ReadWholeFile(FFileName));
}

void TProfileFile::WriteLines(const QList<QByteArray>& lines) {
    qsizetype size = 0;
    for (const QByteArray& line : lines)
        size += line.size() + 2;
    QByteArray content;
    content.reserve(size);
    for (const QByteArray& line : lines)
        AppendLine(content, line);
    WriteContent(content);
}

void TProfileFile::RefuseIfUnreadable() const {
    const auto entry = UnreadableFiles().EntryFor(FFileName);
    if (!entry.Reason.isEmpty())
        throw EProfileWriteError(FFileName,
                                 QStringLiteral("The file could not be read: %1").arg(entry.Reason),
                                 entry.Reported);
}

QByteArray TProfileFile::ContentToRewrite() const {
    QByteArray content = ReadWholeFile(FFileName);
    RefuseIfUnreadable();
    return content;
}

void TProfileFile::WriteContent(const QByteArray& content) {
    RefuseIfUnreadable();
    const QFileInfo target(LinkTarget(FFileName));
    if (const QString refusal = RefusalToReplace(target); !refusal.isEmpty())
        throw EProfileWriteError(FFileName, refusal);
    // The per-user configuration directory may not exist yet.
    QDir().mkpath(QFileInfo(FFileName).absolutePath());
    if (const QString error = ReplaceFileAtomically(target.filePath(), content); !error.isEmpty())
        throw EProfileWriteError(FFileName, error);
}

// The file is rebuilt in one pass over views of its lines, so that a large
// file costs no allocation per line.
void TProfileFile::WriteString(const QByteArray& section, const QByteArray& key,
                               const QByteArray& value) {
    const QByteArray content = ContentToRewrite();
    const QByteArray entry = key + '=' + StoredValue(value) + "\r\n";
    QByteArray out = OutputFor(content);
    enum { BeforeSection, InSection, Written } state = BeforeSection;
    // New keys go after the section's last non-empty line.
    qsizetype appendAt = 0;
    ForEachLine(content, [&](QByteArrayView line) {
        line = WithoutCr(line);
        if (state != Written) {
            if (const auto name = SectionName(line)) {
                if (state == InSection) {
                    out.insert(appendAt, entry);
                    state = Written;
                } else if (SameName(*name, section)) {
                    state = InSection;
                    AppendLine(out, line);
                    appendAt = out.size();
                    return true;
                }
            } else if (state == InSection && IsKeyLine(line, key)) {
                out += entry;
                state = Written;
                return true;
            }
        }
        AppendLine(out, line);
        if (state == InSection && !Trimmed(line).isEmpty())
            appendAt = out.size();
        return true;
    });
    if (state == InSection) {
        out.insert(appendAt, entry);
    } else if (state == BeforeSection) {
        AppendLine(out, '[' + section + ']');
        out += entry;
    }
    WriteContent(out);
}

void TProfileFile::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
    WriteString(section, key, QByteArray::number(value));
}

void TProfileFile::WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries) {
    // Every section of that name goes, so that no stale key of a duplicate
    // section shows through afterwards.
    const QByteArray content = ContentToRewrite();
    QByteArray out = OutputFor(content);
    qsizetype firstSectionAt = -1;
    bool inSection = false;
    ForEachLine(content, [&](QByteArrayView line) {
        line = WithoutCr(line);
        if (const auto name = SectionName(line)) {
            inSection = SameName(*name, section);
            if (inSection && firstSectionAt < 0)
                firstSectionAt = out.size();
        }
        if (!inSection)
            AppendLine(out, line);
        return true;
    });
    if (firstSectionAt < 0 && entries.isEmpty()) {
        // Nothing to change; a file that cannot be written still reports it,
        // as the platform's erase would.
        if (const QString refusal = RefusalToReplace(QFileInfo(LinkTarget(FFileName)));
            !refusal.isEmpty())
            throw EProfileWriteError(FFileName, refusal);
        return;
    }
    if (!entries.isEmpty()) {
        QByteArray block;
        AppendLine(block, '[' + section + ']');
        for (const TProfileEntry& entry : entries)
            AppendLine(block, entry.Key + '=' + StoredValue(entry.Value));
        out.insert(firstSectionAt < 0 ? out.size() : firstSectionAt, block);
    }
    WriteContent(out);
}

void TProfileFile::EraseSection(const QByteArray& section) {
    WriteSection(section, {});
}
