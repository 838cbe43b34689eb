#include "tools/RecordCheck.h"

#include <optional>
#include <vector>

namespace {

std::optional<int> HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return std::nullopt;
}

// The bytes that the hex digit pairs of Text stand for; nothing when a
// character is not a hex digit or a digit is left over.
std::optional<std::vector<unsigned char>> HexBytes(std::string_view text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto high = HexDigit(text[i]);
        const auto low = HexDigit(text[i + 1]);
        if (!high || !low)
            return std::nullopt;
        bytes.push_back(static_cast<unsigned char>(*high * 16 + *low));
    }
    return bytes;
}

unsigned ByteSum(const unsigned char* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

std::string_view WithoutTrailingBlanks(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

RecordCheck CheckIntelHex(std::string_view line) {
    RecordCheck check{RecordFormat::IntelHex, RecordStatus::Malformed, 0};
    const auto bytes = HexBytes(line.substr(1));
    // Count, two address bytes, type and checksum at least; the count byte
    // must match the data that follows.
    if (!bytes || bytes->size() < 5 || bytes->size() != std::size_t{(*bytes)[0]} + 5)
        return check;
    const std::size_t withoutChecksum = bytes->size() - 1;
    if (IntelHexChecksum(bytes->data(), withoutChecksum) != bytes->back()) {
        check.Status = RecordStatus::BadChecksum;
        return check;
    }
    check.Status = RecordStatus::Valid;
    const int recordType = (*bytes)[3];
    if (recordType == 0)
        check.DataBytes = (*bytes)[0];
    return check;
}

// Address length of each S-Record type; S4 is reserved (no known layout).
int SRecordAddressLength(int type) {
    switch (type) {
    case 0:
    case 1:
    case 5:
    case 9:
        return 2;
    case 2:
    case 6:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    default:
        return 0;
    }
}

RecordCheck CheckSRecord(std::string_view line) {
    RecordCheck check{RecordFormat::SRecord, RecordStatus::Malformed, 0};
    const int type = line[1] - '0';
    const auto bytes = HexBytes(line.substr(2));
    const int addressLength = SRecordAddressLength(type);
    // The count byte counts address, data and checksum.
    if (!bytes || bytes->size() < 2 || bytes->size() != std::size_t{(*bytes)[0]} + 1 ||
        (*bytes)[0] < addressLength + 1)
        return check;
    const std::size_t withoutChecksum = bytes->size() - 1;
    if (SRecordChecksum(bytes->data(), withoutChecksum) != bytes->back()) {
        check.Status = RecordStatus::BadChecksum;
        return check;
    }
    check.Status = RecordStatus::Valid;
    if (type >= 1 && type <= 3)
        check.DataBytes = (*bytes)[0] - addressLength - 1;
    return check;
}

} // namespace

unsigned char IntelHexChecksum(const unsigned char* bytes, std::size_t count) {
    return static_cast<unsigned char>(0x100 - (ByteSum(bytes, count) & 0xFF));
}

unsigned char SRecordChecksum(const unsigned char* bytes, std::size_t count) {
    return static_cast<unsigned char>(~ByteSum(bytes, count));
}

RecordCheck CheckRecordLine(std::string_view line) {
    line = WithoutTrailingBlanks(line);
    if (!line.empty() && line[0] == ':')
        return CheckIntelHex(line);
    if (line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9')
        return CheckSRecord(line);
    return {};
}
