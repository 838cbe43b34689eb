#include "platform/MacroText.h"

QByteArray DecodeMacro(const QByteArray& text) {
    QByteArray result;
    result.reserve(text.size());
    bool inEscape = false;
    unsigned char value = 0;
    int digits = 0;
    for (const char c : text) {
        if (inEscape) {
            if (c >= '0' && c <= '9' && digits < 3) {
                value = static_cast<unsigned char>(value * 10 + (c - '0'));
                ++digits;
                continue;
            }
            result.append(static_cast<char>(value));
            inEscape = false;
        }
        if (c == '#') {
            inEscape = true;
            value = 0;
            digits = 0;
        } else {
            result.append(c);
        }
    }
    if (inEscape)
        result.append(static_cast<char>(value));
    return result;
}
