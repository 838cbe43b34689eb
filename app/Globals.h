#pragma once

// Values and helpers that the whole program shares.

#include "platform/MacroText.h" // DecodeMacro: macro text to the bytes it stands for

#include <QString>

// The directory of the running executable, ending in '/'. The settings file
// lives there (SettingsFileName() knows the exception of an installed
// program).
QString AppDir();
