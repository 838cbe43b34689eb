#include "app/SettingsGlue.h"

#include "app/TQxConsoleWindow.h"
#include "platform/AppLocation.h"
#include "platform/TInteraction.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "settings/Settings.h"
#include "terminal/TQxConsole.h"

// Each property setter of the port reconfigures the device only when its
// value differs; a new port number reopens the device at once while the
// window holds its open request, and so does a device newly given to the
// port in [Devices].
void ApplyComSettings(TQxConsoleWindow& window) {
    TQxComPort& port = SerialPort();
    port.SetComPort(ComSettings.ComPort);
    port.ReopenIfMoved();
    port.SetBaudrateValue(ComSettings.OtherBaudrate > 0 ? ComSettings.OtherBaudrate
                                                        : BaudrateValues.at(ComSettings.Baudrate));
    port.SetDatabits(ComSettings.Databits);
    port.SetStopBits(ComSettings.StopBits);
    port.SetParity(ComSettings.Parity);
    port.SetFlowControl(ComSettings.FlowControl);
    window.UpdateStatusBar();
}

void ApplyTerminalSettings(TQxConsoleWindow& window) {
    window.SetMacros(TerminalSettings.Macros);
    TQxConsole& pane = *window.Console();
    pane.SetLocalEcho(TerminalSettings.LocalEcho);
    pane.SetVtEmulation(TerminalSettings.VtEmulation);
    pane.SetHexEmulation(TerminalSettings.HexEmulation);
    pane.SetFixedColumns(TerminalSettings.Columns);
    pane.SetBareLfReturns(TerminalSettings.LFIn);
    pane.SetBackspaceSendsBs(TerminalSettings.BackspaceBs);
    pane.Screen().RawLog = TerminalSettings.RawLog;
    pane.SetCRLFIn(TerminalSettings.CRLFIn);
    pane.SetCRLFOut(TerminalSettings.CRLFOut);
    pane.SetScrollbackLimit(TerminalSettings.Scrollback);
    pane.Screen().Timestamps = TerminalSettings.Timestamps;
    window.UpdateStatusBar();
}

namespace {

const QString UnreadableSettingsText =
    QStringLiteral("Can't read the settings file %1.\n\rThe program starts with default "
                   "settings and leaves the file as it is.");

// A settings file that cannot be read is named once, with the reason; it is
// not written while the program runs. One that cannot be rewritten keeps
// its markers and the user learns of it. Either way the settings load (the
// defaults where the file could not be read), so the program starts as
// usual and opens its port.
void ExpandSettingsFileAtStart(TQxConsoleWindow& window) {
    const TProfileFile file(SettingsFileName());
    if (const QString reason = file.ReadErrorToReport(); !reason.isEmpty())
        Interaction().Warning(&window, UnreadableSettingsText.arg(file.FileName()), reason);
    else if (const QString failure = ExpandSettingsFile(); !failure.isEmpty())
        Interaction().Warning(&window, ProfileWriteErrorText(file.FileName()), failure);
}

} // namespace

void ApplyChangedSettings(TQxConsoleWindow& window) {
    if (SettingsPending) {
        ExpandSettingsFileAtStart(window);
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
