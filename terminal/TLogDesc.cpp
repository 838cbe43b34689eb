#include "terminal/TLogDesc.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool TLogDesc::Open() {
    // Append never truncates: whatever the file holds stays, byte for byte.
    // Non-blocking only while opening, so that a named pipe without a reader
    // fails instead of hanging the program.
    const QByteArray path = QFile::encodeName(FileName);
    const int fd =
        ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        FError = SystemErrorText(errno);
        return false;
    }
    // Others may read the logfile while it is written, but no second
    // recording may write into it at the same time.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        FError = QStringLiteral("The file is locked by another recording.");
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        FError = file->errorString();
        ::close(fd);
        return false;
    }
    LogFile = std::move(file);
    FError.clear();
    return true;
}

bool TLogDesc::WriteLine(const QByteArray& line) {
    if (!LogFile)
        return false;
    return LogFile->write(line) == line.size() && LogFile->write("\r\n", 2) == 2;
}

bool TLogDesc::Flush() {
    return LogFile && LogFile->flush();
}

QString TLogDesc::Error() const {
    return LogFile ? LogFile->errorString() : FError;
}

bool TLogDesc::Close() {
    if (!LogFile)
        return true;
    FError.clear();
    bool ok = LogFile->error() == QFileDevice::NoError;
    if (ok && !LogFile->flush())
        ok = false;
    if (!ok)
        FError = LogFile->errorString();
    LogFile->close();
    if (ok && LogFile->error() != QFileDevice::NoError) {
        ok = false;
        FError = LogFile->errorString();
    }
    LogFile.reset();
    return ok;
}
