#pragma once

#include <termios.h>

// The line parameters of a serial device in the device's own codes.
struct TLineSettings {
    int Baudrate = 9600; // bits per second: any rate above 0
    int DataBits = 8;    // 5 to 8
    int StopBits = 0;    // 0 = 1 stop bit, 1 = 1.5, 2 = 2
    int Parity = 0;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
    // The output lines while the device is open. With either low the lines
    // are left as they are at close (no HUPCL), so that a board that resets
    // on DTR is not reset when the program lets go of it.
    bool DTR = true;
    bool RTS = true;
    int FlowControl = 0; // 0 none, 1 RTS/CTS, 2 XON/XOFF in both directions
};

// The termios speed constant of a bit rate (B300 ... B4000000); 0 for a rate
// that has none and must be set as a number (see ApplyLineTermios).
speed_t SpeedOfBaudrate(int baudrate);

// Turns Termios into a raw line with these parameters: receiver on, modem
// lines ignored for opening (CLOCAL), the flow control asked for (none,
// CRTSCTS, or IXON and IXOFF),
// no input parity check (the parity bit is still sent), break and parity
// errors read as plain bytes. False, with Termios untouched, when a
// parameter is out of range (4 data bits included). A rate without a speed
// constant leaves the speed fields as they were: ApplyLineTermios sets it.
bool BuildLineTermios(termios& termios, const TLineSettings& settings);

// Applies Termios to the open tty Fd with the bit rate Baudrate: a rate with
// a speed constant through tcsetattr, any other through termios2 with
// BOTHER (the driver picks the nearest rate it can make). False with errno
// set when the driver refuses.
bool ApplyLineTermios(int fd, const termios& termios, int baudrate);
// The bit rate the driver set, as it reports it back; 0 when it cannot tell.
int ReadLineSpeed(int fd);

// The kernel's termios with the bit rates as numbers (termios2). glibc's
// <termios.h> does not declare it, and the kernel's own header clashes
// with glibc's.
struct TKernelTermios {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

// Reads the whole line state of the tty Fd, bit rates included, so that it
// can be given back; false when the driver does not tell.
bool SaveLineState(int fd, TKernelTermios& state);
// Gives the tty Fd the saved State back, except HUPCL: whether the lines
// drop at this close was decided by the open. False when the driver refuses.
bool RestoreLineState(int fd, const TKernelTermios& state);
