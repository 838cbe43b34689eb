#pragma once

#include "settings/RunOverrides.h"

#include <QString>
#include <QStringList>

// What the program's command line asks for. Qt's own options (-platform,
// -style, ...) are let through for QApplication; anything else unknown is an
// error, reported before any window or display is needed.
struct TCommandLine {
    enum class TAction { Run, Help, Version, List, Fail };
    TAction Action = TAction::Run;
    // The settings file to use instead of the default one; empty for the
    // default. Made absolute, so a later change of directory does not move it.
    QString SettingsFile;
    // Device, rate, line format and emulation for this run only.
    TRunOverrides Overrides;
    // For Fail: what was wrong, one line naming the argument.
    QString Error;
};

// Arguments: the command line without the program's name. Besides the
// options, "DEVICE [RATE]" is taken as --device DEVICE --baud RATE when
// DEVICE is an absolute path or a network URL.
TCommandLine ParseCommandLine(const QStringList& arguments);
QString UsageText(const QString& programName);
QString VersionText();
// The serial devices present, one path a line: the /dev/serial/by-id links
// first, then the device nodes.
QString DeviceListText();

// Acts on the command line before the application object exists: prints the
// help, version or device list (exit code 0) or the usage for a bad command
// line (to stderr, exit code 2), or points the program at the chosen
// settings file and the run's overrides and returns -1 to let it run.
int HandleCommandLine(int argc, char* argv[]);
