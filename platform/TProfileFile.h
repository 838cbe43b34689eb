#pragma once

#include "platform/TProfileChanges.h"
#include "platform/TProfileEntry.h"
#include "platform/TProfileSnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>

// "Unable to write to <file>": the one line every caller shows when a
// profile file cannot be written, with the reason as the detail.
QString ProfileWriteErrorText(const QString& fileName);

// Why a write of a profile file failed.
struct TProfileWriteError {
    QString FileName;
    // The system's own words for why (for a message box's detail).
    QString Reason;
    // The file could not be read when the settings were loaded and the user
    // was told so (ReadErrorToReport): it is left alone, as the user knows.
    bool KnownUnreadable = false;

    QString Text() const { return ProfileWriteErrorText(FileName); }
};

// One profile (INI) file, read and written one key at a time and never kept
// open or cached. Sections and keys match without regard to letter case,
// blanks around keys and values are ignored, one pair of surrounding quotes
// is removed on reading; the first matching section and key win. Values are
// byte strings, stored as they are. A line break inside a value is stored
// as a blank (it would split the entry).
//
// Only a regular file of at most MaxFileSize bytes is read; a symbolic link
// is followed. A file that does not exist reads as empty. A file that exists
// but cannot be read (no permission, a FIFO, a device, a directory, too
// large, an I/O error) also reads as empty; ReadError() gives the reason.
// Such a file is not written through the object whose read failed (an
// object serves one action), and one that could not be read when the
// settings were loaded (ReadErrorToReport) is never written while the
// program runs: the settings in it are kept, not replaced by defaults.
//
// Every write replaces the whole file with CR LF line ends: a temporary file
// beside it is written, synced and closed, each step checked, and only then
// renamed over the file, so a write either lands whole or leaves the file
// byte for byte as it was (a full disk, a crash). The new file keeps the old
// one's permissions. Through a symbolic link, the link's target is replaced
// and the link stays; a dangling link's target is created.
class TProfileFile {
public:
    static constexpr int MaxValueLength = 2047;
    // A larger file is no settings file and is not read.
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

    explicit TProfileFile(QString fileName);

    const QString& FileName() const { return FFileName; }
    // Why the file cannot be read now; empty when it can be read or does
    // not exist.
    QString ReadError() const;
    // The check of the settings load at start: a file that cannot be read
    // now is never written for the rest of the run. Gives the reason to
    // tell the user, only the first time; refused writes then come as
    // KnownUnreadable.
    QString ReadErrorToReport() const;

    // The value of Key in Section, cut to MaxValueLength; Default when the
    // file, the section or the key is missing.
    QByteArray ReadString(const QByteArray& section, const QByteArray& key,
                          const QByteArray& defaultValue) const;
    // Every key line of the first section named Section, in file order, with
    // values read as ReadString reads them; empty when there is none. One
    // pass over the file however many keys the section holds.
    QList<TProfileEntry> ReadSection(const QByteArray& section) const;
    // The value as an integer: decimal, or hexadecimal after "0x", "0X" or
    // "$"; Default when missing or not an integer.
    int ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const;
    // Every write gives false when the file cannot be written; WriteError()
    // then says why, and the file is as it was.

    // Changes the key in place, or appends it to its section, or appends the
    // section.
    [[nodiscard]] bool WriteString(const QByteArray& section, const QByteArray& key,
                                   const QByteArray& value);
    [[nodiscard]] bool WriteInteger(const QByteArray& section, const QByteArray& key, int value);
    // Replaces every section named Section by one holding Entries, in one
    // write: in the place of the first such section, else at the end. No
    // entries remove the section.
    [[nodiscard]] bool WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries);
    // Removes every section named Section with all its keys.
    [[nodiscard]] bool EraseSection(const QByteArray& section);

    // The whole file read once, for many reads (empty when it is missing or
    // cannot be read).
    TProfileSnapshot Snapshot() const;
    // Applies every staged change in one replacement of the file; nothing is
    // written when no change has an effect.
    [[nodiscard]] bool Commit(const TProfileChanges& changes);
    // How many times a profile file was replaced in this run.
    static quint64 Replacements();

    // The file's lines (without line ends); an empty list when it is missing.
    QList<QByteArray> ReadLines() const;
    // Replaces the file with these lines, each ending in CR LF.
    [[nodiscard]] bool WriteLines(const QList<QByteArray>& lines);

    // Why the last write failed; empty after one that succeeded.
    const TProfileWriteError& WriteError() const { return FWriteError; }
    // Why a read through this object failed (the first); empty when none did.
    const QString& ReadFailure() const { return FReadFailure; }

private:
    // Notes the failure and gives false.
    bool Fail(const QString& reason, bool knownUnreadable = false);
    // The whole content; empty when the file is missing or cannot be read,
    // the latter kept in FReadFailure.
    QByteArray ReadWholeFile() const;
    // False, with the failure noted, when the file could not be read at the
    // load or by a read of this object.
    bool WritableAfterReads();
    // Replaces the file atomically with Content.
    bool WriteContent(const QByteArray& content);

    QString FFileName;
    TProfileWriteError FWriteError;
    // Why a read of this object failed (the first one); empty when none did.
    mutable QString FReadFailure;
};

// Parses an integer the way the profile file stores them; false when Text
// is not one.
bool ParseProfileInteger(const QByteArray& text, int& value);
