#pragma once

#include "platform/AppLocation.h"
#include "platform/LineParameters.h"
#include "platform/TProfileFile.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QMap>
#include <QRect>
#include <QString>
#include <QStringList>

class TProfileSnapshot;

// Everything the settings dialog shows and saves, as the file holds it.
struct TSettingsRecords {
    TComSettings Com;
    TTerminalSettings Terminal;
    TTransferSync Transfer;
    // The stored handshake sequence whole; Transfer.Sequence holds its first
    // TTransferSync::MaxSequenceLength bytes.
    QByteArray SyncSequence = "#42";
    // Devices given to ports (by TComPort) that a save stores in [Devices];
    // a load leaves it empty.
    QMap<int, QString> Devices;
};

// The settings file "Console.ini": every section, key and default in one
// table, and the records that the program takes from it. Each load reads the
// file once; each save writes it once, atomically, so that a failed save
// leaves it byte for byte as it was. A save that fails gives false and
// WriteError() says why. Nothing is cached between calls.
class TSettingsModel {
public:
    // Every single key of the file.
    enum TKey {
        skPort,
        skBaudrate,
        skDatabits,
        skStopbits,
        skParity,
        skDTR,
        skRTS,
        skReconnect,
        skFlowControl,
        skEmulation,
        skEcho,
        skCRLFIn,
        skCRLFOut,
        skScrollback,
        skTimestamps,
        skLFIn,
        skColumns,
        skBackspace,
        skRawLog,
        skShowTimestamps,
        skSyncMode,
        skSyncSequ,
        skLastFile,
        skSendProtocol,
        skSendFiles,
        skReceiveProtocol,
        skReceiveFolder,
        skLeft,
        skTop,
        skHeight,
        skWidth,
        skKeyCount
    };
    struct TKeyDesc {
        const char* Section;
        const char* Key;
        // The value a missing key reads as.
        const char* Default;
    };
    // The settings stored as the text of one of a few items.
    enum TChoice { chPort, chBaudrate, chDatabits, chStopbits, chParity, chEmulation, chFlowControl };

    static const TKeyDesc& Desc(TKey key);
    // Sections holding numbered keys: "Macros" (Macro0, Macro1, ...) and
    // "Devices" (COM1 to COM10).
    static constexpr const char* MacrosSection = "Macros";
    static constexpr const char* DevicesSection = "Devices";

    // The item texts of a choice, in the order of their values.
    static QStringList Items(TChoice choice);
    // The item of a choice standing for Value (a TComPort, TBaudrate,
    // TDataBits, TStopBits, TParity, or 1 for HEX emulation); 0 for none.
    static int ItemOf(TChoice choice, int value);
    // The value that item Item of a choice stands for.
    static int ValueOf(TChoice choice, int item);
    // The first item equal to Text without regard to letter case. For none,
    // the item such a value always read as: 7 data bits, else the first.
    static int FindItem(TChoice choice, const QByteArray& text);

    explicit TSettingsModel(QString fileName = SettingsFileName());

    const QString& FileName() const { return FFileName; }

    // The defaults stand in for every key when the file cannot be read;
    // LoadError() then says why.
    TSettingsRecords Load() const;
    const QString& LoadError() const { return FLoadError; }
    [[nodiscard]] bool Save(const TSettingsRecords& records);

    // The device path that a port stands for: [Devices] COM1 to COM10, a
    // missing or empty key giving DefaultDevicePath.
    QString DevicePath(TComPort port) const;
    // DevicePath of every port, poCOM1 first, in one read of the file.
    QStringList DevicePaths() const;
    static QString DefaultDevicePath(TComPort port);
    // Whether the output line Line ("DTR" or "RTS") is high while a port is
    // open ([COM-Device], an integer, 0 for low; high when missing).
    bool OutputLineHigh(const QByteArray& line) const;
    // Whether a device that went away is reopened when it comes back.
    bool ReconnectEnabled() const;

    // The main window's frame position and size ([Window]), each value
    // missing or unreadable taking its default.
    QRect Placement() const;
    [[nodiscard]] bool SavePlacement(const QRect& placement);

    // The last downloaded file ([Transfer] LastFile), "<noname>" when none.
    QString LastFile() const;
    [[nodiscard]] bool SaveLastFile(const QString& fileName);

    // Whether the pane shows each line's time in a margin ([Terminal]
    // ShowTimestamps, 0 or 1; hidden when missing).
    bool ShowTimestamps() const;
    [[nodiscard]] bool SaveShowTimestamps(bool on);

    // The choices of the last Send File and Receive File ([Transfer]
    // SendProtocol, SendFiles, ReceiveProtocol, ReceiveFolder), as written.
    struct TTransferChoices {
        QString SendProtocol;
        QString SendFiles;
        QString ReceiveProtocol;
        QString ReceiveFolder;
    };
    TTransferChoices TransferChoices() const;
    [[nodiscard]] bool SaveTransferChoices(const TTransferChoices& choices);

    // Why the last save failed; empty after one that succeeded.
    const TProfileWriteError& WriteError() const { return FWriteError; }

private:
    static QByteArray ReadKey(const TProfileSnapshot& file, TKey key);
    static int ReadInteger(const TProfileSnapshot& file, TKey key);
    static QString ReadDevicePath(const TProfileSnapshot& file, TComPort port);
    bool Commit(TProfileFile& file, const TProfileChanges& changes);

    QString FFileName;
    TProfileWriteError FWriteError;
    mutable QString FLoadError;
};
