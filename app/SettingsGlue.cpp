#include "app/SettingsGlue.h"

#include "app/TQxConsoleWindow.h"
#include "platform/AppLocation.h"
#include "platform/Interaction.h"
#include "platform/ProfileFile.h"
#include "serial/QxComPort.h"
#include "settings/Settings.h"
#include "terminal/TQxConsole.h"

// Each property setter of the port reconfigures the device only when its
// value differs; a new port number reopens the device at once while the
// window holds its open request.
void ApplyComSettings(TQxConsoleWindow& window) {
    TQxComPort& port = SerialPort();
    port.SetComPort(ComSettings.ComPort);
    port.SetBaudrate(ComSettings.Baudrate);
    port.SetDatabits(ComSettings.Databits);
    port.SetStopBits(ComSettings.StopBits);
    port.SetParity(ComSettings.Parity);
    window.UpdateStatusBar();
}

void ApplyTerminalSettings(TQxConsoleWindow& window) {
    window.SetMacros(TerminalSettings.Macros);
    TQxConsole& pane = *window.Console();
    pane.SetLocalEcho(TerminalSettings.LocalEcho);
    pane.SetHexEmulation(TerminalSettings.HexEmulation);
    pane.SetCRLFIn(TerminalSettings.CRLFIn);
    pane.SetCRLFOut(TerminalSettings.CRLFOut);
    pane.SetScrollbackLimit(TerminalSettings.Scrollback);
    pane.Screen().Timestamps = TerminalSettings.Timestamps;
    window.UpdateStatusBar();
}

void ApplyChangedSettings(TQxConsoleWindow& window) {
    if (SettingsPending) {
        // A settings file that cannot be rewritten keeps its markers; the
        // user learns of it, and the settings still load from it, so the
        // program starts as usual and opens its port.
        if (!ExpandSettingsFile())
            Interaction().Warning(&window,
                                  QString::fromUtf8(EProfileWriteError(SettingsFileName()).what()));
        LoadSettings();
        ApplyComSettings(window);
        ApplyTerminalSettings(window);
        return;
    }
    if (ComSettings.Changed)
        ApplyComSettings(window);
    if (TerminalSettings.Changed)
        ApplyTerminalSettings(window);
}
