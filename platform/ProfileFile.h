#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <stdexcept>

// A failed write of the profile file; what() is "Unable to write to <file>".
class EProfileWriteError : public std::runtime_error {
public:
    explicit EProfileWriteError(const QString& fileName);
    QString FileName;
};

// One "key=value" line of a section.
struct TProfileEntry {
    QByteArray Key;
    QByteArray Value;
};

// One profile (INI) file, read and written one key at a time and never kept
// open or cached. Sections and keys match without regard to letter case,
// blanks around keys and values are ignored, one pair of surrounding quotes
// is removed on reading; the first matching section and key win. Values are
// byte strings, stored as they are. Every write replaces the whole file
// atomically (temporary file, then rename) with CR LF line ends, so a failed
// or interrupted write leaves the old file intact. A line break inside a
// value is stored as a blank (it would split the entry).
class TProfileFile {
public:
    static constexpr int MaxValueLength = 2047;

    explicit TProfileFile(QString fileName);

    const QString& FileName() const { return FFileName; }

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
    // Changes the key in place, or appends it to its section, or appends the
    // section. Throws EProfileWriteError when the file cannot be written.
    void WriteString(const QByteArray& section, const QByteArray& key, const QByteArray& value);
    void WriteInteger(const QByteArray& section, const QByteArray& key, int value);
    // Replaces every section named Section by one holding Entries, in one
    // write: in the place of the first such section, else at the end. No
    // entries remove the section. Throws EProfileWriteError.
    void WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries);
    // Removes every section named Section with all its keys. Throws
    // EProfileWriteError.
    void EraseSection(const QByteArray& section);

    // The file's lines (without line ends); an empty list when it is missing.
    QList<QByteArray> ReadLines() const;
    // Replaces the file with these lines, each ending in CR LF.
    void WriteLines(const QList<QByteArray>& lines);

private:
    // Replaces the file atomically with Content; throws EProfileWriteError.
    void WriteContent(const QByteArray& content);

    QString FFileName;
};

// Parses an integer the way the profile file stores them; false when Text
// is not one.
bool ParseProfileInteger(const QByteArray& text, int& value);
