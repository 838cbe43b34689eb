#pragma once

#include "platform/SystemError.h"

#include <QByteArray>
#include <QString>

// Whole-file reads that cannot hang or exhaust memory, and whole-file
// replacements that cannot leave a half-written file behind.

// What ReadRegularFile found.
struct TFileRead {
    QByteArray Content;
    // Empty, or why the file could not be read (the system's words).
    QString Error;
    // The file does not exist (nor does a directory on its path); Error
    // says which.
    bool Missing = false;
    // The file is larger than the bound, or grew past it while read.
    bool TooLarge = false;
    // The file was opened, but reading it failed.
    bool ReadFailed = false;

    // Read whole, or there was no file to read.
    bool Ok() const { return Error.isEmpty() || Missing; }
};

// Reads the file at Path whole, following symbolic links. Only a regular
// file of at most MaxSize bytes is read: a FIFO, a device or a directory is
// refused before it is opened (so nothing blocks and no device reacts to an
// open), and so is a larger file, also one that grows while it is read.
TFileRead ReadRegularFile(const QString& path, qint64 maxSize);

// Replaces the file at Path with Content: writes a temporary file in the
// same directory, syncs and closes it, checking every step, then renames it
// over Path. The new file takes the permissions (and, where allowed, the
// owner) of the file it replaces; a new file gets the default permissions.
// Empty on success; otherwise the reason, and Path is as it was and the
// temporary file is gone. Path itself is replaced: resolve links first.
QString ReplaceFileAtomically(const QString& path, const QByteArray& content);
