#pragma once

#include <cstddef>
#include <string>

// Cuts received bytes into lines. A line ends at CR LF, at a lone CR or at
// a lone LF; the pair CR LF ends one line even when it arrives in two
// pieces. Lines longer than MaxLineLength keep their first bytes only.
class LineSplitter {
public:
    static constexpr std::size_t MaxLineLength = 1 << 20;

    // Takes one byte; true when it ended a line, which Line() then holds
    // until the next call.
    bool Push(char byte);
    const std::string& Line() const { return FLine; }
    // Forgets a partial line (the sender went away).
    void Reset();

private:
    std::string FLine;
    bool FLineComplete = false;
    bool FAfterCr = false;
};
