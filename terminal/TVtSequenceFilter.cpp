#include "terminal/TVtSequenceFilter.h"

#include <QList>

#include <cstring>

namespace {

constexpr char Esc = '\x1b';
constexpr char Bel = '\x07';
constexpr char Can = '\x18';
constexpr char Sub = '\x1a';

bool IsControl(char byte) {
    return static_cast<uchar>(byte) < 0x20;
}

} // namespace

void TVtSequenceFilter::Reset() {
    FState = TState::Ground;
    FSequence.clear();
    FTooLong = false;
    FStringEscape = false;
    FDim = FHidden = false;
}

void TVtSequenceFilter::Filter(const char* block, qsizetype length, QByteArray& out) {
    out.reserve(out.size() + length + 16);
    const char* next = block;
    const char* end = block + length;
    while (next < end) {
        if (FState == TState::Ground) {
            const auto* escape =
                static_cast<const char*>(std::memchr(next, Esc, static_cast<size_t>(end - next)));
            const char* stop = escape ? escape : end;
            out.append(next, stop - next);
            next = stop;
            if (escape) {
                FState = TState::Escape;
                FSequence = QByteArray(1, Esc);
                ++next;
            }
            continue;
        }
        const char byte = *next++;
        switch (FState) {
        case TState::Escape:
            EscapeByte(byte, out);
            break;
        case TState::Csi:
            CsiByte(byte, out);
            break;
        case TState::PassString:
        case TState::DropString: {
            const bool pass = FState == TState::PassString;
            if (FStringEscape) {
                FStringEscape = false;
                if (byte == '\\') {
                    if (pass)
                        out.append("\x1b\\", 2);
                    FState = TState::Ground;
                    break;
                }
                // ESC ends the string and starts a new sequence.
                FState = TState::Escape;
                FSequence = QByteArray(1, Esc);
                EscapeByte(byte, out);
                break;
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
            break;
        }
        case TState::Ground:
            break;
        }
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
