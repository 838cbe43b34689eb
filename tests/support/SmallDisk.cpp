#include "tests/support/SmallDisk.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const QString FillerName = QStringLiteral("filler");

} // namespace

SmallDisk::SmallDisk(int kilobytes) {
    if (::geteuid() != 0) {
        FWhy = QStringLiteral("a small tmpfs for the full-disk case needs root to mount it");
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + 'k';
    if (::mount("tmpfs", QFile::encodeName(FDir.path()).constData(), "tmpfs", 0,
                options.constData()) != 0) {
        FWhy = QStringLiteral("cannot mount a small tmpfs for the full-disk case: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    FMounted = true;
}

SmallDisk::~SmallDisk() {
    if (FMounted)
        ::umount2(QFile::encodeName(FDir.path()).constData(), MNT_DETACH);
}

QString SmallDisk::Path() const {
    return FDir.path() + QLatin1Char('/');
}

void SmallDisk::Fill() const {
    const int fd = ::open(QFile::encodeName(Path() + FillerName).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const QByteArray block(4096, 'F');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    // The last page may still take a few bytes.
    while (::write(fd, "F", 1) > 0) {
    }
    ::close(fd);
}

void SmallDisk::Unfill() const {
    QFile::remove(Path() + FillerName);
}
