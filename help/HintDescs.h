#pragma once

#include <array>

// One help topic: its heading (at most 23 characters) and its body text.
// Paragraphs in the texts are separated by LF CR pairs and lone CRs, the way
// the system writes line breaks in all its texts.
struct THintDesc {
    const char* Header;
    const char* Text;
};

inline constexpr int HintCount = 8;

extern const std::array<THintDesc, HintCount> HintDescs;
