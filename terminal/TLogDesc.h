#pragma once

#include <QFile>
#include <QString>

#include <memory>

// The recording of the screen into a logfile: the file's name (kept after a
// recording ends, so it can be offered again), the open file while
// recording, and whether a recording runs.
struct TLogDesc {
    QString FileName;
    std::unique_ptr<QFile> LogFile;
    bool Active = false;
};
