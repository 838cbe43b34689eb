#pragma once

#include "platform/TProfileEntry.h"

#include <QByteArray>
#include <QList>

// Writes of a profile file staged in memory, to be applied together in one
// replacement of the file (TProfileFile::Commit). Applying them gives the
// file that the same writes made one by one would give: a key is changed in
// place or appended to its section (after its last non-empty line), a new
// section is appended at the end, a replaced section takes the place of the
// first section of its name and every other section of that name goes.
class TProfileChanges {
public:
    void WriteString(const QByteArray& section, const QByteArray& key, const QByteArray& value);
    void WriteInteger(const QByteArray& section, const QByteArray& key, int value);
    // The section's keys become Entries; none remove the section.
    void WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries);
    void EraseSection(const QByteArray& section);

    bool IsEmpty() const { return FSections.isEmpty(); }
    // Content with the staged writes applied, in CR LF lines; Changed tells
    // whether any write had an effect (erasing an absent section has none).
    QByteArray AppliedTo(QByteArrayView content, bool* changed = nullptr) const;

private:
    struct TSectionChange {
        QByteArray Name;
        // The whole section is replaced by Entries; otherwise Entries are
        // single keys to set, in the order first staged.
        bool Replace = false;
        QList<TProfileEntry> Entries;
    };
    TSectionChange& ChangeOf(const QByteArray& section);
    const TSectionChange* FindChange(QByteArrayView section) const;

    QList<TSectionChange> FSections;
};
