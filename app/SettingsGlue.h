#pragma once

class TQxConsoleWindow;

// Pushes the settings into the serial port, the terminal pane and the main
// window. The first call loads the settings file and applies every group;
// later calls (after the settings dialog closed with OK) apply only the
// groups that changed. Each applier refreshes the window's status bar.
void ApplyChangedSettings(TQxConsoleWindow& window);
// The line parameters into SerialPort().
void ApplyComSettings(TQxConsoleWindow& window);
// Macros, local echo, emulation and the CR/LF switches into the window and
// its pane.
void ApplyTerminalSettings(TQxConsoleWindow& window);
