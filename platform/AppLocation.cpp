#include "platform/AppLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString& OverriddenDir() {
    static QString dir;
    return dir;
}

QString WithSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString& ChosenSettingsFile() {
    static QString file;
    return file;
}

} // namespace

QString ApplicationDir() {
    if (!OverriddenDir().isEmpty())
        return OverriddenDir();
    static const QString executableDir =
        WithSlash(QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath());
    return executableDir;
}

void SetApplicationDir(const QString& dir) { OverriddenDir() = dir.isEmpty() ? dir : WithSlash(dir); }

void SetSettingsFile(const QString& file) { ChosenSettingsFile() = file; }

bool SettingsFileIsDefault() { return ChosenSettingsFile().isEmpty(); }

QString SettingsFileName() {
    if (!ChosenSettingsFile().isEmpty())
        return ChosenSettingsFile();
    const QString local = ApplicationDir() + QStringLiteral("Console.ini");
    if (QFileInfo::exists(local) || QFileInfo(ApplicationDir()).isWritable())
        return local;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/qx-console/Console.ini");
}
