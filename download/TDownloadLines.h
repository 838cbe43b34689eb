#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <stdexcept>
#include <vector>

// A download file that cannot be opened or read; what() is the message to
// show, naming the file and the system's reason.
class EFileReadError : public std::runtime_error {
public:
    explicit EFileReadError(const QString& message);
};

// The lines of a download file. A line ends at CR LF, at a lone CR or at a
// lone LF; the line ends are not part of the lines, a last line without an
// end still counts, and a line end at the very end adds no empty line. The
// bytes stay as they are.
//
// A download file is text: a NUL byte inside it means it is no text file
// (a binary image, say), and it is refused rather than cut short there.
// Only NUL bytes at the very end of a text are allowed (a file padded to a
// block size): the text ends at the first of them.
//
// The content is kept once, with the end offset of each line (4 bytes a
// line), so a large file costs little more memory than its size.
class TDownloadLines {
public:
    // The largest file taken (256 MB); say so when this changes.
    static constexpr qsizetype MaxFileSize = 256 * 1024 * 1024;

    TDownloadLines() = default;
    // Throws EFileReadError when Content is no text (see above); FileName,
    // if given, names the file in the message.
    explicit TDownloadLines(QByteArray content, const QString& fileName = QString());

    // Reads the whole file. Throws EFileReadError when it cannot be opened
    // or read, is no regular file (a directory, a device), is larger than
    // MaxFileSize or is no text file.
    static TDownloadLines FromFile(const QString& fileName);

    int Count() const { return int(FEnds.size()); }
    // Line Index (0 <= Index < Count()), without its line end. The view is
    // valid while this object lives.
    QByteArrayView Line(int index) const;
    // Bytes held: content and line index.
    qsizetype MemoryUsed() const;

private:
    void Split();
    // Where the line after the one ending at End begins.
    qsizetype NextStart(qsizetype end) const;

    QByteArray FContent;
    std::vector<quint32> FEnds;
};
