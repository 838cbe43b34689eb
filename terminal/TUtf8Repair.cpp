#include "terminal/TUtf8Repair.h"

#include <cstring>

namespace {

const char Replacement[] = "\xEF\xBF\xBD";

} // namespace

bool TUtf8Repair::PassesUnchanged(const QByteArray& block) const {
    if (FNeed != 0)
        return false;
    for (const char ch : block) {
        if (static_cast<uchar>(ch) >= 0x80 || (ch == '\n' && BareLfReturns))
            return false;
    }
    return true;
}

void TUtf8Repair::Reset() {
    FHave = FNeed = 0;
    FLower = 0x80;
    FUpper = 0xBF;
}

void TUtf8Repair::Repair(const QByteArray& block, QByteArray& out) {
    out.reserve(out.size() + block.size() + 16);
    const auto* next = reinterpret_cast<const uchar*>(block.constData());
    const auto* end = next + block.size();
    while (next < end) {
        if (FNeed == 0) {
            // A run of ASCII goes over in one piece.
            const uchar* run = next;
            while (run < end && *run < 0x80 && !(*run == '\n' && BareLfReturns))
                ++run;
            if (run > next) {
                out.append(reinterpret_cast<const char*>(next), run - next);
                next = run;
                continue;
            }
            if (*next == '\n') {
                out.append("\r\n", 2);
                ++next;
                continue;
            }
            Lead(*next++, out);
        } else {
            const uchar byte = *next;
            if (byte < FLower || byte > FUpper) {
                // The sequence ends here; the byte is looked at anew.
                out.append(Replacement, 3);
                Reset();
                continue;
            }
            Continue(byte, out);
            ++next;
        }
    }
}

// The first byte of a sequence: its length and the range of the second
// byte, which rules out overlong forms, surrogates and values past U+10FFFF.
void TUtf8Repair::Lead(uchar byte, QByteArray& out) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        FNeed = 2;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        FNeed = 3;
        FLower = byte == 0xE0 ? 0xA0 : 0x80;
        FUpper = byte == 0xED ? 0x9F : 0xBF;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        FNeed = 4;
        FLower = byte == 0xF0 ? 0x90 : 0x80;
        FUpper = byte == 0xF4 ? 0x8F : 0xBF;
    } else {
        out.append(Replacement, 3);
        return;
    }
    FPending[0] = static_cast<char>(byte);
    FHave = 1;
}

void TUtf8Repair::Continue(uchar byte, QByteArray& out) {
    FPending[FHave++] = static_cast<char>(byte);
    FLower = 0x80;
    FUpper = 0xBF;
    if (FHave == FNeed) {
        AppendComplete(out);
        Reset();
    }
}

// The combining marks that are also wide (U+302A to U+302F, U+3099, U+309A)
// make the engine write outside its cells when a few follow one character:
// the two kana sound marks go out as their spacing forms, the tone marks as
// U+FFFD.
void TUtf8Repair::AppendComplete(QByteArray& out) const {
    const auto second = static_cast<uchar>(FPending[1]);
    const auto third = static_cast<uchar>(FPending[2]);
    if (FNeed == 3 && static_cast<uchar>(FPending[0]) == 0xE3) {
        if (second == 0x80 && third >= 0xAA && third <= 0xAF) {
            out.append(Replacement, 3);
            return;
        }
        if (second == 0x82 && (third == 0x99 || third == 0x9A)) {
            out.append("\xe3\x82");
            out.append(static_cast<char>(third + 2));
            return;
        }
    }
    out.append(FPending, FHave);
}
