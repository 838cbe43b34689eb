#include "tools/RecordFileMaker.h"

#include "tools/RecordCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int BytesPerRecord = 16;
const char HexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& text, unsigned char byte) {
    text += HexDigits[byte >> 4];
    text += HexDigits[byte & 0x0F];
}

void AppendHexBytes(std::string& text, const std::vector<unsigned char>& bytes) {
    for (const unsigned char byte : bytes)
        AppendHexByte(text, byte);
}

// Big-endian address bytes of the given width.
void AppendAddress(std::vector<unsigned char>& bytes, std::uint64_t address, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(address >> shift));
}

std::vector<unsigned char> SampleData(std::uint64_t address) {
    std::vector<unsigned char> data(BytesPerRecord);
    for (int i = 0; i < BytesPerRecord; ++i)
        data[i] = SampleImageByte(address + i);
    return data;
}

void AppendSRecord(std::string& text, int type, int addressWidth, std::uint64_t address,
                   const std::vector<unsigned char>& data) {
    std::vector<unsigned char> bytes;
    bytes.push_back(static_cast<unsigned char>(addressWidth + data.size() + 1));
    AppendAddress(bytes, address, addressWidth);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(SRecordChecksum(bytes.data(), bytes.size()));
    text += 'S';
    text += static_cast<char>('0' + type);
    AppendHexBytes(text, bytes);
    text += "\r\n";
}

void AppendIntelHexRecord(std::string& text, int type, std::uint16_t address,
                          const std::vector<unsigned char>& data) {
    std::vector<unsigned char> bytes;
    bytes.push_back(static_cast<unsigned char>(data.size()));
    AppendAddress(bytes, address, 2);
    bytes.push_back(static_cast<unsigned char>(type));
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(IntelHexChecksum(bytes.data(), bytes.size()));
    text += ':';
    AppendHexBytes(text, bytes);
    text += "\r\n";
}

} // namespace

unsigned char SampleImageByte(std::uint64_t address) {
    return static_cast<unsigned char>(address * 131 + (address >> 8) * 3 + (address >> 16) * 5 + 7);
}

std::string MakeSRecordText(long long dataRecords, RecordFileSummary* summary) {
    dataRecords = std::max(dataRecords, 0LL);
    const std::uint64_t imageSize = static_cast<std::uint64_t>(dataRecords) * BytesPerRecord;
    int dataType = 1;
    if (imageSize > 0x1000000)
        dataType = 3;
    else if (imageSize > 0x10000)
        dataType = 2;
    const int addressWidth = dataType + 1;
    const int endType = 10 - dataType; // S9 ends S1, S8 ends S2, S7 ends S3

    std::string text;
    text.reserve(static_cast<std::size_t>(dataRecords + 2) * (2 + 2 * (addressWidth + 18)));
    const std::string header = "SAMPLE";
    AppendSRecord(text, 0, 2, 0, std::vector<unsigned char>(header.begin(), header.end()));
    for (long long record = 0; record < dataRecords; ++record) {
        const std::uint64_t address = static_cast<std::uint64_t>(record) * BytesPerRecord;
        AppendSRecord(text, dataType, addressWidth, address, SampleData(address));
    }
    AppendSRecord(text, endType, addressWidth, 0, {});
    if (summary)
        *summary = {dataRecords + 2, dataRecords + 2, static_cast<long long>(imageSize)};
    return text;
}

std::string MakeIntelHexText(long long dataRecords, RecordFileSummary* summary) {
    dataRecords = std::max(dataRecords, 0LL);
    std::string text;
    text.reserve(static_cast<std::size_t>(dataRecords + 1) * 45);
    long long records = 0;
    std::uint64_t segment = 0;
    for (long long record = 0; record < dataRecords; ++record) {
        const std::uint64_t address = static_cast<std::uint64_t>(record) * BytesPerRecord;
        if (address >> 16 != segment) {
            segment = address >> 16;
            std::vector<unsigned char> upper;
            AppendAddress(upper, segment, 2);
            AppendIntelHexRecord(text, 4, 0, upper);
            ++records;
        }
        AppendIntelHexRecord(text, 0, static_cast<std::uint16_t>(address), SampleData(address));
        ++records;
    }
    AppendIntelHexRecord(text, 1, 0, {});
    ++records;
    if (summary)
        *summary = {records, records, dataRecords * BytesPerRecord};
    return text;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}
