#include "tools/FloodStream.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int CounterDigits = 8;
constexpr int PatternStart = CounterDigits + 1;
constexpr int PatternLength = FloodStream::TextLineLength - PatternStart - 2;
constexpr int PrintableCount = '~' - '!' + 1;

} // namespace

FloodStream::FloodStream(FloodKind kind, std::uint64_t seed)
    // xorshift needs a state other than zero.
    : FKind(kind), FState(seed ^ 0x9E3779B97F4A7C15ull) {
    if (FState == 0)
        FState = 0x9E3779B97F4A7C15ull;
}

void FloodStream::Fill(char* out, std::size_t count) {
    if (FKind != FloodKind::Binary)
        FillText(out, count);
    else
        FillBinary(out, count);
    FPosition += count;
}

void FloodStream::MakeTextLine(std::uint64_t line) {
    FTextLine = line;
    std::uint64_t number = line;
    for (int i = CounterDigits - 1; i >= 0; --i) {
        FTextLineBytes[i] = static_cast<char>('0' + number % 10);
        number /= 10;
    }
    FTextLineBytes[CounterDigits] = ' ';
    for (int i = 0; i < PatternLength; ++i)
        FTextLineBytes[PatternStart + i] = static_cast<char>('!' + (line + i) % PrintableCount);
    FTextLineBytes[TextLineLength - 2] = '\r';
    FTextLineBytes[TextLineLength - 1] = '\n';
}

// The SGR parts at both ends take the place of the text line's first three
// pattern characters.
void FloodStream::MakeColourLine(std::uint64_t line) {
    static const char end[] = "\x1b[0m\r\n";
    MakeTextLine(line);
    char start[] = "\x1b[0;31m";
    start[5] = static_cast<char>('1' + line % 4);
    std::memmove(FTextLineBytes.data() + 7, FTextLineBytes.data(), PatternStart + PatternLength - 3);
    std::memcpy(FTextLineBytes.data(), start, 7);
    std::memcpy(FTextLineBytes.data() + ColourLineLength - 6, end, 6);
}

void FloodStream::FillText(char* out, std::size_t count) {
    const bool colour = FKind == FloodKind::Colour;
    const int length = colour ? ColourLineLength : TextLineLength;
    std::uint64_t position = FPosition;
    while (count > 0) {
        const std::uint64_t line = position / length;
        const std::size_t column = position % length;
        if (line != FTextLine)
            colour ? MakeColourLine(line) : MakeTextLine(line);
        const std::size_t piece = std::min<std::size_t>(length - column, count);
        std::memcpy(out, FTextLineBytes.data() + column, piece);
        out += piece;
        count -= piece;
        position += piece;
    }
}

std::uint64_t FloodStream::NextWord() {
    FState ^= FState >> 12;
    FState ^= FState << 25;
    FState ^= FState >> 27;
    return FState * 0x2545F4914F6CDD1Dull;
}

void FloodStream::FillBinary(char* out, std::size_t count) {
    const auto takeByte = [this]() {
        const char byte = static_cast<char>(FWord >> 56);
        FWord <<= 8;
        --FWordBytesLeft;
        return byte;
    };
    while (count > 0 && FWordBytesLeft > 0) {
        *out++ = takeByte();
        --count;
    }
    while (count >= 8) {
        const std::uint64_t word = NextWord();
        for (int i = 0; i < 8; ++i)
            out[i] = static_cast<char>(word >> (56 - 8 * i));
        out += 8;
        count -= 8;
    }
    if (count > 0) {
        FWord = NextWord();
        FWordBytesLeft = 8;
        while (count-- > 0)
            *out++ = takeByte();
    }
}
