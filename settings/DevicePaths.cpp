#include "settings/DevicePaths.h"

#include "platform/AppLocation.h"
#include "platform/ProfileFile.h"

#include <QFile>

#include <array>

QString DevicePathFor(TComPort port) {
    static constexpr std::array<const char*, 10> defaults = {
        "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyUSB0",
        "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyACM0", "/dev/ttyACM1"};
    const QByteArray key = "COM" + QByteArray::number(static_cast<int>(port) + 1);
    return QFile::decodeName(
        TProfileFile(SettingsFileName()).ReadString("Devices", key, defaults.at(port)));
}
