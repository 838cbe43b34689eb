#pragma once

#include <optional>

// Where the serial device takes the state of its modem-status lines from:
// the TIOCM_* bits of an open device, or nothing when the device has no
// such lines (a pseudo-terminal). The default asks the driver (TIOCMGET);
// a test installs a source of its own to play CTS and DSR changes and to
// see the output lines and breaks the program sets.
class TModemStatusSource {
public:
    virtual ~TModemStatusSource() = default;
    virtual std::optional<int> Read(int fd) = 0;
    // Raises (On) or drops the output lines (TIOCM_DTR, TIOCM_RTS) in Bits;
    // false when the device has no such lines. The default asks the driver.
    virtual bool SetLines(int fd, int bits, bool on);
    // Holds the line in the break state for about 250 ms; false when the
    // device cannot.
    virtual bool SendBreak(int fd);
};

// The source in use. SetModemStatusSource(nullptr) restores the driver's.
// Install a source before opening a device and keep it until it is closed.
TModemStatusSource& ModemStatusSource();
void SetModemStatusSource(TModemStatusSource* source);
