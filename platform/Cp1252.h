#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// The Western single-byte code page (Windows-1252): how stored bytes are
// drawn and how typed characters map back to bytes. Bytes the code page
// leaves undefined (81h, 8Dh, 8Fh, 90h, 9Dh) stand for the C1 control of the
// same value, so every byte has a character and round-trips.
QChar Cp1252ToUnicode(unsigned char byte);
// The byte for a character, or -1 when the code page has none.
int UnicodeToCp1252(QChar ch);
QString Cp1252ToString(const QByteArray& bytes);

// What becomes of a character the code page has no byte for.
enum class TUnmappable {
    Drop,     // left out: typed, pasted or stored text, where a stand-in would be sent or kept
    Question, // a "?" in its place: text that is only shown, searched or written to a log
};

// The bytes of Text in the code page, one per UTF-16 unit that has one; a
// unit without a byte is handled as Unmappable says. Unmapped, when given,
// is set to the number of characters without a byte, a surrogate pair
// counting once.
QByteArray StringToCp1252(QStringView text, TUnmappable unmappable, int* unmapped = nullptr);
