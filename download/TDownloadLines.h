#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

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
//
// Failures: content or a file that cannot be downloaded gives no lines and
// Error() says why, as the message to show.
class TDownloadLines {
public:
    // The largest file taken (256 MB); say so when this changes.
    static constexpr qsizetype MaxFileSize = 256 * 1024 * 1024;

    TDownloadLines() = default;
    // Content that is no text (see above) or larger than MaxFileSize gives
    // an Error(); FileName, if given, names the file in the message.
    explicit TDownloadLines(QByteArray content, const QString& fileName = QString());

    // Reads the whole file. Error() is set when it cannot be opened or read,
    // is no regular file (a directory, a device), is larger than
    // MaxFileSize or is no text file.
    static TDownloadLines FromFile(const QString& fileName);

    // Empty, or why there are no lines: the message to show, naming the
    // file and the reason.
    const QString& Error() const { return FError; }

    int Count() const { return int(FEnds.size()); }
    // Line Index (0 <= Index < Count()), without its line end. The view is
    // valid while this object lives.
    QByteArrayView Line(int index) const;
    // Bytes held: content and line index.
    qsizetype MemoryUsed() const;

private:
    static TDownloadLines Failed(QString error);
    void Split();
    // Where the line after the one ending at End begins.
    qsizetype NextStart(qsizetype end) const;

    QByteArray FContent;
    std::vector<quint32> FEnds;
    QString FError;
};
