#pragma once

#include <QString>

// The directory of the running executable, ending in '/'.
QString ApplicationDir();
// Points the program at another application directory (tests, benchmarks,
// the demo); an empty string returns to the executable's directory.
void SetApplicationDir(const QString& dir);
// The settings file: "Console.ini" in the application directory, except for
// an installed program whose directory is not writable and holds no such
// file: then "Console.ini" in the user's configuration directory.
QString SettingsFileName();
// Points the program at another settings file (the --settings option); an
// empty string returns to the default one.
void SetSettingsFile(const QString& file);
// True unless another settings file was chosen.
bool SettingsFileIsDefault();
