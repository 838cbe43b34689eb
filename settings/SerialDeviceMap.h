#pragma once

#include "platform/LineParameters.h"

#include <QString>

// The device path that a port name stands for: key "COM1" to "COM10" of
// section "Devices" of the settings file (a path such as /dev/ttyUSB0 or a
// /dev/serial/by-id/... link). Read at every call, never cached. A missing
// or empty key gives the default: COM1-COM4 /dev/ttyS0-3, COM5-COM8
// /dev/ttyUSB0-3, COM9 /dev/ttyACM0, COM10 /dev/ttyACM1. A device given for
// this run (RunOverrides) stands over all of it.
QString SerialDevicePath(TComPort port);
QString DefaultSerialDevicePath(TComPort port);

// Whether the output line Key ("DTR" or "RTS") is to be high while a port
// is open: key Key of section "COM-Device", an integer, 0 for low; high when
// missing. Read at every call.
bool OutputLineHighAtOpen(const QByteArray& key);

// Whether a device that went away is reopened when its path comes back:
// key "Reconnect" of section "COM-Device" (default 1, 0 turns it off). Read
// at every call.
bool SerialReconnectEnabled();
