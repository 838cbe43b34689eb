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

namespace {

constexpr QByteArrayView DelayMarker("\x1bT");
constexpr int MaxDelayDigits = 4;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

QList<TMacroPiece> SplitAtDelays(const QByteArray& decoded) {
    QList<TMacroPiece> pieces;
    qsizetype at = 0;
    do {
        const qsizetype marker = decoded.indexOf(DelayMarker, at);
        if (marker < 0) {
            pieces.append({decoded.mid(at), 0});
            break;
        }
        TMacroPiece piece{decoded.mid(at, marker - at), 0};
        at = marker + DelayMarker.size();
        for (int digits = 0; digits < MaxDelayDigits && at < decoded.size() && IsDigit(decoded[at]);
             ++digits, ++at)
            piece.PauseMs = piece.PauseMs * 10 + (decoded[at] - '0');
        pieces.append(piece);
    } while (at < decoded.size());
    return pieces;
}
