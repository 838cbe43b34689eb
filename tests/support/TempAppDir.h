#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary application directory that the program under test uses in
// place of its executable's directory for as long as this object lives.
class TempAppDir {
public:
    // Parent: where the directory is made (a small disk, say); the system's
    // temporary directory when empty.
    explicit TempAppDir(const QString& parent = {});
    ~TempAppDir();

    // The directory, ending in '/'.
    QString Path() const;
    QString SettingsFile() const { return Path() + QStringLiteral("Console.ini"); }
    // Writes Content to a file of the directory (bytes as given).
    void WriteFile(const QString& name, const QByteArray& content) const;
    QByteArray ReadFile(const QString& name) const;
    // Maps COMn: (1 to 10) to a device path in the settings file.
    void MapDevice(int comNumber, const QString& devicePath) const;

private:
    QTemporaryDir FDir;
};
