#include "settings/TSettingsModel.h"

#include "platform/TProfileFile.h"

#include <QFile>

#include <algorithm>
#include <array>

namespace {

constexpr std::array<TSettingsModel::TKeyDesc, TSettingsModel::skKeyCount> KeyTable = {{
    {"COM-Device", "Port", "COM1"},
    {"COM-Device", "Baudrate", "19200"},
    {"COM-Device", "Databits", "8"},
    {"COM-Device", "Stopbits", "1"},
    // Matches no item on purpose: the first item, "none", is chosen.
    {"COM-Device", "Parity", "keine"},
    {"COM-Device", "DTR", "1"},
    {"COM-Device", "RTS", "1"},
    {"COM-Device", "Reconnect", "1"},
    {"COM-Device", "FlowControl", "NONE"},
    {"Terminal", "Emulation", "ASCII"},
    {"Terminal", "Echo", "0"},
    {"Terminal", "CRLF(In)", "0"},
    {"Terminal", "CRLF(Out)", "0"},
    {"Terminal", "Scrollback", "10000"},
    {"Logfile", "Timestamps", "0"},
    {"Terminal", "LF(In)", "0"},
    {"Terminal", "Columns", "0"},
    {"Terminal", "Backspace", "DEL"},
    {"Logfile", "Raw", "0"},
    {"Terminal", "ShowTimestamps", "0"},
    {"Transfer", "SyncMode", SyncModeNames[smAcknowledged]},
    {"Transfer", "SyncSequ", "#42"},
    {"Transfer", "LastFile", "<noname>"},
    {"Transfer", "SendProtocol", "YMODEM"},
    {"Transfer", "SendFiles", ""},
    {"Transfer", "ReceiveProtocol", "YMODEM"},
    {"Transfer", "ReceiveFolder", ""},
    {"Window", "Left", "100"},
    {"Window", "Top", "100"},
    {"Window", "Height", "300"},
    {"Window", "Width", "550"},
}};

constexpr int MaxScrollback = 1000000;

constexpr std::array<const char*, 10> DefaultDevicePaths = {
    "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyUSB0",
    "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyACM0", "/dev/ttyACM1"};

struct TChoiceItem {
    QByteArray Text;
    int Value;
};

QList<TChoiceItem> ChoiceItems(TSettingsModel::TChoice choice) {
    QList<TChoiceItem> items;
    switch (choice) {
    case TSettingsModel::chPort:
        for (int port = poCOM1; port <= poCOM10; ++port)
            items.append({"COM" + QByteArray::number(port + 1), port});
        break;
    case TSettingsModel::chBaudrate:
        for (int rate = br300; rate <= br115200; ++rate)
            items.append({QByteArray::number(BaudrateValues.at(rate)), rate});
        break;
    case TSettingsModel::chDatabits:
        for (const TDataBits bits : {db5, db6, db7, db8})
            items.append({QByteArray::number(DataBitsCount(bits)), bits});
        break;
    case TSettingsModel::chStopbits:
        for (const TStopBits bits : {sb10, sb20})
            items.append({StopBitsTexts.at(bits), bits});
        break;
    case TSettingsModel::chParity:
        items = {{"none", paNONE},
                 {"odd", paODD},
                 {"even", paEVEN},
                 {"mark", paMARK},
                 {"space", paSPACE}};
        break;
    case TSettingsModel::chEmulation:
        items = {{"ASCII", 0}, {"HEX", 1}, {"VT", 2}};
        break;
    case TSettingsModel::chFlowControl:
        items = {{"NONE", fcNONE}, {"RTSCTS", fcRTSCTS}, {"XONXOFF", fcXONXOFF}};
        break;
    }
    return items;
}

QByteArray ItemText(TSettingsModel::TChoice choice, int value) {
    return ChoiceItems(choice).at(TSettingsModel::ItemOf(choice, value)).Text;
}

QByteArray Flag(bool on) {
    return on ? "1" : "0";
}

// A bit rate written as plain decimal digits, above 0; 0 for anything else.
int OtherBaudrate(const QByteArray& text) {
    bool number = false;
    const int rate = text.trimmed().toInt(&number);
    return number && rate > 0 ? rate : 0;
}

// N for a key "Macro<N>" in any letter case, N written as QByteArray::number
// writes it (no sign, no leading zero); -1 for any other key.
qsizetype MacroNumber(const QByteArray& key) {
    static const QByteArray prefix = "macro";
    if (key.size() <= prefix.size() || key.size() > prefix.size() + 9 ||
        qstrnicmp(key.constData(), prefix.size(), prefix.constData(), prefix.size()) != 0)
        return -1;
    const QByteArrayView digits = QByteArrayView(key).sliced(prefix.size());
    if (digits.size() > 1 && digits.front() == '0')
        return -1;
    qsizetype number = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return -1;
        number = number * 10 + (digit - '0');
    }
    return number;
}

// The list ends at the first missing or empty "Macro<n>". The section is
// read in one pass and indexed by number, so that a huge section costs no
// pass and no search per macro.
QList<QByteArray> ReadMacros(const TProfileSnapshot& file) {
    const QList<TProfileEntry> entries = file.ReadSection(TSettingsModel::MacrosSection);
    QList<const QByteArray*> byNumber(entries.size(), nullptr);
    for (const TProfileEntry& entry : entries) {
        const qsizetype number = MacroNumber(entry.Key);
        if (number >= 0 && number < byNumber.size() && !byNumber.at(number))
            byNumber[number] = &entry.Value;
    }
    QList<QByteArray> macros;
    for (const QByteArray* macro : byNumber) {
        if (!macro || macro->isEmpty())
            break;
        macros.append(*macro);
    }
    return macros;
}

// Exactly "DELAYED" or "ACKNOWLEDGED", letter case included; anything else
// is no synchronisation.
TSyncMode SyncModeOf(const QByteArray& word) {
    if (word == SyncModeNames.at(smDelayed))
        return smDelayed;
    if (word == SyncModeNames.at(smAcknowledged))
        return smAcknowledged;
    return smNone;
}

QByteArray DeviceKey(int port) {
    return "COM" + QByteArray::number(port + 1);
}

void Stage(TProfileChanges& changes, TSettingsModel::TKey key, const QByteArray& value) {
    const TSettingsModel::TKeyDesc& desc = TSettingsModel::Desc(key);
    changes.WriteString(desc.Section, desc.Key, value);
}

} // namespace

const TSettingsModel::TKeyDesc& TSettingsModel::Desc(TKey key) {
    return KeyTable.at(key);
}

QStringList TSettingsModel::Items(TChoice choice) {
    QStringList texts;
    for (const TChoiceItem& item : ChoiceItems(choice))
        texts.append(QString::fromLatin1(item.Text));
    return texts;
}

int TSettingsModel::ItemOf(TChoice choice, int value) {
    const QList<TChoiceItem> items = ChoiceItems(choice);
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const TChoiceItem& item) { return item.Value == value; });
    return found == items.end() ? 0 : int(found - items.begin());
}

int TSettingsModel::ValueOf(TChoice choice, int item) {
    const QList<TChoiceItem> items = ChoiceItems(choice);
    return items.at(std::clamp<int>(item, 0, items.size() - 1)).Value;
}

int TSettingsModel::FindItem(TChoice choice, const QByteArray& text) {
    const QList<TChoiceItem> items = ChoiceItems(choice);
    const auto found = std::find_if(items.begin(), items.end(), [&](const TChoiceItem& item) {
        return item.Text.compare(text, Qt::CaseInsensitive) == 0;
    });
    if (found != items.end())
        return int(found - items.begin());
    return choice == chDatabits ? ItemOf(chDatabits, db7) : 0;
}

TSettingsModel::TSettingsModel(QString fileName) : FFileName(std::move(fileName)) {}

QByteArray TSettingsModel::ReadKey(const TProfileSnapshot& file, TKey key) {
    const TKeyDesc& desc = Desc(key);
    return file.ReadString(desc.Section, desc.Key, desc.Default);
}

int TSettingsModel::ReadInteger(const TProfileSnapshot& file, TKey key) {
    const TKeyDesc& desc = Desc(key);
    int fallback = 0;
    ParseProfileInteger(desc.Default, fallback);
    return file.ReadInteger(desc.Section, desc.Key, fallback);
}

TSettingsRecords TSettingsModel::Load() const {
    const TProfileFile profile(FFileName);
    const TProfileSnapshot file = profile.Snapshot();
    FLoadError = profile.ReadFailure();
    const auto choice = [&](TChoice choice, TKey key) {
        return ValueOf(choice, FindItem(choice, ReadKey(file, key)));
    };
    TSettingsRecords records;
    TComSettings& com = records.Com;
    com.ComPort = TComPort(choice(chPort, skPort));
    const QByteArray baudrate = ReadKey(file, skBaudrate);
    com.Baudrate = TBaudrate(ValueOf(chBaudrate, FindItem(chBaudrate, baudrate)));
    // A rate that no item offers is kept as a number of its own.
    const bool offered =
        Items(chBaudrate).contains(QString::fromLatin1(baudrate), Qt::CaseInsensitive);
    com.OtherBaudrate = offered ? 0 : OtherBaudrate(baudrate);
    com.Databits = TDataBits(choice(chDatabits, skDatabits));
    com.StopBits = TStopBits(choice(chStopbits, skStopbits));
    com.Parity = TParity(choice(chParity, skParity));
    com.FlowControl = TFlowControl(choice(chFlowControl, skFlowControl));

    TTerminalSettings& terminal = records.Terminal;
    terminal.Macros = ReadMacros(file);
    terminal.LocalEcho = ReadInteger(file, skEcho) != 0;
    const int emulation = choice(chEmulation, skEmulation);
    terminal.HexEmulation = emulation == 1;
    terminal.VtEmulation = emulation == 2;
    terminal.CRLFIn = ReadInteger(file, skCRLFIn) != 0;
    terminal.LFIn = ReadInteger(file, skLFIn) != 0;
    const int columns = ReadInteger(file, skColumns);
    terminal.Columns = columns <= 0 ? 0
                                    : std::clamp(columns, TTerminalSettings::MinColumns,
                                                 TTerminalSettings::MaxColumns);
    terminal.BackspaceBs = ReadKey(file, skBackspace).trimmed().compare("BS", Qt::CaseInsensitive) == 0;
    terminal.RawLog = ReadInteger(file, skRawLog) != 0;
    terminal.CRLFOut = ReadInteger(file, skCRLFOut) != 0;
    terminal.Scrollback = std::clamp(ReadInteger(file, skScrollback), 0, MaxScrollback);
    terminal.Timestamps = ReadInteger(file, skTimestamps) != 0;

    records.Transfer.Mode = SyncModeOf(ReadKey(file, skSyncMode));
    records.SyncSequence = ReadKey(file, skSyncSequ);
    records.Transfer.Sequence = records.SyncSequence.left(TTransferSync::MaxSequenceLength);
    return records;
}

// Staged in the order of the dialog's pages, so that sections new to the
// file are appended in that order, and written once.
bool TSettingsModel::Save(const TSettingsRecords& records) {
    TProfileFile file(FFileName);
    TProfileChanges changes;
    const TComSettings& com = records.Com;
    Stage(changes, skPort, ItemText(chPort, com.ComPort));
    Stage(changes, skBaudrate,
          com.OtherBaudrate > 0 ? QByteArray::number(com.OtherBaudrate)
                                : ItemText(chBaudrate, com.Baudrate));
    Stage(changes, skDatabits, ItemText(chDatabits, com.Databits));
    Stage(changes, skStopbits, ItemText(chStopbits, com.StopBits));
    Stage(changes, skParity, ItemText(chParity, com.Parity));
    // A file that never had flow control on stays without the key.
    const TKeyDesc& flow = Desc(skFlowControl);
    if (com.FlowControl != fcNONE || !file.ReadString(flow.Section, flow.Key, {}).isEmpty())
        Stage(changes, skFlowControl, ItemText(chFlowControl, com.FlowControl));
    for (auto it = records.Devices.cbegin(); it != records.Devices.cend(); ++it)
        changes.WriteString(DevicesSection, DeviceKey(it.key()), QFile::encodeName(it.value()));

    const TTerminalSettings& terminal = records.Terminal;
    Stage(changes, skEmulation,
          ItemText(chEmulation, terminal.VtEmulation ? 2 : terminal.HexEmulation ? 1 : 0));
    Stage(changes, skEcho, Flag(terminal.LocalEcho));
    Stage(changes, skCRLFIn, Flag(terminal.CRLFIn));
    Stage(changes, skCRLFOut, Flag(terminal.CRLFOut));
    // A file that never had timestamps (or the other later keys) set stays
    // without the key.
    const auto stageSet = [&](TKey key, bool set, const QByteArray& value) {
        const TKeyDesc& desc = Desc(key);
        if (set || !file.ReadString(desc.Section, desc.Key, {}).isEmpty())
            Stage(changes, key, value);
    };
    stageSet(skTimestamps, terminal.Timestamps, Flag(terminal.Timestamps));
    stageSet(skLFIn, terminal.LFIn, Flag(terminal.LFIn));
    stageSet(skColumns, terminal.Columns != 0, QByteArray::number(terminal.Columns));
    stageSet(skBackspace, terminal.BackspaceBs, terminal.BackspaceBs ? "BS" : "DEL");
    stageSet(skRawLog, terminal.RawLog, Flag(terminal.RawLog));
    // The macro list replaces the whole section: no key of a longer old list
    // is left behind, and an empty list leaves no section.
    QList<TProfileEntry> macros;
    for (const QByteArray& macro : terminal.Macros)
        macros.append({"Macro" + QByteArray::number(macros.size()), macro});
    changes.WriteSection(MacrosSection, macros);

    Stage(changes, skSyncMode, SyncModeNames.at(records.Transfer.Mode));
    // The whole sequence, also one longer than a record holds.
    Stage(changes, skSyncSequ, records.SyncSequence);
    return Commit(file, changes);
}

bool TSettingsModel::Commit(TProfileFile& file, const TProfileChanges& changes) {
    const bool written = file.Commit(changes);
    FWriteError = file.WriteError();
    return written;
}

QString TSettingsModel::ReadDevicePath(const TProfileSnapshot& file, TComPort port) {
    const QByteArray path = file.ReadString(DevicesSection, DeviceKey(port), {});
    return path.isEmpty() ? DefaultDevicePath(port) : QFile::decodeName(path);
}

QString TSettingsModel::DevicePath(TComPort port) const {
    return ReadDevicePath(TProfileFile(FFileName).Snapshot(), port);
}

QStringList TSettingsModel::DevicePaths() const {
    const TProfileSnapshot file = TProfileFile(FFileName).Snapshot();
    QStringList paths;
    for (int port = poCOM1; port <= poCOM10; ++port)
        paths.append(ReadDevicePath(file, TComPort(port)));
    return paths;
}

QString TSettingsModel::DefaultDevicePath(TComPort port) {
    return QString::fromLatin1(DefaultDevicePaths.at(port));
}

bool TSettingsModel::OutputLineHigh(const QByteArray& line) const {
    const TProfileSnapshot file = TProfileFile(FFileName).Snapshot();
    return ReadInteger(file, line.compare("RTS", Qt::CaseInsensitive) == 0 ? skRTS : skDTR) != 0;
}

bool TSettingsModel::ReconnectEnabled() const {
    return ReadInteger(TProfileFile(FFileName).Snapshot(), skReconnect) != 0;
}

QRect TSettingsModel::Placement() const {
    const TProfileSnapshot file = TProfileFile(FFileName).Snapshot();
    return {ReadInteger(file, skLeft), ReadInteger(file, skTop), ReadInteger(file, skWidth),
            ReadInteger(file, skHeight)};
}

bool TSettingsModel::SavePlacement(const QRect& placement) {
    TProfileChanges changes;
    Stage(changes, skLeft, QByteArray::number(placement.left()));
    Stage(changes, skTop, QByteArray::number(placement.top()));
    Stage(changes, skHeight, QByteArray::number(placement.height()));
    Stage(changes, skWidth, QByteArray::number(placement.width()));
    TProfileFile file(FFileName);
    return Commit(file, changes);
}

bool TSettingsModel::ShowTimestamps() const {
    return ReadInteger(TProfileFile(FFileName).Snapshot(), skShowTimestamps) != 0;
}

bool TSettingsModel::SaveShowTimestamps(bool on) {
    TProfileChanges changes;
    Stage(changes, skShowTimestamps, Flag(on));
    TProfileFile file(FFileName);
    return Commit(file, changes);
}

QString TSettingsModel::LastFile() const {
    return QFile::decodeName(ReadKey(TProfileFile(FFileName).Snapshot(), skLastFile));
}

bool TSettingsModel::SaveLastFile(const QString& fileName) {
    TProfileChanges changes;
    Stage(changes, skLastFile, QFile::encodeName(fileName));
    TProfileFile file(FFileName);
    return Commit(file, changes);
}

TSettingsModel::TTransferChoices TSettingsModel::TransferChoices() const {
    const TProfileSnapshot file = TProfileFile(FFileName).Snapshot();
    return {QString::fromUtf8(ReadKey(file, skSendProtocol)),
            QFile::decodeName(ReadKey(file, skSendFiles)),
            QString::fromUtf8(ReadKey(file, skReceiveProtocol)),
            QFile::decodeName(ReadKey(file, skReceiveFolder))};
}

bool TSettingsModel::SaveTransferChoices(const TTransferChoices& choices) {
    TProfileChanges changes;
    Stage(changes, skSendProtocol, choices.SendProtocol.toUtf8());
    Stage(changes, skSendFiles, QFile::encodeName(choices.SendFiles));
    Stage(changes, skReceiveProtocol, choices.ReceiveProtocol.toUtf8());
    Stage(changes, skReceiveFolder, QFile::encodeName(choices.ReceiveFolder));
    TProfileFile file(FFileName);
    return Commit(file, changes);
}
