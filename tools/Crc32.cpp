#include "tools/Crc32.h"

#include <array>
#include <cstring>

namespace {

// Eight tables, so that eight bytes are folded in per step.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

CrcTables MakeTables() {
    CrcTables tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        tables[0][i] = value;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int t = 1; t < 8; ++t)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
    return tables;
}

const CrcTables Tables = MakeTables();

} // namespace

void Crc32::Update(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t state = FState;
    while (count >= 8) {
        const std::uint32_t low =
            state ^ (bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24);
        state = Tables[7][low & 0xFF] ^ Tables[6][(low >> 8) & 0xFF] ^
                Tables[5][(low >> 16) & 0xFF] ^ Tables[4][low >> 24] ^ Tables[3][bytes[4]] ^
                Tables[2][bytes[5]] ^ Tables[1][bytes[6]] ^ Tables[0][bytes[7]];
        bytes += 8;
        count -= 8;
    }
    while (count-- > 0)
        state = Tables[0][(state ^ *bytes++) & 0xFF] ^ (state >> 8);
    FState = state;
}
