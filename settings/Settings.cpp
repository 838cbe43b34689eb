#include "settings/Settings.h"

#include "platform/AppLocation.h"
#include "platform/TProfileFile.h"
#include "settings/RunOverrides.h"
#include "settings/TSettingsModel.h"

#include <QFile>
#include <QFileInfo>

TComSettings ComSettings;
TTerminalSettings TerminalSettings;
TTransferSync TransferSync;
bool SettingsPending = true;

namespace {

// Only A to Z are lowered, so every position stays where it was.
QByteArray AsciiLower(QByteArray text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

} // namespace

QByteArray ExpandRoot(const QByteArray& line) {
    static const QByteArray marker = "<qxroot>";
    const qsizetype at = AsciiLower(line).indexOf(marker);
    if (at < 0)
        return line;
    QByteArray expanded = line;
    expanded.remove(at, marker.size());
    if (at < expanded.size() && (expanded.at(at) == '\\' || expanded.at(at) == '/'))
        expanded.remove(at, 1);
    expanded.insert(at, QFile::encodeName(ApplicationDir()));
    return expanded;
}

QString ExpandSettingsFile() {
    TProfileFile file(SettingsFileName());
    if (!QFileInfo::exists(file.FileName()))
        return {};
    QList<QByteArray> lines = file.ReadLines();
    for (QByteArray& line : lines)
        line = ExpandRoot(line);
    if (!file.WriteLines(lines))
        return file.WriteError().Reason;
    return {};
}

void UseSettings(const TSettingsRecords& records) {
    const bool comChanged = ComSettings.Changed;
    const bool terminalChanged = TerminalSettings.Changed;
    const bool transferChanged = TransferSync.Changed;
    ComSettings = records.Com;
    TerminalSettings = records.Terminal;
    TransferSync = records.Transfer;
    ComSettings.Changed = comChanged;
    TerminalSettings.Changed = terminalChanged;
    TransferSync.Changed = transferChanged;
}

void ReloadSettings() {
    UseSettings(WithRunOverrides(TSettingsModel().Load()));
    ComSettings.Changed = false;
    TerminalSettings.Changed = false;
    TransferSync.Changed = false;
}

void LoadSettings() {
    ReloadSettings();
    SettingsPending = false;
}
