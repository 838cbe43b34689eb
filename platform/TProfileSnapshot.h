#pragma once

#include "platform/TProfileEntry.h"

#include <QByteArray>
#include <QHash>
#include <QList>

// The content of a profile file read once, for many reads of keys: each
// read searches only its section, found through an index built in one pass
// over the content on the first read. Reads follow the rules of
// TProfileFile.
class TProfileSnapshot {
public:
    explicit TProfileSnapshot(QByteArray content = {});

    // The value of Key in the first section named Section, cut to
    // TProfileFile::MaxValueLength; Default when the section or key is
    // missing.
    QByteArray ReadString(const QByteArray& section, const QByteArray& key,
                          const QByteArray& defaultValue) const;
    // The value as an integer (ParseProfileInteger); Default when missing or
    // not an integer.
    int ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const;
    // Whether the first section named Section holds Key.
    bool HasKey(const QByteArray& section, const QByteArray& key) const;
    // Every key line of the first section named Section, in file order.
    QList<TProfileEntry> ReadSection(const QByteArray& section) const;

private:
    struct TRange {
        qsizetype Begin = 0;
        qsizetype End = 0;
    };
    // The lines of the first section named Section, after its header.
    QByteArrayView SectionBody(const QByteArray& section) const;
    void IndexSections() const;

    QByteArray FContent;
    // Lower-case section name to its first section's body.
    mutable QHash<QByteArray, TRange> FSections;
    mutable bool FIndexed = false;
};
