#pragma once

#include <QByteArray>
#include <QList>

// Decodes macro text into the bytes it stands for: "#" followed by up to
// three decimal digits is one byte (the number modulo 256, no digits giving
// 0); every other character stands for itself. Never fails.
QByteArray DecodeMacro(const QByteArray& text);

// One stretch of a macro as it is sent: Bytes go out in one write (none when
// empty), then the sender pauses PauseMs.
struct TMacroPiece {
    QByteArray Bytes;
    int PauseMs = 0;

    bool operator==(const TMacroPiece&) const = default;
};

// Cuts decoded macro bytes at their delay markers: ESC "T" followed by up to
// four decimal digits is a pause of that many milliseconds (0 to 9999, no
// digits giving 0), and the marker and its digits are never sent; a fifth
// digit is an ordinary byte again. Each piece holds the bytes before a
// marker and the marker's pause; the last piece the bytes after the last
// marker with no pause, left out when nothing follows that marker. Bytes
// without a marker give one piece, no bytes one empty piece.
QList<TMacroPiece> SplitAtDelays(const QByteArray& decoded);
