#include "platform/SerialDeviceMap.h"

#include "platform/AppLocation.h"
#include "platform/TProfileFile.h"

#include <QFile>

namespace {

constexpr std::array<const char*, 10> DefaultPaths = {
    "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyUSB0",
    "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyACM0", "/dev/ttyACM1"};

} // namespace

QString DefaultSerialDevicePath(TComPort port) {
    return QString::fromLatin1(DefaultPaths.at(port));
}

QString SerialDevicePath(TComPort port) {
    const QByteArray key = "COM" + QByteArray::number(int(port) + 1);
    const QByteArray path = TProfileFile(SettingsFileName()).ReadString("Devices", key, {});
    return path.isEmpty() ? DefaultSerialDevicePath(port) : QFile::decodeName(path);
}

bool OutputLineHighAtOpen(const QByteArray& key) {
    return TProfileFile(SettingsFileName()).ReadInteger("COM-Device", key, 1) != 0;
}

bool SerialReconnectEnabled() {
    return TProfileFile(SettingsFileName()).ReadInteger("COM-Device", "Reconnect", 1) != 0;
}
