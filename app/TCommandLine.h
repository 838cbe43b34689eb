#pragma once

#include <QString>
#include <QStringList>

// What the program's command line asks for. Qt's own options (-platform,
// -style, ...) are let through for QApplication; anything else unknown is an
// error, reported before any window or display is needed.
struct TCommandLine {
    enum class TAction { Run, Help, Version, Fail };
    TAction Action = TAction::Run;
    // The settings file to use instead of the default one; empty for the
    // default. Made absolute, so a later change of directory does not move it.
    QString SettingsFile;
    // For Fail: what was wrong, one line.
    QString Error;
};

// Arguments: the command line without the program's name.
TCommandLine ParseCommandLine(const QStringList& arguments);
QString UsageText(const QString& programName);
QString VersionText();

// Acts on the command line before the application object exists: prints the
// help or version text (exit code 0) or the usage for a bad command line
// (to stderr, exit code 2), or points the program at the chosen settings
// file and returns -1 to let it run.
int HandleCommandLine(int argc, char* argv[]);
