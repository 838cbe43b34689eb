#pragma once

#include <termios.h>

// The line parameters of a serial device in the device's own codes.
struct TLineSettings {
    int Baudrate = 9600; // bits per second, 300 to 115200
    int DataBits = 8;    // 5 to 8
    int StopBits = 0;    // 0 = 1 stop bit, 1 = 1.5, 2 = 2
    int Parity = 0;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

// The termios speed constant of a bit rate; 0 for a rate the line does not offer.
speed_t SpeedOfBaudrate(int baudrate);

// Turns Termios into a raw line with these parameters: receiver on, modem
// lines ignored for opening (CLOCAL), no flow control in either direction,
// no input parity check (the parity bit is still sent), break and parity
// errors read as plain bytes. False, with Termios untouched, when a
// parameter is out of range (4 data bits included).
bool BuildLineTermios(termios& termios, const TLineSettings& settings);
