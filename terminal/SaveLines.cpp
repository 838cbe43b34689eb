#include "terminal/SaveLines.h"

#include <QFile>

bool SaveLines(const QString& fileName, qint64 first, qint64 end,
               const std::function<QByteArray(qint64)>& lineBytes, QString& error) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = file.errorString();
        return false;
    }
    for (qint64 line = first; line < end; ++line) {
        file.write(lineBytes(line));
        file.write("\r\n", 2);
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    return true;
}
