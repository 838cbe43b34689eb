#include "platform/TProfileChanges.h"

#include "platform/ProfileSyntax.h"

#include <QSet>

using namespace ProfileSyntax;

namespace {

void SetEntry(QList<TProfileEntry>& entries, const QByteArray& key, const QByteArray& value) {
    for (TProfileEntry& entry : entries) {
        if (SameName(entry.Key, key)) {
            entry = {key, value};
            return;
        }
    }
    entries.append({key, value});
}

QByteArray EntryLine(const TProfileEntry& entry) {
    return entry.Key + '=' + StoredValue(entry.Value) + "\r\n";
}

QByteArray SectionBlock(const QByteArray& name, const QList<TProfileEntry>& entries) {
    QByteArray block;
    AppendLine(block, '[' + name + ']');
    for (const TProfileEntry& entry : entries)
        block += EntryLine(entry);
    return block;
}

} // namespace

TProfileChanges::TSectionChange& TProfileChanges::ChangeOf(const QByteArray& section) {
    for (TSectionChange& change : FSections) {
        if (SameName(change.Name, section))
            return change;
    }
    FSections.append({section, false, {}});
    return FSections.last();
}

const TProfileChanges::TSectionChange* TProfileChanges::FindChange(QByteArrayView section) const {
    for (const TSectionChange& change : FSections) {
        if (SameName(change.Name, section))
            return &change;
    }
    return nullptr;
}

void TProfileChanges::WriteString(const QByteArray& section, const QByteArray& key,
                                  const QByteArray& value) {
    SetEntry(ChangeOf(section).Entries, key, value);
}

void TProfileChanges::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
    WriteString(section, key, QByteArray::number(value));
}

void TProfileChanges::WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries) {
    TSectionChange& change = ChangeOf(section);
    change.Replace = true;
    change.Entries = entries;
}

void TProfileChanges::EraseSection(const QByteArray& section) {
    WriteSection(section, {});
}

// One pass over the content. Keys to set are written over their line in the
// first section of their name; those not found go after that section's last
// non-empty line (blank lines at its end are held back until then). Every
// section to replace is dropped, its new block taking the place of the
// first one.
QByteArray TProfileChanges::AppliedTo(QByteArrayView content, bool* changed) const {
    QByteArray out;
    out.reserve(content.size() + content.count('\n') + 1024);
    QSet<const TSectionChange*> met;
    bool anyEffect = false;
    const TSectionChange* current = nullptr; // keys of this section are set
    bool dropping = false;
    QList<bool> written;
    QList<QByteArrayView> heldBlanks;

    const auto flushBlanks = [&] {
        for (const QByteArrayView blank : heldBlanks)
            AppendLine(out, blank);
        heldBlanks.clear();
    };
    const auto finishSection = [&] {
        if (current) {
            for (qsizetype i = 0; i < current->Entries.size(); ++i) {
                if (!written.at(i))
                    out += EntryLine(current->Entries.at(i));
            }
            current = nullptr;
        }
        flushBlanks();
    };

    ForEachLine(content, [&](QByteArrayView line) {
        line = WithoutCr(line);
        if (const auto name = SectionName(line)) {
            finishSection();
            dropping = false;
            const TSectionChange* change = FindChange(*name);
            const bool first = change && !met.contains(change);
            if (change)
                met.insert(change);
            if (change && change->Replace) {
                dropping = true;
                anyEffect = true;
                if (first && !change->Entries.isEmpty())
                    out += SectionBlock(change->Name, change->Entries);
                return true;
            }
            AppendLine(out, line);
            if (first) {
                current = change;
                written = QList<bool>(change->Entries.size(), false);
            }
            return true;
        }
        if (dropping)
            return true;
        if (!current) {
            AppendLine(out, line);
            return true;
        }
        if (Trimmed(line).isEmpty()) {
            heldBlanks.append(line);
            return true;
        }
        flushBlanks();
        for (qsizetype i = 0; i < current->Entries.size(); ++i) {
            if (!written.at(i) && IsKeyLine(line, current->Entries.at(i).Key)) {
                written[i] = true;
                out += EntryLine(current->Entries.at(i));
                return true;
            }
        }
        AppendLine(out, line);
        return true;
    });
    finishSection();

    for (const TSectionChange& change : FSections) {
        if (met.contains(&change))
            continue;
        if (!change.Replace)
            anyEffect = true;
        if (!change.Entries.isEmpty()) {
            out += SectionBlock(change.Name, change.Entries);
            anyEffect = true;
        }
    }
    for (const TSectionChange& change : FSections) {
        if (!change.Replace && met.contains(&change))
            anyEffect = true;
    }
    if (changed)
        *changed = anyEffect;
    return out;
}
