#pragma once

#include "platform/LineParameters.h"
#include "settings/TTransferSync.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The serial line parameters in effect.
struct TComSettings {
    TComPort ComPort = poCOM1;
    TBaudrate Baudrate = br19200;
    TDataBits Databits = db8;
    TStopBits StopBits = sb10;
    TParity Parity = paNONE;
    // A control of the Interface page changed since the settings dialog was
    // created.
    bool Changed = false;
    // A bit rate outside the Baudrate table, in bits per second; it wins
    // over Baudrate when above 0.
    int OtherBaudrate = 0;
    TFlowControl FlowControl = fcNONE;
};

// The terminal options and the macros in effect.
struct TTerminalSettings {
    // Macro texts in list order.
    QList<QByteArray> Macros;
    bool LocalEcho = false;
    bool HexEmulation = false;
    // The VT emulation ([Terminal] Emulation=VT); HexEmulation is then false.
    bool VtEmulation = false;
    bool CRLFIn = false;
    // A received LF also returns to column 1 ([Terminal] LF(In)=1).
    bool LFIn = false;
    // The VT screen's width: 0 follows the window, else MinColumns to
    // MaxColumns ([Terminal] Columns=).
    int Columns = 0;
    static constexpr int MinColumns = 20;
    static constexpr int MaxColumns = 500;
    // Backspace sends BS (8) in the VT emulation ([Terminal] Backspace=BS),
    // DEL (127) otherwise.
    bool BackspaceBs = false;
    // The recording holds the received bytes exactly ([Logfile] Raw=1).
    bool RawLog = false;
    bool CRLFOut = false;
    // Rows kept in the pane's history ([Terminal] Scrollback=, 0: none).
    int Scrollback = 10000;
    // Recorded lines start with their time ([Logfile] Timestamps=1).
    bool Timestamps = false;
    // A control of the Terminal page or the macro list changed since the
    // settings dialog was created.
    bool Changed = false;
};

// The settings the running program uses. They hold the values of a missing
// settings file until LoadSettings (or the settings dialog) fills them.
extern TComSettings ComSettings;
extern TTerminalSettings TerminalSettings;
extern TTransferSync TransferSync;
// True until LoadSettings first ran: the next apply must load and apply all.
extern bool SettingsPending;

// Line with its first "<qxroot>" marker (any letter case) replaced by the
// application directory; a '/' or '\' right after the marker is dropped, as
// the directory ends in '/' already.
QByteArray ExpandRoot(const QByteArray& line);
// Expands the marker on every line of the settings file and rewrites it once
// with CR LF line ends. Without a settings file nothing happens. Empty when
// all went well; otherwise the file could not be read or rewritten, stays
// as it was, and this is the system's reason. The settings still load from
// it if they can.
QString ExpandSettingsFile();
struct TSettingsRecords;
// Makes the records the settings in effect; the Changed flags of the three
// records stay as they are.
void UseSettings(const TSettingsRecords& records);
// Fills the three settings records from the settings file and clears their
// Changed flags; SettingsPending stays as it is.
void ReloadSettings();
// ReloadSettings, then clears SettingsPending.
void LoadSettings();
