#pragma once

#include <cstdint>
#include <string>

// Writes sample download files: a deterministic data image cut into records
// of 16 bytes, each line ending in CR LF.

struct RecordFileSummary {
    long long Lines = 0;
    long long Records = 0;
    long long DataBytes = 0;
};

// The byte at an address of the sample image.
unsigned char SampleImageByte(std::uint64_t address);

// An S-Record file: an S0 header, DataRecords data records from address 0,
// and the end record. The address width grows with the image: S1 and S9 up
// to 64 KiB, S2 and S8 up to 16 MiB, S3 and S7 beyond.
std::string MakeSRecordText(long long dataRecords, RecordFileSummary* summary = nullptr);

// An Intel Hex file: DataRecords data records from address 0, an extended
// linear address record (type 04) before each 64 KiB segment above the
// first, and the end-of-file record.
std::string MakeIntelHexText(long long dataRecords, RecordFileSummary* summary = nullptr);

// Writes Text to the file at Path; false (with errno's text in Error) when
// it cannot be written completely.
bool WriteTextFile(const std::string& path, const std::string& text, std::string& error);
