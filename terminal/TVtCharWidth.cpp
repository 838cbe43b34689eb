#include "terminal/TVtCharWidth.h"

#include <QChar>

#include <algorithm>
#include <iterator>

namespace {

struct TRange {
    char32_t First;
    char32_t Last;
};

// The wide ranges, sorted.
constexpr TRange Wide[] = {
    {0x1100, 0x115F},   {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3040, 0xA4CF},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsWide(char32_t ch) {
    const auto* range =
        std::upper_bound(std::begin(Wide), std::end(Wide), ch,
                         [](char32_t value, const TRange& r) { return value < r.First; });
    return range != std::begin(Wide) && ch <= std::prev(range)->Last;
}

} // namespace

int CharWidth(char32_t ch) {
    if (ch < 0x300 || ch == 0xFFFD)
        return 1;
    switch (QChar::category(ch)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        break;
    }
    return IsWide(ch) ? 2 : 1;
}
