#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Writes the lines First to End - 1 (each as LineBytes gives it, followed by
// CR LF) into a new file FileName, replacing one that is there. False with
// the system's reason in Error when the file could not be opened or written.
bool SaveLines(const QString& fileName, qint64 first, qint64 end,
               const std::function<QByteArray(qint64)>& lineBytes, QString& error);
