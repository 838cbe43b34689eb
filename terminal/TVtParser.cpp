#include "terminal/TVtParser.h"

#include <algorithm>

namespace {

constexpr uchar Esc = 0x1B;
constexpr uchar Bel = 0x07;
constexpr uchar Can = 0x18;
constexpr uchar Sub = 0x1A;
constexpr uchar Del = 0x7F;
constexpr char32_t Replacement = 0xFFFD;

bool IsPrintableAscii(uchar byte) {
    return byte >= 0x20 && byte < Del;
}

bool IsIntermediate(uchar byte) {
    return byte >= 0x20 && byte <= 0x2F;
}

bool IsFinal(uchar byte) {
    return byte >= 0x40 && byte <= 0x7E;
}

void AppendUtf8(QByteArray& out, char32_t ch) {
    if (ch < 0x80) {
        out.append(char(ch));
    } else if (ch < 0x800) {
        out.append(char(0xC0 | ch >> 6));
        out.append(char(0x80 | (ch & 0x3F)));
    } else if (ch < 0x10000) {
        out.append(char(0xE0 | ch >> 12));
        out.append(char(0x80 | (ch >> 6 & 0x3F)));
        out.append(char(0x80 | (ch & 0x3F)));
    } else {
        out.append(char(0xF0 | ch >> 18));
        out.append(char(0x80 | (ch >> 12 & 0x3F)));
        out.append(char(0x80 | (ch >> 6 & 0x3F)));
        out.append(char(0x80 | (ch & 0x3F)));
    }
}

} // namespace

void TVtParser::Reset() {
    Enter(TState::Ground);
    FOsc.clear();
    FNeed = 0;
    FLower = 0x80;
    FUpper = 0xBF;
}

void TVtParser::Feed(const char* bytes, qsizetype length) {
    const char* next = bytes;
    const char* end = bytes + length;
    while (next < end) {
        if (FState == TState::Ground && FNeed == 0) {
            next = GroundRun(next, end);
            if (next == end)
                break;
        }
        Byte(static_cast<uchar>(*next++));
    }
}

// Hands runs of printable ASCII to the sink whole and executes the plain
// controls between them; stops at anything else.
const char* TVtParser::GroundRun(const char* from, const char* end) {
    const char* at = from;
    while (at < end) {
        const auto byte = static_cast<uchar>(*at);
        if (IsPrintableAscii(byte)) {
            const char* run = at;
            while (at < end && IsPrintableAscii(static_cast<uchar>(*at)))
                ++at;
            FSink.PrintAscii(run, at - run);
        } else if (byte < 0x20 && byte != Esc && byte != Can && byte != Sub) {
            FSink.Execute(static_cast<char>(byte));
            ++at;
        } else {
            break;
        }
    }
    return at;
}

void TVtParser::Byte(uchar byte) {
    if (FNeed > 0) {
        const bool fits = byte >= FLower && byte <= FUpper;
        FLower = 0x80;
        FUpper = 0xBF;
        if (fits) {
            FCode = FCode << 6 | (byte & 0x3F);
            if (--FNeed == 0)
                CodePoint(FCode);
            return;
        }
        // Cut short: one replacement, and the byte is looked at anew.
        FNeed = 0;
        CodePoint(Replacement);
    }
    if (byte >= 0x80) {
        Lead(byte);
        return;
    }
    if (byte == Can || byte == Sub) {
        Enter(TState::Ground);
        return;
    }
    switch (FState) {
    case TState::OscString:
    case TState::IgnoreString:
        StringByte(byte);
        return;
    default:
        break;
    }
    if (byte == Esc) {
        Enter(TState::Escape);
        return;
    }
    if (byte < 0x20) {
        // Controls inside a sequence act at once; the sequence goes on.
        FSink.Execute(static_cast<char>(byte));
        return;
    }
    if (byte == Del)
        return;
    switch (FState) {
    case TState::Ground:
        FSink.PrintAscii(reinterpret_cast<const char*>(&byte), 1);
        break;
    case TState::Escape:
    case TState::EscapeIntermediate:
        EscapeByte(byte);
        break;
    default:
        CsiByte(byte);
        break;
    }
}

// The first byte of a sequence: its length and the range of the second
// byte, which rules out overlong forms, surrogates and values past U+10FFFF.
void TVtParser::Lead(uchar byte) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        FNeed = 1;
        FCode = byte & 0x1F;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        FNeed = 2;
        FCode = byte & 0x0F;
        FLower = byte == 0xE0 ? 0xA0 : 0x80;
        FUpper = byte == 0xED ? 0x9F : 0xBF;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        FNeed = 3;
        FCode = byte & 0x07;
        FLower = byte == 0xF0 ? 0x90 : 0x80;
        FUpper = byte == 0xF4 ? 0x8F : 0xBF;
    } else {
        CodePoint(Replacement);
    }
}

void TVtParser::CodePoint(char32_t ch) {
    if (ch >= 0x80 && ch <= 0x9F) {
        C1(static_cast<uchar>(ch));
        return;
    }
    if (FState == TState::Ground)
        FSink.PrintChar(ch);
    else if (FState == TState::OscString && FOsc.size() < MaxOscBytes)
        AppendUtf8(FOsc, ch);
}

// A C1 control ends whatever sequence or string was open and acts as its
// ESC form.
void TVtParser::C1(uchar control) {
    if (FState == TState::OscString)
        FinishOsc();
    const uchar final = control - 0x40;
    Enter(TState::Escape);
    EscapeByte(final);
}

void TVtParser::Enter(TState state) {
    FState = state;
    FStringEscape = false;
    if (state == TState::Escape) {
        FSequence.Count = 0;
        FSequence.SubParams = 0;
        FSequence.Marker = 0;
        FSequence.Intermediates[0] = FSequence.Intermediates[1] = 0;
        FParamOverflow = false;
    } else if (state == TState::OscString) {
        FOsc.clear();
    }
}

void TVtParser::EscapeByte(uchar byte) {
    if (IsIntermediate(byte)) {
        Collect(byte);
        FState = TState::EscapeIntermediate;
        return;
    }
    if (FState == TState::Escape) {
        switch (byte) {
        case '[':
            FState = TState::CsiEntry;
            return;
        case ']':
            Enter(TState::OscString);
            return;
        case 'P':
        case 'X':
        case '^':
        case '_':
            Enter(TState::IgnoreString);
            return;
        default:
            break;
        }
    }
    FSequence.Final = static_cast<char>(byte);
    FState = TState::Ground;
    FSink.EscDispatch(FSequence);
}

void TVtParser::CsiByte(uchar byte) {
    const bool paramByte = (byte >= '0' && byte <= '9') || byte == ';' || byte == ':';
    const bool markerByte = byte >= 0x3C && byte <= 0x3F;
    switch (FState) {
    case TState::CsiEntry:
        if (markerByte) {
            FSequence.Marker = static_cast<char>(byte);
            FState = TState::CsiParam;
            return;
        }
        [[fallthrough]];
    case TState::CsiParam:
        if (paramByte) {
            ParamByte(byte);
            FState = TState::CsiParam;
            return;
        }
        if (markerByte) {
            FState = TState::CsiIgnore;
            return;
        }
        [[fallthrough]];
    case TState::CsiIntermediate:
        if (IsIntermediate(byte)) {
            Collect(byte);
            FState = TState::CsiIntermediate;
            return;
        }
        if (!IsFinal(byte)) {
            FState = TState::CsiIgnore;
            return;
        }
        FSequence.Final = static_cast<char>(byte);
        FState = TState::Ground;
        FSink.CsiDispatch(FSequence);
        return;
    default:
        if (IsFinal(byte))
            FState = TState::Ground;
        return;
    }
}

void TVtParser::ParamByte(uchar byte) {
    TVtSequence& seq = FSequence;
    if (seq.Count == 0) {
        seq.Params[0] = -1;
        seq.Count = 1;
    }
    if (byte == ';' || byte == ':') {
        if (seq.Count == TVtSequence::MaxParams) {
            FParamOverflow = true;
            return;
        }
        seq.Params[seq.Count] = -1;
        if (byte == ':')
            seq.SubParams |= 1u << seq.Count;
        ++seq.Count;
        return;
    }
    if (FParamOverflow)
        return;
    int& value = seq.Params[seq.Count - 1];
    value = std::min((value < 0 ? 0 : value) * 10 + (byte - '0'), TVtSequence::MaxValue);
}

void TVtParser::Collect(uchar byte) {
    char* slot = FSequence.Intermediates;
    if (slot[0] == 0)
        slot[0] = static_cast<char>(byte);
    else if (slot[1] == 0)
        slot[1] = static_cast<char>(byte);
}

// Inside OSC, DCS, SOS, PM and APC strings: BEL or ST ends them, ESC with
// anything else ends them and starts a new sequence.
void TVtParser::StringByte(uchar byte) {
    const bool osc = FState == TState::OscString;
    if (FStringEscape) {
        FStringEscape = false;
        if (osc)
            FinishOsc();
        if (byte == '\\') {
            Enter(TState::Ground);
            return;
        }
        Enter(TState::Escape);
        Byte(byte);
        return;
    }
    if (byte == Esc) {
        FStringEscape = true;
    } else if (byte == Bel) {
        if (osc)
            FinishOsc();
        Enter(TState::Ground);
    } else if (osc && byte >= 0x20 && FOsc.size() < MaxOscBytes) {
        FOsc.append(static_cast<char>(byte));
    }
}

void TVtParser::FinishOsc() {
    FSink.OscDispatch(FOsc);
    FOsc.clear();
}
