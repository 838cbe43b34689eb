#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

enum class FloodKind { Text, Binary, Colour };

// The deterministic byte stream a flood sends.
// Text: lines of 70 printable characters and CR LF; each line starts with
// its number (8 digits, from 0, wrapping after 99999999) and a blank,
// followed by 61 characters from "!" to "~" whose start shifts by one each
// line.
// Colour: a colour log for a VT terminal, lines of 80 bytes: an SGR colour
// (one of four), the text line's number and blank, 58 characters as in
// Text, SGR 0 and CR LF.
// Binary: the bytes of a xorshift64* generator started from the seed, each
// 64-bit word from its most significant byte down.
class FloodStream {
public:
    static constexpr int TextLineLength = 72;
    static constexpr int ColourLineLength = 80;

    FloodStream(FloodKind kind, std::uint64_t seed);
    // Writes the next Count bytes of the stream to Out.
    void Fill(char* out, std::size_t count);
    std::uint64_t Position() const { return FPosition; }

private:
    void FillText(char* out, std::size_t count);
    void FillBinary(char* out, std::size_t count);
    void MakeTextLine(std::uint64_t line);
    void MakeColourLine(std::uint64_t line);
    std::uint64_t NextWord();

    FloodKind FKind;
    std::uint64_t FPosition = 0;
    std::uint64_t FState;
    std::uint64_t FWord = 0;
    int FWordBytesLeft = 0;
    std::uint64_t FTextLine = UINT64_MAX;
    std::array<char, ColourLineLength> FTextLineBytes{};
};
