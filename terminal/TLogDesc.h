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
    // against a second writer; false otherwise, Error() says why.
    bool Open();
    // Appends Line and a CR LF; false once the file refused bytes (the
    // write buffer's turn to reach the disk failed). Error() says why.
    bool WriteLine(const QByteArray& line);
    // Hands what is buffered to the file; false when that failed.
    bool Flush();
    // The reason of the last failure.
    QString Error() const;
    // Flushes and closes the file, whatever happens; false when that failed
    // or an earlier write did, Error() giving the first reason.
    bool Close();

private:
    // Why the last open or close failed, once there is no file to ask.
    QString FError;
};
