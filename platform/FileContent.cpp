#include "platform/FileContent.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An open file descriptor, closed however the work ends.
class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    // Closes now; false with errno set when the close reported an error.
    bool Close() {
        const int fd = FFd;
        FFd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int FFd;
};

bool IsMissing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

TFileRead Failed(const QString& error) {
    TFileRead result;
    result.Error = error;
    return result;
}

TFileRead FailedTooLarge() {
    TFileRead result = Failed(SystemErrorText(EFBIG));
    result.TooLarge = true;
    return result;
}

// Nothing when Info describes a regular file of at most MaxSize bytes.
std::optional<TFileRead> RefusalOf(const struct stat& info, qint64 maxSize) {
    if (S_ISDIR(info.st_mode))
        return Failed(SystemErrorText(EISDIR));
    if (!S_ISREG(info.st_mode))
        return Failed(QStringLiteral("Not a regular file"));
    if (info.st_size > maxSize)
        return FailedTooLarge();
    return std::nullopt;
}

bool WriteAll(int fd, const QByteArray& content) {
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// Creates a new, empty temporary file beside Path (its name is Path plus a
// random suffix) with the default permissions; -1 with errno set on failure.
int CreateTemporaryBeside(const QByteArray& path, QByteArray& temporaryPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryPath = path + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(temporaryPath.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Makes the rename itself durable; where the directory cannot be synced the
// file is replaced all the same.
void SyncDirectoryOf(const QByteArray& path) {
    const QByteArray directory =
        QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
    TFd dir(::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
}

} // namespace

TFileRead ReadRegularFile(const QString& path, qint64 maxSize) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        TFileRead result = Failed(SystemErrorText(errno));
        result.Missing = IsMissing(errno);
        return result;
    }
    if (std::optional<TFileRead> refusal = RefusalOf(info, maxSize))
        return *refusal;
    // Non-blocking, and checked again once open: the path may have been
    // replaced by a FIFO in between.
    TFd file(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0)
        return Failed(SystemErrorText(errno));
    if (::fstat(file.Get(), &info) != 0)
        return Failed(SystemErrorText(errno));
    if (std::optional<TFileRead> refusal = RefusalOf(info, maxSize))
        return *refusal;

    TFileRead result;
    // One byte more than expected shows whether the file grew meanwhile.
    result.Content = QByteArray(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype done = 0;
    for (;;) {
        if (done == result.Content.size()) {
            if (done > maxSize)
                return FailedTooLarge();
            result.Content.resize(qsizetype(std::min<qint64>(done * 2, maxSize + 1)));
        }
        const ssize_t n =
            ::read(file.Get(), result.Content.data() + done, size_t(result.Content.size() - done));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            TFileRead failed = Failed(SystemErrorText(errno));
            failed.ReadFailed = true;
            return failed;
        }
        done += n;
    }
    result.Content.truncate(done);
    return result;
}

QString ReplaceFileAtomically(const QString& path, const QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    QByteArray temporaryName;
    TFd file(CreateTemporaryBeside(name, temporaryName));
    if (file.Get() < 0)
        return SystemErrorText(errno);
    struct stat old {};
    if (::stat(name.constData(), &old) == 0) {
        // Root editing a user's file leaves it the user's; anyone else
        // cannot give a file away, and need not.
        [[maybe_unused]] const int owned = ::fchown(file.Get(), old.st_uid, old.st_gid);
        ::fchmod(file.Get(), old.st_mode & 07777);
    }
    const bool written = WriteAll(file.Get(), content) && ::fsync(file.Get()) == 0 &&
                         file.Close() && ::rename(temporaryName.constData(), name.constData()) == 0;
    if (!written) {
        const int error = errno;
        ::unlink(temporaryName.constData());
        return SystemErrorText(error);
    }
    SyncDirectoryOf(name);
    return {};
}
