#pragma once

#include <optional>

// Where the serial device takes the state of its modem-status lines from:
// the TIOCM_* bits of an open device, or nothing when the device has no
// such lines (a pseudo-terminal). The default asks the driver (TIOCMGET);
// a test installs a source of its own to play CTS and DSR changes.
class TModemStatusSource {
public:
    virtual ~TModemStatusSource() = default;
    virtual std::optional<int> Read(int fd) = 0;
};

// The source in use. SetModemStatusSource(nullptr) restores the driver's.
// Install a source before opening a device and keep it until it is closed.
TModemStatusSource& ModemStatusSource();
void SetModemStatusSource(TModemStatusSource* source);
