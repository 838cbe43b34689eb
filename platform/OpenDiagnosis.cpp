#include "platform/OpenDiagnosis.h"

#include "platform/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList DefaultLockDirectories = {QStringLiteral("/var/lock"),
                                            QStringLiteral("/run/lock")};

std::mutex DirectoriesLock;
QStringList LockDirectoriesInUse = DefaultLockDirectories;
QString DevDirInUse;
QString SysTtyDirInUse;

QStringList LockDirectories() {
    std::lock_guard lock(DirectoriesLock);
    return LockDirectoriesInUse;
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

bool StatOf(const QString& path, struct stat& info) {
    return ::stat(Native(path).constData(), &info) == 0;
}

QString ProcessName(qint64 pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("an unknown program");
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

// The largest process id the system hands out.
qint64 PidMax() {
    static const qint64 pidMax = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
        bool ok = false;
        const qint64 value =
            file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
        // The kernel's upper limit when the file cannot be read.
        return ok && value > 0 ? value : qint64(4 * 1024 * 1024);
    }();
    return pidMax;
}

// Only a process id the system could have given: kill() with 0 or a
// negative id would ask about process groups or every process.
bool ProcessIsAlive(qint64 pid) {
    return pid > 0 && pid <= PidMax() && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// The device's name in a lock file: its path below /dev with '/' made '_'
// ("ttyUSB0", "pts_3").
QString LockName(const QString& path) {
    const QString node = QFileInfo(path).canonicalFilePath();
    const QString dev = QStringLiteral("/dev/");
    QString name = node.startsWith(dev) ? node.mid(dev.size()) : QFileInfo(node).fileName();
    return name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

// The pid in a lock file's content: ASCII digits (HDB style, blanks around)
// or a binary int; 0 when it names no process the system could have (out
// of 1 to pid_max, a sign, junk), which makes the lock stale.
qint64 PidOfLockContent(const QByteArray& content) {
    const QByteArray text = content.trimmed();
    const bool digits =
        !text.isEmpty() && text.size() <= 19 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    qint64 pid = 0;
    if (digits)
        pid = text.toLongLong();
    else if (content.size() == sizeof(qint32)) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        pid = binary;
    }
    return pid >= 1 && pid <= PidMax() ? pid : 0;
}

// The pid in a lock file, 0 for none. An empty file may be one that
// another program has just created and is about to write: it is read again
// for a moment before it counts as stale.
qint64 LockFilePid(const QString& fileName) {
    constexpr int emptyRereads = 10;
    constexpr useconds_t rereadPauseUs = 20 * 1000;
    for (int read = 0;; ++read) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray content = file.read(64);
        if (!content.isEmpty() || read == emptyRereads)
            return PidOfLockContent(content);
        ::usleep(rereadPauseUs);
    }
}

QString HolderText(const TDeviceHolder& holder) {
    QString text = QStringLiteral("%1 (pid %2)").arg(holder.Name).arg(holder.Pid);
    if (!holder.LockFile.isEmpty())
        text += QStringLiteral(", through the lock file %1").arg(holder.LockFile);
    return text;
}

QString BusyAdvice(const QString& path) {
    QList<TDeviceHolder> holders = LockFileHolders(path);
    for (const TDeviceHolder& holder : ProcessesHolding(path)) {
        if (std::none_of(holders.begin(), holders.end(),
                         [&](const TDeviceHolder& known) { return known.Pid == holder.Pid; }))
            holders.append(holder);
    }
    if (holders.isEmpty())
        return QStringLiteral("Another program uses the device.");
    QStringList names;
    bool service = false;
    for (const TDeviceHolder& holder : holders) {
        names.append(HolderText(holder));
        service |= holder.Name == QLatin1String("ModemManager") ||
                   holder.Name.startsWith(QLatin1String("brltty"));
    }
    QString text = QStringLiteral("It is held by %1.").arg(names.join(QStringLiteral(", ")));
    if (service)
        text += QStringLiteral("\nThat service takes new serial devices; stop it with\n"
                               "    sudo systemctl stop %1")
                    .arg(holders.first().Name.startsWith(QLatin1String("brltty"))
                             ? QStringLiteral("brltty")
                             : QStringLiteral("ModemManager"));
    return text;
}

QString PermissionAdvice(const QString& path) {
    struct stat info {};
    if (!StatOf(path, info))
        return {};
    const group* owner = ::getgrgid(info.st_gid);
    if (!owner || info.st_gid == 0)
        return QStringLiteral("Only root may open it.");
    const QString name = QString::fromLocal8Bit(owner->gr_name);
    return QStringLiteral("Members of group %1 may open it. Add yourself to the group with\n"
                          "    sudo usermod -aG %1 $USER\n"
                          "then log out and in again (a new terminal is not enough).")
        .arg(name);
}

QString MissingAdvice(const QString& path) {
    QString text = QFileInfo(path).isSymLink()
                       ? QStringLiteral("The link points to no device: the adapter is not "
                                        "plugged in.")
                       : QStringLiteral("There is no such device.");
    const QList<TPresentDevice> present = PresentSerialDevices();
    if (present.isEmpty())
        return text + QStringLiteral("\nNo serial device is present.");
    text += QStringLiteral("\nSerial devices present:");
    for (const TPresentDevice& device : present)
        text += QStringLiteral("\n    ") + device.DisplayName();
    return text;
}

QString KindOf(const struct stat& info) {
    switch (info.st_mode & S_IFMT) {
    case S_IFREG:
        return QStringLiteral("a regular file");
    case S_IFDIR:
        return QStringLiteral("a directory");
    case S_IFBLK:
        return QStringLiteral("a block device");
    case S_IFIFO:
        return QStringLiteral("a named pipe");
    case S_IFSOCK:
        return QStringLiteral("a socket");
    case S_IFCHR:
        return QStringLiteral("a character device");
    default:
        return QStringLiteral("something else");
    }
}

QString NotATerminalAdvice(const QString& path) {
    struct stat info {};
    if (!StatOf(path, info))
        return {};
    return QStringLiteral("It is %1, not a terminal.").arg(KindOf(info));
}

QStringList SortedEntries(const QDir& dir, const QString& pattern) {
    return dir.entryList({pattern}, QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

// A ttyS node exists for every port the kernel reserved; only those with a
// UART detected behind them (type not PORT_UNKNOWN) are real ports.
bool HasUart(const QString& sysTtyDir, const QString& name) {
    QFile type(sysTtyDir + QLatin1Char('/') + name + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed().toInt() != 0;
}

} // namespace

QString TPresentDevice::DisplayName() const {
    if (ById.isEmpty())
        return Node;
    return QStringLiteral("%1 (%2)").arg(ById, QFileInfo(Node).fileName());
}

int RefuseBeforeOpen(const QString& path) {
    struct stat info {};
    if (!StatOf(path, info))
        return 0;
    if (!S_ISCHR(info.st_mode))
        return ENOTTY;
    if (!LockFileHolders(path).isEmpty())
        return EBUSY;
    return 0;
}

QString DescribeOpenFailure(const QString& path, int error) {
    QString text = path;
    const QString node = QFileInfo(path).canonicalFilePath();
    if (!node.isEmpty() && node != path)
        text += QStringLiteral(" (%1)").arg(node);
    text += QStringLiteral(": ") + SystemErrorText(error);
    QString advice;
    switch (error) {
    case EBUSY:
        advice = BusyAdvice(path);
        break;
    case EACCES:
    case EPERM:
        advice = PermissionAdvice(path);
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        advice = MissingAdvice(path);
        break;
    case ENOTTY:
        advice = NotATerminalAdvice(path);
        break;
    default:
        break;
    }
    return advice.isEmpty() ? text : text + QLatin1Char('\n') + advice;
}

QList<TPresentDevice> PresentSerialDevices() {
    QString devDir;
    QString sysTtyDir;
    {
        std::lock_guard lock(DirectoriesLock);
        devDir = DevDirInUse.isEmpty() ? QStringLiteral("/dev") : DevDirInUse;
        sysTtyDir = SysTtyDirInUse.isEmpty() ? QStringLiteral("/sys/class/tty") : SysTtyDirInUse;
    }
    return PresentSerialDevices(devDir, sysTtyDir);
}

void SetDeviceDirectories(const QString& devDir, const QString& sysTtyDir) {
    std::lock_guard lock(DirectoriesLock);
    DevDirInUse = devDir;
    SysTtyDirInUse = sysTtyDir;
}

QList<TPresentDevice> PresentSerialDevices(const QString& devDir, const QString& sysTtyDir) {
    const QDir dev(devDir);
    QList<TPresentDevice> devices;
    const auto add = [&devices](const QString& node) { devices.append({node, {}}); };
    for (const QString& name : SortedEntries(dev, QStringLiteral("ttyUSB*")))
        add(dev.filePath(name));
    for (const QString& name : SortedEntries(dev, QStringLiteral("ttyACM*")))
        add(dev.filePath(name));
    for (const QString& name : SortedEntries(dev, QStringLiteral("ttyS*"))) {
        if (HasUart(sysTtyDir, name))
            add(dev.filePath(name));
    }
    const QDir byId(dev.filePath(QStringLiteral("serial/by-id")));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString node = link.canonicalFilePath();
        if (node.isEmpty())
            continue;
        const auto known =
            std::find_if(devices.begin(), devices.end(), [&](const TPresentDevice& d) {
                return QFileInfo(d.Node).canonicalFilePath() == node;
            });
        if (known == devices.end())
            devices.append({node, link.filePath()});
        else if (known->ById.isEmpty())
            known->ById = link.filePath();
    }
    return devices;
}

QList<TDeviceHolder> ProcessesHolding(const QString& path) {
    struct stat device {};
    QList<TDeviceHolder> holders;
    if (!StatOf(path, device) || !S_ISCHR(device.st_mode))
        return holders;
    const qint64 self = ::getpid();
    const QDir proc(QStringLiteral("/proc"));
    QList<qint64> pids;
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && pid != self)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    for (const qint64 pid : pids) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd :
             fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat target {};
            if (StatOf(fds.filePath(fd), target) && S_ISCHR(target.st_mode) &&
                target.st_rdev == device.st_rdev) {
                holders.append({pid, ProcessName(pid), {}});
                break;
            }
        }
    }
    return holders;
}

QList<TDeviceHolder> LockFileHolders(const QString& path) {
    QList<TDeviceHolder> holders;
    const QString name = LockName(path);
    if (name.isEmpty())
        return holders;
    const qint64 self = ::getpid();
    for (const QString& directory : LockDirectories()) {
        const QString lockFile = directory + QStringLiteral("/LCK..") + name;
        const qint64 pid = LockFilePid(lockFile);
        if (pid == self || !ProcessIsAlive(pid))
            continue;
        if (std::none_of(holders.begin(), holders.end(),
                         [pid](const TDeviceHolder& known) { return known.Pid == pid; }))
            holders.append({pid, ProcessName(pid), lockFile});
    }
    return holders;
}

QString CreateLockFile(const QString& path) {
    const QString name = LockName(path);
    if (name.isEmpty())
        return {};
    const QByteArray content =
        QByteArray::number(qint64(::getpid())).rightJustified(10, ' ') + '\n';
    for (const QString& directory : LockDirectories()) {
        const QString lockFile = directory + QStringLiteral("/LCK..") + name;
        if (!ProcessIsAlive(LockFilePid(lockFile)))
            QFile::remove(lockFile);
        // O_EXCL: of two programs starting at once, one gets the lock.
        const int fd =
            ::open(Native(lockFile).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            continue;
        const bool written =
            ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size());
        ::close(fd);
        if (written)
            return lockFile;
        QFile::remove(lockFile);
    }
    return {};
}

void RemoveLockFile(const QString& lockFile) {
    if (!lockFile.isEmpty() && LockFilePid(lockFile) == ::getpid())
        QFile::remove(lockFile);
}

void SetLockDirectories(const QStringList& directories) {
    std::lock_guard lock(DirectoriesLock);
    LockDirectoriesInUse = directories.isEmpty() ? DefaultLockDirectories : directories;
}
