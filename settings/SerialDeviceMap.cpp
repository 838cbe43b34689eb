#include "settings/SerialDeviceMap.h"

#include "settings/RunOverrides.h"
#include "settings/TSettingsModel.h"

QString DefaultSerialDevicePath(TComPort port) {
    return TSettingsModel::DefaultDevicePath(port);
}

QString SerialDevicePath(TComPort port) {
    if (QString path = RunDevicePath(port); !path.isEmpty())
        return path;
    return TSettingsModel().DevicePath(port);
}

bool OutputLineHighAtOpen(const QByteArray& key) {
    return TSettingsModel().OutputLineHigh(key);
}

bool SerialReconnectEnabled() {
    return TSettingsModel().ReconnectEnabled();
}
