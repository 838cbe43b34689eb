#pragma once

#include "platform/LineParameters.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct TSettingsRecords;
struct TTerminalSettings;

// Settings given for one run (on the command line). They stand over the
// file's values wherever the program takes its settings (the records in
// effect, the settings dialog, the device a port stands for) and are never
// written by themselves: a save of the settings dialog writes them with the
// rest, and from then on the file's values hold.
struct TRunOverrides {
    struct TLineFormat {
        TDataBits DataBits = db8;
        TParity Parity = paNONE;
        TStopBits StopBits = sb10;
    };
    // A device path or network URL; empty for none.
    QString Device;
    // Bits per second; 0 for none.
    int Baudrate = 0;
    std::optional<TLineFormat> Line;
    // The emulation as the settings file names it ("ASCII", "HEX", "VT");
    // empty for none.
    QByteArray Emulation;
};

// Main thread, before the settings are first loaded.
void SetRunOverrides(const TRunOverrides& overrides);
const TRunOverrides& RunOverrides();
// After the settings were saved: the file holds what is in effect now.
void ClearRunOverrides();

// Records with the overrides laid over them. The device goes to the port
// that already stands for it, else to the records' port, which then stands
// for it this run (and records.Devices carries it for a save).
TSettingsRecords WithRunOverrides(TSettingsRecords records);
// The device Port stands for this run; empty when the file decides.
QString RunDevicePath(TComPort port);

// The one mapping of an emulation's name onto the terminal record; a name
// the record has no choice for leaves the ASCII emulation.
void SetEmulationByName(TTerminalSettings& terminal, const QByteArray& name);
