#include "settings/RunOverrides.h"

#include "settings/TSettingsModel.h"

#include <QFileInfo>

#include <mutex>

namespace {

// The port opens on the download's thread too, so the device lookup is
// locked; the values change only on the main thread.
std::mutex OverridesLock;
TRunOverrides Overrides;
// The port the device was given to, decided at the first lay-over.
std::optional<TComPort> DevicePort;

bool SameDevice(const QString& a, const QString& b) {
    if (a == b)
        return true;
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

TComPort PortFor(const QString& device, TComPort fallback) {
    const QStringList paths = TSettingsModel().DevicePaths();
    for (int port = poCOM1; port < paths.size(); ++port) {
        if (SameDevice(paths.at(port), device))
            return TComPort(port);
    }
    return fallback;
}

void SetBaudrate(TComSettings& com, int rate) {
    for (int item = br300; item <= br115200; ++item) {
        if (BaudrateValues.at(item) == rate) {
            com.Baudrate = TBaudrate(item);
            com.OtherBaudrate = 0;
            return;
        }
    }
    com.OtherBaudrate = rate;
}

} // namespace

void SetRunOverrides(const TRunOverrides& overrides) {
    std::lock_guard lock(OverridesLock);
    Overrides = overrides;
    DevicePort.reset();
}

const TRunOverrides& RunOverrides() {
    return Overrides;
}

void ClearRunOverrides() {
    SetRunOverrides({});
}

TSettingsRecords WithRunOverrides(TSettingsRecords records) {
    std::lock_guard lock(OverridesLock);
    TComSettings& com = records.Com;
    if (!Overrides.Device.isEmpty()) {
        if (!DevicePort)
            DevicePort = PortFor(Overrides.Device, com.ComPort);
        com.ComPort = *DevicePort;
        records.Devices[*DevicePort] = Overrides.Device;
    }
    if (Overrides.Baudrate > 0)
        SetBaudrate(com, Overrides.Baudrate);
    if (Overrides.Line) {
        com.Databits = Overrides.Line->DataBits;
        com.Parity = Overrides.Line->Parity;
        com.StopBits = Overrides.Line->StopBits;
    }
    if (!Overrides.Emulation.isEmpty())
        SetEmulationByName(records.Terminal, Overrides.Emulation);
    return records;
}

QString RunDevicePath(TComPort port) {
    std::lock_guard lock(OverridesLock);
    return DevicePort == port ? Overrides.Device : QString();
}

// The emulation's item: 0 ASCII, 1 HEX, 2 VT.
void SetEmulationByName(TTerminalSettings& terminal, const QByteArray& name) {
    using M = TSettingsModel;
    const int emulation = M::ValueOf(M::chEmulation, M::FindItem(M::chEmulation, name));
    terminal.HexEmulation = emulation == 1;
    terminal.VtEmulation = emulation == 2;
}
