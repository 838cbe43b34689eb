#pragma once

#include <cstddef>
#include <string_view>

// Checks of the two record formats a boot loader accepts line by line:
// Intel Hex (":" LL AAAA TT data CC, CC making the sum of all bytes zero)
// and Motorola S-Record ("S" type, count, address, data, checksum being the
// ones' complement of the sum of count, address and data). Any other line
// is plain text.

enum class RecordFormat { PlainText, IntelHex, SRecord };
enum class RecordStatus { Valid, BadChecksum, Malformed };

struct RecordCheck {
    RecordFormat Format = RecordFormat::PlainText;
    RecordStatus Status = RecordStatus::Valid;
    // Loadable data bytes of a valid data record (Intel type 00, S1 to S3).
    int DataBytes = 0;
};

// Two's complement of the sum of the bytes: the Intel Hex checksum.
unsigned char IntelHexChecksum(const unsigned char* bytes, std::size_t count);
// Ones' complement of the sum of the bytes: the S-Record checksum.
unsigned char SRecordChecksum(const unsigned char* bytes, std::size_t count);

// Classifies one line (without its line end; trailing blanks and tabs are
// ignored): ":" starts an Intel Hex record, "S0" to "S9" an S-Record.
RecordCheck CheckRecordLine(std::string_view line);
