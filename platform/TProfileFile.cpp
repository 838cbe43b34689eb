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

// Files that could not be read when the settings were loaded, with the
// reason. The program runs on defaults it never saw in such a file, so it
// is never written again while the program runs: a rewrite would put those
// defaults in place of the settings in it. A read that fails later fails
// only the action that made it. Reads can come from worker threads (a port
// opened by a download reads its device path).
class TUnreadableFiles {
public:
    struct TEntry {
        QString Reason;
        // The user was told that the file is left alone.
        bool Reported = false;
    };

    // Notes the file with Reason, the first time; gives the reason to tell
    // the user, empty when it was given before.
    QString NoteAndTakeReasonToReport(const QString& fileName, const QString& reason) {
        const QMutexLocker lock(&FLock);
        auto entry = FEntries.find(fileName);
        if (entry == FEntries.end())
            entry = FEntries.insert(fileName, {reason});
        if (entry->Reported)
            return {};
        entry->Reported = true;
        return entry->Reason;
    }
    TEntry EntryFor(const QString& fileName) const {
        const QMutexLocker lock(&FLock);
        return FEntries.value(fileName);
    }

private:
    mutable QMutex FLock;
    QHash<QString, TEntry> FEntries;
};

TUnreadableFiles& UnreadableFiles() {
    static TUnreadableFiles files;
    return files;
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

QByteArray TProfileFile::ReadWholeFile() const {
    TFileRead read = ReadRegularFile(FFileName, MaxFileSize);
    if (!read.Ok() && FReadFailure.isEmpty())
        FReadFailure = read.Error;
    return std::move(read.Content);
}

QString TProfileFile::ReadError() const {
    const TFileRead read = ReadRegularFile(FFileName, MaxFileSize);
    return read.Ok() ? QString() : read.Error;
}

QString TProfileFile::ReadErrorToReport() const {
    if (const QString reason = ReadError(); !reason.isEmpty())
        return UnreadableFiles().NoteAndTakeReasonToReport(FFileName, reason);
    return {};
}

QByteArray TProfileFile::ReadString(const QByteArray& section, const QByteArray& key,
                                    const QByteArray& defaultValue) const {
    const QByteArray content = ReadWholeFile();
    std::optional<QByteArray> value;
    ForEachLineOfSection(content, section, [&](QByteArrayView line) {
        if (IsKeyLine(line, key))
            value = ValueOf(line);
        return !value;
    });
    return value.value_or(defaultValue);
}

QList<TProfileEntry> TProfileFile::ReadSection(const QByteArray& section) const {
    const QByteArray content = ReadWholeFile();
    QList<TProfileEntry> entries;
    ForEachLineOfSection(content, section, [&](QByteArrayView line) {
        if (const auto key = KeyOf(line))
            entries.append({key->toByteArray(), ValueOf(line)});
        return true;
    });
    return entries;
}

TProfileSnapshot TProfileFile::Snapshot() const {
    return TProfileSnapshot(ReadWholeFile());
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
    return SplitLines(ReadWholeFile());
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
    const QString unreadable = QStringLiteral("The file could not be read: %1");
    if (const auto atLoad = UnreadableFiles().EntryFor(FFileName); !atLoad.Reason.isEmpty())
        return Fail(unreadable.arg(atLoad.Reason), atLoad.Reported);
    if (!FReadFailure.isEmpty())
        return Fail(unreadable.arg(FReadFailure));
    return true;
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
    // A file that exists but cannot be read now is not written in this
    // action: the changes would replace content never seen.
    const QByteArray content = ReadWholeFile();
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
