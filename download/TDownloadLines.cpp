#include "download/TDownloadLines.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void FailOpen(const QString& fileName, const QString& reason) {
    throw EFileReadError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, reason));
}

[[noreturn]] void FailTooLarge(const QString& fileName) {
    throw EFileReadError(QStringLiteral("Cannot download file \"%1\". It is larger than %2 MB, "
                                        "the most a download takes.")
                             .arg(fileName)
                             .arg(TDownloadLines::MaxFileSize / (1024 * 1024)));
}

// Where the text ends: at its first NUL byte when only NUL bytes follow
// (padding); -1 when the content holds no NUL. A NUL with anything else
// after it, or with no text before it, makes the content no text: Stray
// then gives its offset.
qsizetype TextEnd(const QByteArray& content, qsizetype& stray) {
    stray = -1;
    const qsizetype nul = content.indexOf('\0');
    if (nul < 0)
        return -1;
    const char* data = content.constData();
    const bool onlyPadding =
        nul > 0 && std::all_of(data + nul, data + content.size(), [](char c) { return c == '\0'; });
    if (!onlyPadding)
        stray = nul;
    return nul;
}

[[noreturn]] void FailRead(const QString& fileName, int error) {
    throw EFileReadError(
        QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, SystemReason(error)));
}

// An open file descriptor, closed however the read ends.
class TFileHandle {
public:
    explicit TFileHandle(int fd) : FFd(fd) {}
    ~TFileHandle() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

// The size of the open file; refuses what is not a plain file, since a
// device or a pipe may never end.
qsizetype CheckedFileSize(const TFileHandle& file, const QString& fileName) {
    struct stat info {};
    if (::fstat(file.Fd(), &info) != 0)
        FailOpen(fileName, SystemReason(errno));
    if (S_ISDIR(info.st_mode))
        FailOpen(fileName, SystemReason(EISDIR));
    if (!S_ISREG(info.st_mode))
        FailOpen(fileName, QStringLiteral("Not a regular file"));
    if (info.st_size > TDownloadLines::MaxFileSize)
        FailTooLarge(fileName);
    return qsizetype(info.st_size);
}

// Reads to the end of the file, which may have grown since its size was taken.
QByteArray ReadToEnd(const TFileHandle& file, const QString& fileName, qsizetype expectedSize) {
    QByteArray content(expectedSize + 1, Qt::Uninitialized);
    qsizetype done = 0;
    for (;;) {
        if (done == content.size()) {
            if (content.size() > TDownloadLines::MaxFileSize)
                FailTooLarge(fileName);
            content.resize(std::min(content.size() * 2, TDownloadLines::MaxFileSize + 1));
        }
        const ssize_t n = ::read(file.Fd(), content.data() + done, size_t(content.size() - done));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FailRead(fileName, errno);
        }
        done += n;
    }
    content.truncate(done);
    return content;
}

} // namespace

EFileReadError::EFileReadError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

TDownloadLines::TDownloadLines(QByteArray content, const QString& fileName)
    : FContent(std::move(content)) {
    qsizetype stray = -1;
    const qsizetype end = TextEnd(FContent, stray);
    if (stray >= 0) {
        const QString reason =
            QStringLiteral("It is not a text file: it holds a NUL byte at offset %1.").arg(stray);
        throw EFileReadError(
            fileName.isEmpty()
                ? reason
                : QStringLiteral("Cannot download file \"%1\". %2").arg(fileName, reason));
    }
    if (end >= 0)
        FContent.truncate(end);
    // Line offsets and counts must fit their 32 and 31 bits.
    if (FContent.size() > MaxFileSize)
        throw std::length_error("download file too large");
    Split();
}

TDownloadLines TDownloadLines::FromFile(const QString& fileName) {
    // Non-blocking, so that opening a named pipe cannot hang; it is refused
    // once its kind is known.
    const TFileHandle file(::open(QFile::encodeName(fileName).constData(),
                                  O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Fd() < 0)
        FailOpen(fileName, SystemReason(errno));
    const qsizetype size = CheckedFileSize(file, fileName);
    return TDownloadLines(ReadToEnd(file, fileName, size), fileName);
}

void TDownloadLines::Split() {
    const char* data = FContent.constData();
    const qsizetype size = FContent.size();
    // Two passes: counting first lets the index take exactly the room it needs.
    for (int pass = 0; pass < 2; ++pass) {
        qsizetype count = 0;
        const auto endLine = [&](qsizetype end) {
            if (pass == 1)
                FEnds.push_back(quint32(end));
            ++count;
        };
        for (qsizetype i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n') {
                endLine(i);
            } else if (c == '\r') {
                endLine(i);
                if (i + 1 < size && data[i + 1] == '\n')
                    ++i;
            }
        }
        if (size > 0 && data[size - 1] != '\n' && data[size - 1] != '\r')
            endLine(size);
        if (pass == 0)
            FEnds.reserve(size_t(count));
    }
}

qsizetype TDownloadLines::NextStart(qsizetype end) const {
    const qsizetype size = FContent.size();
    const char* data = FContent.constData();
    if (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')
        return end + 2;
    return end + 1;
}

QByteArrayView TDownloadLines::Line(int index) const {
    const qsizetype start = index == 0 ? 0 : NextStart(FEnds[size_t(index) - 1]);
    return QByteArrayView(FContent.constData() + start, qsizetype(FEnds[size_t(index)]) - start);
}

qsizetype TDownloadLines::MemoryUsed() const {
    return FContent.capacity() + qsizetype(FEnds.capacity() * sizeof(quint32));
}
