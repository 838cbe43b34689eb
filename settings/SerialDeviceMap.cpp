#include "settings/SerialDeviceMap.h"

#include "settings/TSettingsModel.h"

QString DefaultSerialDevicePath(TComPort port) {
    return TSettingsModel::DefaultDevicePath(port);
}

QString SerialDevicePath(TComPort port) {
    return TSettingsModel().DevicePath(port);
}

bool OutputLineHighAtOpen(const QByteArray& key) {
    return TSettingsModel().OutputLineHigh(key);
}

bool SerialReconnectEnabled() {
    return TSettingsModel().ReconnectEnabled();
}
