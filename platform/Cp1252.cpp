#include "platform/Cp1252.h"

#include <array>

namespace {

// Characters of bytes 80h to 9Fh; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

QChar Cp1252ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(HighControls[byte - 0x80]);
    return QChar(byte);
}

int UnicodeToCp1252(QChar ch) {
    const char16_t code = ch.unicode();
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return code;
    for (std::size_t i = 0; i < HighControls.size(); ++i) {
        if (HighControls[i] == code)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

QString Cp1252ToString(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes)
        *out++ = Cp1252ToUnicode(static_cast<unsigned char>(byte));
    return text;
}

QByteArray StringToCp1252(QStringView text, TUnmappable unmappable, int* unmapped) {
    QByteArray bytes;
    bytes.reserve(text.size());
    int missing = 0;
    for (const QChar ch : text) {
        const int byte = UnicodeToCp1252(ch);
        if (byte >= 0) {
            bytes += static_cast<char>(byte);
            continue;
        }
        if (!ch.isLowSurrogate())
            ++missing;
        if (unmappable == TUnmappable::Question)
            bytes += '?';
    }
    if (unmapped)
        *unmapped = missing;
    return bytes;
}
