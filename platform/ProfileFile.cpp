#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace {

QByteArray ReadWholeFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// "[ Name ]" gives "Name"; anything else is no section header.
std::optional<QByteArray> SectionName(const QByteArray& line) {
    const QByteArray trimmed = line.trimmed();
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimmed.mid(1, close - 1).trimmed();
}

bool SameName(const QByteArray& a, const QByteArray& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QByteArray KeyOf(const QByteArray& line) {
    const qsizetype eq = line.indexOf('=');
    return eq < 0 ? QByteArray() : line.left(eq).trimmed();
}

QByteArray ValueOf(const QByteArray& line) {
    QByteArray value = line.mid(line.indexOf('=') + 1).trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

// Values whose outer blanks or quotes would be lost on reading are quoted.
QByteArray StoredValue(const QByteArray& value) {
    const bool needsQuotes =
        !value.isEmpty() && (value != value.trimmed() || (value.startsWith('"') && value.endsWith('"')));
    return needsQuotes ? '"' + value + '"' : value;
}

QList<QByteArray> SplitLines(const QByteArray& content) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        qsizetype stop = end;
        if (stop > start && content.at(stop - 1) == '\r')
            --stop;
        lines.append(content.mid(start, stop - start));
        start = end + 1;
    }
    return lines;
}

// Index of the first header line of Section, or -1.
qsizetype FindSection(const QList<QByteArray>& lines, const QByteArray& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines.at(i));
        if (name && SameName(*name, section))
            return i;
    }
    return -1;
}

// One past the last line that belongs to the section whose header is at Header.
qsizetype SectionEnd(const QList<QByteArray>& lines, qsizetype header) {
    qsizetype end = header + 1;
    while (end < lines.size() && !SectionName(lines.at(end)))
        ++end;
    return end;
}

} // namespace

EProfileWriteError::EProfileWriteError(const QString& fileName)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(fileName).toStdString()),
      FileName(fileName) {}

TProfileFile::TProfileFile(QString fileName) : FFileName(std::move(fileName)) {}

QByteArray TProfileFile::ReadString(const QByteArray& section, const QByteArray& key,
                                    const QByteArray& defaultValue) const {
    // Scans the raw content without building a line list: a huge or binary
    // file then costs one pass per read.
    const QByteArray content = ReadWholeFile(FFileName);
    bool inSection = false;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        const QByteArray line = content.mid(start, end - start);
        start = end + 1;
        if (const auto name = SectionName(line)) {
            if (inSection)
                break;
            inSection = SameName(*name, section);
        } else if (inSection && line.contains('=') && SameName(KeyOf(line), key)) {
            return ValueOf(line).left(MaxValueLength);
        }
    }
    return defaultValue;
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

int TProfileFile::ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const {
    int value = defaultValue;
    if (!ParseProfileInteger(ReadString(section, key, QByteArray()), value))
        return defaultValue;
    return value;
}

QList<QByteArray> TProfileFile::ReadLines() const { return SplitLines(ReadWholeFile(FFileName)); }

void TProfileFile::WriteLines(const QList<QByteArray>& lines) {
    const QFileInfo info(FFileName);
    // A read-only file stays untouched, also for root, who could replace it.
    const auto writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup |
                           QFileDevice::WriteOther;
    if (info.exists() && (!info.isFile() || !(info.permissions() & writeBits)))
        throw EProfileWriteError(FFileName);
    QDir().mkpath(info.absolutePath());
    QSaveFile file(FFileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EProfileWriteError(FFileName);
    QByteArray content;
    for (const QByteArray& line : lines)
        content += line + "\r\n";
    if (file.write(content) != content.size() || !file.commit())
        throw EProfileWriteError(FFileName);
}

void TProfileFile::WriteString(const QByteArray& section, const QByteArray& key,
                               const QByteArray& value) {
    QList<QByteArray> lines = ReadLines();
    const QByteArray entry = key + '=' + StoredValue(value);
    const qsizetype header = FindSection(lines, section);
    if (header < 0) {
        lines.append('[' + section + ']');
        lines.append(entry);
    } else {
        const qsizetype end = SectionEnd(lines, header);
        qsizetype insertAt = end;
        bool replaced = false;
        for (qsizetype i = header + 1; i < end; ++i) {
            if (lines.at(i).contains('=') && SameName(KeyOf(lines.at(i)), key)) {
                lines[i] = entry;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            // New keys go after the section's last non-empty line.
            while (insertAt > header + 1 && lines.at(insertAt - 1).trimmed().isEmpty())
                --insertAt;
            lines.insert(insertAt, entry);
        }
    }
    WriteLines(lines);
}

void TProfileFile::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
    WriteString(section, key, QByteArray::number(value));
}

void TProfileFile::EraseSection(const QByteArray& section) {
    QList<QByteArray> lines = ReadLines();
    const qsizetype header = FindSection(lines, section);
    if (header < 0) {
        // Nothing to erase; a file that cannot be written still reports it,
        // as the platform's erase would.
        const QFileInfo info(FFileName);
        if (info.exists() && !info.isWritable())
            throw EProfileWriteError(FFileName);
        return;
    }
    lines.erase(lines.begin() + header, lines.begin() + SectionEnd(lines, header));
    WriteLines(lines);
}
