#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The parameters, private marker, intermediates and final byte of one
// control sequence (CSI) or escape sequence.
struct TVtSequence {
    static constexpr int MaxParams = 32;
    static constexpr int MaxValue = 65535;
    // -1 for a parameter left out.
    int Params[MaxParams] = {};
    // Bit I: parameter I was joined to the one before it by ':'.
    quint32 SubParams = 0;
    int Count = 0;
    // '?', '>', '<', '=' or 0.
    char Marker = 0;
    // Up to two intermediate bytes (0x20 to 0x2F), 0 for none.
    char Intermediates[2] = {};
    char Final = 0;

    // Parameter Index, or Fallback when it is missing or left out.
    int Param(int index, int fallback) const {
        return index < Count && Params[index] >= 0 ? Params[index] : fallback;
    }
    // As Param, but 0 counts as left out (for counts and positions).
    int Count1(int index) const {
        const int value = Param(index, 1);
        return value == 0 ? 1 : value;
    }
    bool IsSub(int index) const { return index < 32 && (SubParams >> index & 1u); }
};

// What the parser found, in the order it found it.
class TVtParserSink {
public:
    virtual ~TVtParserSink() = default;
    // A run of printable ASCII (0x20 to 0x7E).
    virtual void PrintAscii(const char* text, qsizetype length) = 0;
    // One printable character beyond ASCII.
    virtual void PrintChar(char32_t ch) = 0;
    // A C0 control other than ESC, CAN and SUB.
    virtual void Execute(char control) = 0;
    // ESC, its intermediates and its final byte (C1 controls arrive as
    // their ESC forms).
    virtual void EscDispatch(const TVtSequence& sequence) = 0;
    virtual void CsiDispatch(const TVtSequence& sequence) = 0;
    // An operating system command; Text is cut at MaxOscBytes.
    virtual void OscDispatch(QByteArrayView text) = 0;
};

// The DEC/ECMA-48 state machine of a VT terminal's input, fed UTF-8 bytes
// split anywhere. Text is decoded as UTF-8: each maximal invalid part (a
// byte that cannot start or continue a sequence, an overlong form, a
// surrogate, a value past U+10FFFF, a sequence cut short) is one U+FFFD,
// and the byte that cut a sequence short counts anew. U+0080 to U+009F are
// the C1 controls (bytes 0x80 to 0x9F on their own are invalid UTF-8). Sequences are bounded:
// parameters past MaxParams are ignored, values are clamped, an OSC keeps MaxOscBytes and consumes
// the rest; DCS, SOS, PM and APC strings are consumed unseen.
class TVtParser {
public:
    static constexpr qsizetype MaxOscBytes = 4096;

    explicit TVtParser(TVtParserSink& sink) : FSink(sink) {}

    void Feed(const char* bytes, qsizetype length);
    void Reset();

private:
    enum class TState {
        Ground,
        Escape,
        EscapeIntermediate,
        CsiEntry,
        CsiParam,
        CsiIntermediate,
        CsiIgnore,
        OscString,
        IgnoreString,
    };

    const char* GroundRun(const char* from, const char* end);
    void Byte(uchar byte);
    void Lead(uchar byte);
    void CodePoint(char32_t ch);
    void C0(uchar byte);
    void C1(uchar control);
    void Enter(TState state);
    void EscapeByte(uchar byte);
    void CsiByte(uchar byte);
    void StringByte(uchar byte);
    void Collect(uchar byte);
    void ParamByte(uchar byte);
    void FinishOsc();

    TVtParserSink& FSink;
    TState FState = TState::Ground;
    TVtSequence FSequence;
    // More parameters came than fit: the rest are ignored.
    bool FParamOverflow = false;
    QByteArray FOsc;
    // ESC came inside a string: the next byte may end it.
    bool FStringEscape = false;
    // The UTF-8 sequence being decoded.
    char32_t FCode = 0;
    int FNeed = 0;
    // The range the next byte of the sequence must fall in.
    uchar FLower = 0x80;
    uchar FUpper = 0xBF;
};
