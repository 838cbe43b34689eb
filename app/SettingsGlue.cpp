#include "app/SettingsGlue.h"

#include "app/TQxConsoleWindow.h"

// The settings records and their file are not part of the program yet, so
// there is nothing to load: the port and the pane keep the values they were
// created with, the macro box stays empty, and only the status bar is
// refreshed. This is the place where the records will be loaded and applied.

void ApplyComSettings(TQxConsoleWindow& window) {
    window.UpdateStatusBar();
}

void ApplyTerminalSettings(TQxConsoleWindow& window) {
    window.UpdateStatusBar();
}

void ApplyChangedSettings(TQxConsoleWindow& window) {
    ApplyComSettings(window);
    ApplyTerminalSettings(window);
}
