#pragma once

#include <array>
#include <cstdint>

// The serial line's parameters. Each enumeration is one byte; the ordinals
// are the line codes and the indexes of the display tables below, so their
// order is fixed.
enum TComPort : std::uint8_t {
    poCOM1, poCOM2, poCOM3, poCOM4, poCOM5, poCOM6, poCOM7, poCOM8, poCOM9, poCOM10
};
enum TBaudrate : std::uint8_t {
    br300, br600, br1200, br2400, br4800, br9600, br19200, br38400, br57600, br115200
};
enum TDataBits : std::uint8_t { db4, db5, db6, db7, db8 };
enum TStopBits : std::uint8_t { sb10, sb15, sb20 };
enum TParity : std::uint8_t { paNONE, paODD, paEVEN, paMARK, paSPACE };
// How the line holds back a side that cannot keep up: not at all, by the
// RTS and CTS lines, or by the XOFF and XON characters.
enum TFlowControl : std::uint8_t { fcNONE, fcRTSCTS, fcXONXOFF };

inline constexpr std::array<const char*, 10> ComPortNames = {
    "COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "COM9:", "COM10:"};
inline constexpr std::array<std::int32_t, 10> BaudrateValues = {
    300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr std::array<char, 5> ParityChars = {'N', 'O', 'E', 'M', 'S'};
inline constexpr std::array<char, 5> DatabitsChars = {'4', '5', '6', '7', '8'};
inline constexpr std::array<const char*, 3> StopBitsTexts = {"1", "1.5", "2"};

// The number of data bits a TDataBits stands for, 4 to 8.
constexpr int DataBitsCount(TDataBits bits) {
    return DatabitsChars[bits] - '0';
}
