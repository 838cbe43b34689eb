#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 as used by zlib, PNG and Ethernet (reflected polynomial
// 0xEDB88320, initial and final XOR 0xFFFFFFFF), computed piece by piece,
// so that a receiver can check a stream with any common tool.
class Crc32 {
public:
    void Update(const void* data, std::size_t count);
    std::uint32_t Value() const { return ~FState; }

private:
    std::uint32_t FState = 0xFFFFFFFFu;
};
