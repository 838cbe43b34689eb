#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The byte values and frames of the XMODEM family (XMODEM, XMODEM-1K,
// YMODEM), free of any line: building blocks and the YMODEM file header,
// checking blocks, and making a received name safe.
namespace Xmodem {

constexpr char SOH = 0x01; // a block of 128 bytes follows
constexpr char STX = 0x02; // a block of 1024 bytes follows
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char CRC_REQUEST = 'C';
constexpr char PAD = 0x1A; // fills the last block

// CRC-16 with polynomial 0x1021 and start value 0 (the XMODEM CRC).
quint16 Crc16(const char* data, qsizetype size);
// The 8-bit sum of the bytes.
quint8 Checksum(const char* data, qsizetype size);

// One block: SOH or STX by the data's size (128 or 1024, padded with Pad
// when shorter: PAD after file data, NUL in a YMODEM header), the number and
// its complement, the data, the CRC (high byte first) or the sum.
QByteArray BuildBlock(quint8 number, const QByteArray& data, int blockSize, bool crc,
                      char pad = PAD);

// The data of a checked block, or nothing when the complement or the check
// does not match. Frame is everything after SOH/STX.
std::optional<QByteArray> CheckBlock(const QByteArray& frame, int blockSize, bool crc,
                                     quint8& number);

// Block 0 of YMODEM: the name, a NUL, the size in decimal and the time of
// change in octal seconds; 128 bytes when it fits, else 1024. An empty
// name makes the header that ends a batch.
QByteArray BuildHeaderData(const QByteArray& name, qint64 size, const QDateTime& modified);

struct THeader {
    QByteArray RawName; // as the sender wrote it
    qint64 Size = -1;   // -1 when the header names none
    QDateTime Modified; // invalid when none
    bool EndOfBatch() const { return RawName.isEmpty(); }
};
THeader ParseHeaderData(const QByteArray& data);

// A received name reduced to a plain file name: the part after the last
// slash or backslash, without control characters, cut to MaxBytes of UTF-8.
// Empty when nothing usable is left ("", ".", "..").
QString SafeFileName(const QByteArray& rawName, int maxBytes = 250);

// The cancel sequence: eight CANs, then eight backspaces to wipe them from a
// shell that shows them.
QByteArray CancelSequence();

} // namespace Xmodem
