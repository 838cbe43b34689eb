#include "platform/TProfileFile.h"

#include "platform/FileContent.h"
#include "platform/ProfileSyntax.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <atomic>

#include <algorithm>
#include <climits>
#include <optional>

using namespace ProfileSyntax;

static_assert(TProfileFile::MaxValueLength == ProfileSyntax::MaxValueLength);

namespace {

std::atomic<quint64> ReplacementCount{0};

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

QList<QByteArray> SplitLines(const QByteArray& content) {
    QList<QByteArray> lines;
    ForEachLine(content, [&](QByteArrayView line) {
        lines.append(WithoutCr(line).toByteArray());
        return true;
    });
    return lines;
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

QString ProfileWriteErrorText(const QString& fileName) {
    return QStringLiteral("Unable to write to %1").arg(fileName);
}

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

TProfileSnapshot TProfileFile::Snapshot() const {
    return TProfileSnapshot(ReadWholeFile(FFileName));
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

bool TProfileFile::WriteLines(const QList<QByteArray>& lines) {
    FWriteError = {};
    qsizetype size = 0;
    for (const QByteArray& line : lines)
        size += line.size() + 2;
    QByteArray content;
    content.reserve(size);
    for (const QByteArray& line : lines)
        AppendLine(content, line);
    return WriteContent(content);
}

bool TProfileFile::Fail(const QString& reason, bool knownUnreadable) {
    FWriteError = {FFileName, reason, knownUnreadable};
    return false;
}

bool TProfileFile::WritableAfterReads() {
    const auto entry = UnreadableFiles().EntryFor(FFileName);
    if (entry.Reason.isEmpty())
        return true;
    return Fail(QStringLiteral("The file could not be read: %1").arg(entry.Reason), entry.Reported);
}

bool TProfileFile::WriteContent(const QByteArray& content) {
    if (!WritableAfterReads())
        return false;
    const QFileInfo target(LinkTarget(FFileName));
    if (const QString refusal = RefusalToReplace(target); !refusal.isEmpty())
        return Fail(refusal);
    // The per-user configuration directory may not exist yet.
    QDir().mkpath(QFileInfo(FFileName).absolutePath());
    if (const QString error = ReplaceFileAtomically(target.filePath(), content); !error.isEmpty())
        return Fail(error);
    ++ReplacementCount;
    return true;
}

bool TProfileFile::Commit(const TProfileChanges& changes) {
    FWriteError = {};
    if (changes.IsEmpty())
        return true;
    // The read notes a file that exists but cannot be read, which is then
    // refused.
    const QByteArray content = ReadWholeFile(FFileName);
    if (!WritableAfterReads())
        return false;
    bool changed = false;
    QByteArray out = changes.AppliedTo(content, &changed);
    if (!changed) {
        // Nothing to change; a file that cannot be written still reports it,
        // as the platform's erase would.
        if (const QString refusal = RefusalToReplace(QFileInfo(LinkTarget(FFileName)));
            !refusal.isEmpty())
            return Fail(refusal);
        return true;
    }
    return WriteContent(out);
}

quint64 TProfileFile::Replacements() {
    return ReplacementCount;
}

bool TProfileFile::WriteString(const QByteArray& section, const QByteArray& key,
                               const QByteArray& value) {
    TProfileChanges changes;
    changes.WriteString(section, key, value);
    return Commit(changes);
}

bool TProfileFile::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
    return WriteString(section, key, QByteArray::number(value));
}

bool TProfileFile::WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries) {
    TProfileChanges changes;
    changes.WriteSection(section, entries);
    return Commit(changes);
}

bool TProfileFile::EraseSection(const QByteArray& section) {
    return WriteSection(section, {});
}
