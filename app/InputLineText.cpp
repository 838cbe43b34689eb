#include "app/InputLineText.h"

#include "platform/Cp1252.h"

#include <QStringList>

namespace {

int HexValue(QChar ch) {
    const char c = ch.toLatin1();
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

TInputBytes Failure(const QString& error) {
    return {{}, error};
}

TInputBytes ParseHex(const QString& text) {
    TInputBytes result;
    for (const QString& group : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (group.size() % 2 != 0)
            return Failure(QStringLiteral("odd number of hex digits in '%1'").arg(group));
        for (qsizetype i = 0; i < group.size(); i += 2) {
            const int high = HexValue(group.at(i));
            const int low = HexValue(group.at(i + 1));
            if (high < 0 || low < 0)
                return Failure(QStringLiteral("'%1' is no hex digit")
                                   .arg(high < 0 ? group.at(i) : group.at(i + 1)));
            result.Bytes.append(char(high * 16 + low));
        }
    }
    return result;
}

// The byte of the escape starting after the backslash at text[at]; -1 with
// Error set for a bad one. At moves past the escape.
int EscapedByte(const QString& text, qsizetype& at, QString& error) {
    if (at >= text.size()) {
        error = QStringLiteral("a backslash at the end: write \\\\ for one");
        return -1;
    }
    const QChar kind = text.at(at++);
    switch (kind.toLatin1()) {
    case 'r':
        return '\r';
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case '\\':
        return '\\';
    case 'x': {
        const int high = at < text.size() ? HexValue(text.at(at)) : -1;
        const int low = at + 1 < text.size() ? HexValue(text.at(at + 1)) : -1;
        if (high < 0 || low < 0) {
            error = QStringLiteral("\\x needs two hex digits: '%1'").arg(text.mid(at - 2, 4));
            return -1;
        }
        at += 2;
        return high * 16 + low;
    }
    default:
        error = QStringLiteral("unknown escape '\\%1'").arg(kind);
        return -1;
    }
}

TInputBytes ParseText(const QString& text) {
    TInputBytes result;
    qsizetype at = 0;
    while (at < text.size()) {
        const QChar ch = text.at(at++);
        if (ch == QLatin1Char('\\')) {
            QString error;
            const int byte = EscapedByte(text, at, error);
            if (byte < 0)
                return Failure(error);
            result.Bytes.append(char(byte));
            continue;
        }
        const int byte = UnicodeToCp1252(ch);
        if (byte < 0)
            return Failure(QStringLiteral("'%1' has no byte in the Western code page").arg(ch));
        result.Bytes.append(char(byte));
    }
    return result;
}

} // namespace

TInputBytes ParseInputLine(const QString& text, TInputFormat format) {
    return format == TInputFormat::Hex ? ParseHex(text) : ParseText(text);
}

QByteArray LineEndBytes(TLineEnd end) {
    switch (end) {
    case TLineEnd::None:
        return {};
    case TLineEnd::CR:
        return "\r";
    case TLineEnd::LF:
        return "\n";
    case TLineEnd::CRLF:
        return "\r\n";
    }
    return {};
}
