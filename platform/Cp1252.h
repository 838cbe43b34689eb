#pragma once

#include <QByteArray>
#include <QString>

// The Western single-byte code page (Windows-1252): how stored bytes are
// drawn and how typed characters map back to bytes. Bytes the code page
// leaves undefined (81h, 8Dh, 8Fh, 90h, 9Dh) stand for the C1 control of the
// same value, so every byte has a character and round-trips.
QChar Cp1252ToUnicode(unsigned char byte);
// The byte for a character, or -1 when the code page has none.
int UnicodeToCp1252(QChar ch);
QString Cp1252ToString(const QByteArray& bytes);
