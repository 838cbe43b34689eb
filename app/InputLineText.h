#pragma once

#include <QByteArray>
#include <QString>

// What the input line below the pane sends: text with escapes, or bytes
// written in hexadecimal.
enum class TInputFormat : int {
    // Characters through the Western code page; \xHH is the byte HH, \r CR,
    // \n LF, \t TAB, \\ a backslash.
    Text,
    // Two hex digits a byte, "48 65 6C" or "48656C"; blanks separate groups,
    // each group an even number of digits.
    Hex,
};
enum class TLineEnd : int { None, CR, LF, CRLF };

struct TInputBytes {
    QByteArray Bytes;
    // Empty when Text was well formed; otherwise what is wrong and where,
    // and Bytes is empty.
    QString Error;
};

TInputBytes ParseInputLine(const QString& text, TInputFormat format);
QByteArray LineEndBytes(TLineEnd end);
