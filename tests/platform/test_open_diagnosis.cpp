// Open failures that explain themselves: what the serial device refuses to
// open, and the detail text for each reason, on real pseudo-terminals,
// files, lock files and processes.
#include "platform/OpenDiagnosis.h"
#include "platform/SerialDevice.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process named Name that, when Path is given, holds that device
// open and locked; it lives until the object goes.
class ChildProcess {
public:
    explicit ChildProcess(const char* name, const QString& path = {}) {
        int ready[2] = {-1, -1};
        if (::pipe(ready) != 0)
            return;
        const QByteArray device = QFile::encodeName(path);
        FPid = ::fork();
        if (FPid == 0) {
            ::prctl(PR_SET_NAME, name);
            if (!device.isEmpty()) {
                const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                ::flock(fd, LOCK_EX | LOCK_NB);
            }
            [[maybe_unused]] const ssize_t sent = ::write(ready[1], "x", 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(ready[0], &byte, 1);
        ::close(ready[0]);
    }
    ~ChildProcess() { Stop(); }
    void Stop() {
        if (FPid <= 0)
            return;
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
    pid_t Pid() const { return FPid; }

private:
    pid_t FPid = -1;
};

// A pid that belonged to a process that has ended.
pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

QString LockNameOf(const QString& path) {
    return QStringLiteral("LCK..") + QFileInfo(path).canonicalFilePath().mid(5).replace('/', '_');
}

// Opens Path in a child that dropped root's rights (uid and gid of
// "nobody"); the detail of its failure, or "opened".
QString OpenAsNobody(const QString& path) {
    int out[2] = {-1, -1};
    if (::pipe(out) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(1);
        TSerialDevice device;
        const QByteArray text = device.Open(path)
                                    ? QByteArray("opened")
                                    : DescribeOpenFailure(path, device.Error()).toUtf8();
        [[maybe_unused]] const ssize_t sent = ::write(out[1], text.constData(), text.size());
        ::_exit(0);
    }
    ::close(out[1]);
    QByteArray text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return QString::fromUtf8(text);
}

} // namespace

class TestOpenDiagnosis : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetLockDirectories({}); }

    // Each reason: whether the open succeeds, and what its detail says.
    // "%pid" stands for the holding child's pid, "%lock" for the lock file.
    void eachReasonNamesTheDeviceAndWhatToDo_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QStringList>("detail");
        QTest::newRow("busy by another process")
            << "process" << false
            << QStringList{"Device or resource busy", "It is held by qx-holder (pid %pid)."};
        QTest::newRow("live lock file")
            << "live lock" << false
            << QStringList{"Device or resource busy",
                           "held by qx-locker (pid %pid), through the lock file %lock"};
        QTest::newRow("stale lock file ignored") << "stale lock" << true << QStringList{};
        QTest::newRow("permission as a non-root user")
            << "permission" << false
            << QStringList{"Permission denied", "Members of group dialout may open it",
                           "sudo usermod -aG dialout $USER", "log out and in again"};
        QTest::newRow("missing") << "missing" << false
                                 << QStringList{"ttyGone: No such file or directory",
                                                "There is no such device."};
        QTest::newRow("regular file") << "file" << false
                                      << QStringList{"plain.txt: Inappropriate ioctl for device",
                                                     "It is a regular file, not a terminal."};
        QTest::newRow("directory")
            << "directory" << false << QStringList{"It is a directory, not a terminal."};
        QTest::newRow("character device that is no terminal")
            << "null" << false << QStringList{"It is a character device, not a terminal."};
    }

    void eachReasonNamesTheDeviceAndWhatToDo() {
        QFETCH(QString, scenario);
        QFETCH(bool, opens);
        QFETCH(QStringList, detail);
        TempAppDir dir;
        PtyPair pty;
        SetLockDirectories({dir.Path() + "lock"});
        QVERIFY(QDir(dir.Path()).mkdir("lock"));
        QString path = pty.SlavePath();
        const QString lockFile = dir.Path() + "lock/" + LockNameOf(path);
        std::unique_ptr<ChildProcess> child;

        if (scenario == "process") {
            child = std::make_unique<ChildProcess>("qx-holder", path);
        } else if (scenario == "live lock") {
            child = std::make_unique<ChildProcess>("qx-locker");
            QFile lock(lockFile);
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(child->Pid()).rightJustified(10, ' ') + "\n");
        } else if (scenario == "stale lock") {
            QFile lock(lockFile);
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(DeadPid()).rightJustified(10, ' ') + "\n");
        } else if (scenario == "permission") {
            if (::geteuid() != 0)
                QSKIP("dropping to another user needs root");
            // As a serial device is: root's, read and write for its group.
            const group* dialout = ::getgrnam("dialout");
            if (!dialout)
                QSKIP("no group dialout");
            QVERIFY(::chown(QFile::encodeName(path).constData(), 0, dialout->gr_gid) == 0);
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0660) == 0);
            const QString text = OpenAsNobody(path);
            QVERIFY2(!text.startsWith("opened") && !text.isEmpty(), qPrintable(text));
            QVERIFY(text.startsWith(path + ": "));
            for (const QString& part : detail)
                QVERIFY2(text.contains(part), qPrintable(text));
            return;
        } else if (scenario == "missing") {
            path = dir.Path() + "ttyGone";
        } else if (scenario == "file") {
            dir.WriteFile("plain.txt", "not a tty");
            path = dir.Path() + "plain.txt";
        } else if (scenario == "directory") {
            path = dir.Path() + "lock";
        } else if (scenario == "null") {
            path = "/dev/null";
        }

        TSerialDevice device;
        QCOMPARE(device.Open(path), opens);
        if (opens)
            return;
        const QString text = DescribeOpenFailure(path, device.Error());
        QVERIFY2(text.startsWith(path + ": " + device.ErrorText()) || text.startsWith(path + " ("),
                 qPrintable(text));
        for (QString part : detail) {
            part.replace("%pid", QString::number(child ? child->Pid() : 0));
            part.replace("%lock", lockFile);
            QVERIFY2(text.contains(part), qPrintable(text));
        }
        if (scenario == "file")
            QCOMPARE(dir.ReadFile("plain.txt"), QByteArray("not a tty"));
        if (scenario == "live lock") {
            // Once its process ended, the same lock file is stale.
            child->Stop();
            QVERIFY(device.Open(path));
        }
    }

    void presentDevicesAreAdaptersAndRealUartsWithTheirByIdLinks() {
        TempAppDir dir;
        QDir root(dir.Path());
        QVERIFY(root.mkpath("dev/serial/by-id") && root.mkpath("sys/ttyS0") &&
                root.mkpath("sys/ttyS1"));
        for (const char* node : {"dev/ttyUSB0", "dev/ttyUSB1", "dev/ttyACM0", "dev/ttyS0",
                                 "dev/ttyS1", "dev/ttyAMA0", "dev/tty1"})
            dir.WriteFile(node, {});
        dir.WriteFile("sys/ttyS0/type", "4\n");
        dir.WriteFile("sys/ttyS1/type", "0\n");
        QVERIFY(QFile::link("../../ttyUSB1", dir.Path() + "dev/serial/by-id/usb-FTDI_A5-port0"));
        QVERIFY(QFile::link("../../ttyAMA0", dir.Path() + "dev/serial/by-id/board-uart"));
        QVERIFY(QFile::link("../../ttyNone", dir.Path() + "dev/serial/by-id/usb-unplugged"));

        QStringList names;
        for (const TPresentDevice& device :
             PresentSerialDevices(dir.Path() + "dev", dir.Path() + "sys"))
            names.append(device.DisplayName() + " -> " +
                         device.StablePath().mid(dir.Path().size()));
        const QString byId = dir.Path() + "dev/serial/by-id/";
        QCOMPARE(names,
                 (QStringList{dir.Path() + "dev/ttyUSB0 -> dev/ttyUSB0",
                              byId + "usb-FTDI_A5-port0 (ttyUSB1) -> "
                                     "dev/serial/by-id/usb-FTDI_A5-port0",
                              dir.Path() + "dev/ttyACM0 -> dev/ttyACM0",
                              dir.Path() + "dev/ttyS0 -> dev/ttyS0",
                              byId + "board-uart (ttyAMA0) -> dev/serial/by-id/board-uart"}));
    }
};

QTEST_GUILESS_MAIN(TestOpenDiagnosis)
#include "test_open_diagnosis.moc"
