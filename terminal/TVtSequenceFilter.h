#pragma once

#include <QByteArray>

// Prepares received (already valid UTF-8) bytes for the VT engine, which
// parses them itself: sequences the engine cannot take are changed or
// dropped here, split anywhere across blocks.
// - A control sequence of more than MaxParameters parameters or
//   MaxSequenceBytes bytes is dropped whole (the engine's parameter table has
//   a fixed size and overflows).
// - CSI s and CSI u save and restore the cursor (as ESC 7 and ESC 8).
// - SOS, PM and APC strings are dropped up to their end.
// - C1 controls written as UTF-8 (U+0080 to U+009F) become their 7-bit
//   ESC forms first (the engine fails on some of them as text).
// - Mode 47 switches the alternate screen as 1047 does.
// - SGR dim (2, 22) and hidden (8, 28), which the engine does not keep, are
//   carried to it as the font number 10 + dim + 2 * hidden (fonts chosen by
//   the target itself are not used).
class TVtSequenceFilter {
public:
    static constexpr int MaxParameters = 15;
    static constexpr int MaxSequenceBytes = 256;
    // The font number of SGR 10-19 that carries dim and hidden.
    static constexpr int DimFont = 1;
    static constexpr int HiddenFont = 2;

    // The prepared bytes of Block, appended to Out.
    void Filter(const char* block, qsizetype length, QByteArray& out);
    void Reset();

private:
    enum class TState { Ground, Escape, Csi, PassString, DropString };
    static const char* GroundRunEnd(const char* from, const char* end);
    void Step(char byte, QByteArray& out);
    void StringByte(char byte, QByteArray& out);
    void EscapeByte(char byte, QByteArray& out);
    void CsiByte(char byte, QByteArray& out);
    void FinishCsi(QByteArray& out);
    void FinishSgr(QByteArray& out);

    TState FState = TState::Ground;
    QByteArray FSequence;
    bool FTooLong = false;
    // ESC came inside a string: the next byte may end it.
    bool FStringEscape = false;
    bool FDim = false;
    bool FHidden = false;
    // A block ended with the first byte of a possible C1 control.
    bool FPendingC1Lead = false;
};
