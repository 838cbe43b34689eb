#pragma once

#include <QByteArray>
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

    // Opens FileName for appending (creating it if need be) and locks it
    // against a second writer; false with the reason in Error otherwise.
    bool Open(QString& error);
    // Appends Line and a CR LF; false once the file refused bytes (the
    // write buffer's turn to reach the disk failed). Error() says why.
    bool WriteLine(const QByteArray& line);
    // Hands what is buffered to the file; false when that failed.
    bool Flush();
    // The reason of the last failure.
    QString Error() const;
    // Flushes and closes the file, whatever happens; false with the first
    // error's reason (also one left over from earlier writes).
    bool Close(QString& error);
};
