#include "help/InstalledDocuments.h"

#include "platform/AppLocation.h"

#include <QDir>

QString InstalledGuide() {
    return QDir::cleanPath(ApplicationDir() + QStringLiteral("../share/doc/qx-console/README.md"));
}

QString InstalledManual() {
    return QStringLiteral("man:qx-console(1)");
}
