#include "tests/support/TempAppDir.h"

#include "platform/AppLocation.h"
#include "platform/TProfileFile.h"

#include <QDir>
#include <QFile>
#include <QTest>

TempAppDir::TempAppDir(const QString& parent)
    : FDir((parent.isEmpty() ? QDir::tempPath() : parent) + QStringLiteral("/qx-app-XXXXXX")) {
    SetApplicationDir(FDir.path());
}

TempAppDir::~TempAppDir() { SetApplicationDir(QString()); }

QString TempAppDir::Path() const { return FDir.path() + QLatin1Char('/'); }

void TempAppDir::WriteFile(const QString& name, const QByteArray& content) const {
    QFile file(Path() + name);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

QByteArray TempAppDir::ReadFile(const QString& name) const {
    QFile file(Path() + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TempAppDir::MapDevice(int comNumber, const QString& devicePath) const {
    TProfileFile settings(SettingsFile());
    QVERIFY(settings.WriteString("Devices", "COM" + QByteArray::number(comNumber),
                                 devicePath.toLocal8Bit()));
}
