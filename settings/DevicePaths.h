#pragma once

#include "platform/LineParameters.h"

#include <QString>

// The device path a port name stands for: key "COM1" to "COM10" of section
// "Devices" in the settings file, read afresh at each call, with the usual
// serial, USB and ACM devices as defaults.
QString DevicePathFor(TComPort port);
