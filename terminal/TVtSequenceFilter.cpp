#include "terminal/TVtSequenceFilter.h"

#include <QList>

#include <cstring>

namespace {

constexpr char Esc = '\x1b';
constexpr char Bel = '\x07';
constexpr char Can = '\x18';
constexpr char Sub = '\x1a';

// U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F in UTF-8.
constexpr char C1Lead = '\xc2';

bool IsControl(char byte) {
    return static_cast<uchar>(byte) < 0x20;
}

bool IsC1Trail(char byte) {
    const auto ubyte = static_cast<uchar>(byte);
    return ubyte >= 0x80 && ubyte <= 0x9F;
}

} // namespace

void TVtSequenceFilter::Reset() {
    FState = TState::Ground;
    FSequence.clear();
    FTooLong = false;
    FStringEscape = false;
    FDim = FHidden = false;
    FPendingC1Lead = false;
}

void TVtSequenceFilter::Filter(const char* block, qsizetype length, QByteArray& out) {
    out.reserve(out.size() + length + 16);
    const char* next = block;
    const char* end = block + length;
    if (FPendingC1Lead && next < end) {
        FPendingC1Lead = false;
        if (IsC1Trail(*next))
            Step(Esc, out), Step(char(uchar(*next++) - 0x40), out);
        else
            Step(C1Lead, out);
    }
    while (next < end) {
        if (FState == TState::Ground) {
            const char* stop = GroundRunEnd(next, end);
            out.append(next, stop - next);
            next = stop;
            if (next == end)
                break;
        }
        const char byte = *next++;
        if (byte != C1Lead) {
            Step(byte, out);
        } else if (next == end) {
            FPendingC1Lead = true;
        } else if (IsC1Trail(*next)) {
            // A C1 control sent as UTF-8 acts as its 7-bit form, so that
            // every sequence passes the checks above before the engine.
            Step(Esc, out);
            Step(char(uchar(*next++) - 0x40), out);
        } else {
            Step(byte, out);
        }
    }
}

// Where a run of plain text ends: at ESC or at the lead byte of a C1
// control written as UTF-8.
const char* TVtSequenceFilter::GroundRunEnd(const char* from, const char* end) {
    for (const char* at = from; at < end; ++at)
        if (*at == Esc || *at == C1Lead)
            return at;
    return end;
}

void TVtSequenceFilter::Step(char byte, QByteArray& out) {
    switch (FState) {
    case TState::Ground:
        if (byte == Esc) {
            FState = TState::Escape;
            FSequence = QByteArray(1, Esc);
        } else {
            out.append(byte);
        }
        break;
    case TState::Escape:
        EscapeByte(byte, out);
        break;
    case TState::Csi:
        CsiByte(byte, out);
        break;
    case TState::PassString:
    case TState::DropString:
        StringByte(byte, out);
        break;
    }
}

void TVtSequenceFilter::StringByte(char byte, QByteArray& out) {
    const bool pass = FState == TState::PassString;
    if (FStringEscape) {
        FStringEscape = false;
        if (byte == '\\') {
            if (pass)
                out.append("\x1b\\", 2);
            FState = TState::Ground;
            return;
        }
        // ESC ends the string and starts a new sequence.
        FState = TState::Escape;
        FSequence = QByteArray(1, Esc);
        EscapeByte(byte, out);
        return;
    }
    if (byte == Esc) {
        FStringEscape = true;
    } else if (byte == Bel || byte == Can || byte == Sub) {
        if (pass || byte != Bel)
            out.append(byte);
        FState = TState::Ground;
    } else if (pass) {
        out.append(byte);
    }
}

// FSequence holds ESC and the intermediates so far.
void TVtSequenceFilter::EscapeByte(char byte, QByteArray& out) {
    const auto ubyte = static_cast<uchar>(byte);
    if (byte == Can || byte == Sub) {
        out.append(byte);
        FState = TState::Ground;
        return;
    }
    if (byte == Esc) {
        FSequence = QByteArray(1, Esc);
        return;
    }
    if (IsControl(byte)) {
        out.append(byte); // acts at once; the sequence goes on
        return;
    }
    if (ubyte < 0x30) {
        if (FSequence.size() < 8)
            FSequence.append(byte);
        return;
    }
    FState = TState::Ground;
    if (FSequence.size() == 1) {
        switch (byte) {
        case '[':
            FSequence.append(byte);
            FTooLong = false;
            FState = TState::Csi;
            return;
        case 'X':
        case '^':
        case '_':
            FStringEscape = false;
            FState = TState::DropString;
            return;
        case ']':
        case 'P':
            FStringEscape = false;
            FState = TState::PassString;
            break;
        case 'c':
            FDim = FHidden = false;
            break;
        default:
            break;
        }
    }
    out.append(FSequence);
    out.append(byte);
}

void TVtSequenceFilter::CsiByte(char byte, QByteArray& out) {
    const auto ubyte = static_cast<uchar>(byte);
    if (byte == Esc) {
        FState = TState::Escape;
        FSequence = QByteArray(1, Esc);
        return;
    }
    if (byte == Can || byte == Sub) {
        out.append(byte);
        FState = TState::Ground;
        return;
    }
    if (IsControl(byte)) {
        // Controls inside a sequence act at once.
        out.append(byte);
        return;
    }
    if (FSequence.size() >= MaxSequenceBytes)
        FTooLong = true;
    else
        FSequence.append(byte);
    if (ubyte >= 0x40 && ubyte <= 0x7E) {
        FinishCsi(out);
        FState = TState::Ground;
    }
}

void TVtSequenceFilter::FinishCsi(QByteArray& out) {
    const QByteArrayView body = QByteArrayView(FSequence).sliced(2);
    if (FTooLong || body.count(';') + body.count(':') >= MaxParameters)
        return;
    if (body == "s") {
        out.append("\x1b"
                   "7");
        return;
    }
    if (body == "u") {
        out.append("\x1b"
                   "8");
        return;
    }
    // The engine knows the alternate screen as 1047 and 1049 only.
    if (body == "?47h" || body == "?47l") {
        out.append("\x1b[?1047");
        out.append(body.back());
        return;
    }
    out.append(FSequence);
    if (body.endsWith('m') && (body.isEmpty() || static_cast<uchar>(body.front()) < 0x3C))
        FinishSgr(out);
}

// Follows SGR for dim and hidden (skipping the arguments of colours) and
// tells the engine the font that carries them.
void TVtSequenceFilter::FinishSgr(QByteArray& out) {
    const QList<QByteArray> params = FSequence.sliced(2).chopped(1).split(';');
    bool touched = false;
    for (qsizetype i = 0; i < params.size(); ++i) {
        const QByteArray& param = params.at(i);
        const int value = param.isEmpty() ? 0 : param.split(':').first().toInt();
        if ((value == 38 || value == 48 || value == 58) && !param.contains(':') &&
            i + 1 < params.size())
            i += params.at(i + 1) == "5" ? 2 : params.at(i + 1) == "2" ? 4 : 0;
        else if (value == 0)
            FDim = FHidden = false, touched = true;
        else if (value == 2 || value == 22)
            FDim = value == 2, touched = true;
        else if (value == 8 || value == 28)
            FHidden = value == 8, touched = true;
        else if (value >= 10 && value <= 19)
            touched = true;
    }
    if (touched)
        out.append("\x1b[" +
                   QByteArray::number(10 + (FDim ? DimFont : 0) + (FHidden ? HiddenFont : 0)) +
                   "m");
}
