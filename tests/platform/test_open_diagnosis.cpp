// Open failures that explain themselves: what the serial device refuses to
// open, and the detail text for each reason, on real pseudo-terminals,
// files, lock files and processes.
#include "platform/OpenDiagnosis.h"
#include "platform/TSerialDevice.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs Work in a child process named Name and keeps the text it returned.
// With Stay the child lives on until the object goes (or Kill()).
struct Child {
    Child(const char* name, const std::function<QByteArray()>& work, bool stay) {
        int out[2] = {-1, -1};
        if (::pipe(out) != 0)
            return;
        Pid = ::fork();
        if (Pid == 0) {
            ::prctl(PR_SET_NAME, name);
            const QByteArray answer = work() + '\n';
            [[maybe_unused]] const ssize_t sent = ::write(out[1], answer.data(), answer.size());
            while (stay)
                ::pause();
            ::_exit(0);
        }
        ::close(out[1]);
        char buffer[1024];
        for (ssize_t n; !Answer.endsWith('\n') && (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
            Answer.append(buffer, n);
        ::close(out[0]);
        if (!stay)
            Kill();
    }
    ~Child() { Kill(); }
    void Kill() {
        if (Alive && Pid > 0 && ::kill(Pid, SIGKILL) == 0)
            ::waitpid(Pid, nullptr, 0);
        Alive = false;
    }
    pid_t Pid = -1;
    bool Alive = true;
    QByteArray Answer;
};

void WriteLockFile(const QString& name, pid_t pid) {
    QFile lock(name);
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid).rightJustified(10, ' ') + "\n");
}

} // namespace

class TestOpenDiagnosis : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        SetLockDirectories({});
        SetDeviceDirectories({}, {});
    }

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
                                                "There is no such device.",
                                                "Serial devices present:\n    %dir/ttyUSB3"};
        QTest::newRow("regular file") << "file" << false
                                      << QStringList{"plain.txt: Inappropriate ioctl for device",
                                                     "It is a regular file, not a terminal."};
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
        const QByteArray node = QFile::encodeName(path);
        const QString lockFile = dir.Path() + "lock/LCK.." + path.mid(5).replace('/', '_');
        std::unique_ptr<Child> child;
        if (scenario == "process") {
            child = std::make_unique<Child>(
                "qx-holder",
                [&] {
                    ::flock(::open(node.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK), LOCK_EX);
                    return QByteArray();
                },
                true);
        } else if (scenario == "live lock") {
            child = std::make_unique<Child>(
                "qx-locker", [] { return QByteArray(); }, true);
            WriteLockFile(lockFile, child->Pid);
        } else if (scenario == "stale lock") {
            WriteLockFile(lockFile, Child(
                                        "qx-gone", [] { return QByteArray(); }, false)
                                        .Pid);
        } else if (scenario == "permission") {
            // As a serial device is: root's, read and write for group dialout.
            const group* dialout = ::getgrnam("dialout");
            if (::geteuid() != 0 || !dialout)
                QSKIP("needs root and a group dialout");
            QVERIFY(::chown(node.constData(), 0, dialout->gr_gid) == 0 &&
                    ::chmod(node.constData(), 0660) == 0);
            const Child nobody(
                "qx-nobody",
                [&] {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                        ::setuid(65534) != 0)
                        return QByteArray("still root");
                    TSerialDevice device;
                    return device.Open(path) ? QByteArray("opened")
                                             : DescribeOpenFailure(path, device.Error()).toUtf8();
                },
                false);
            QVERIFY(nobody.Answer.startsWith(node + ": "));
            for (const QString& part : detail)
                QVERIFY2(nobody.Answer.contains(part.toUtf8()), nobody.Answer.constData());
            return;
        } else if (scenario == "missing") {
            path = dir.Path() + "ttyGone";
            dir.WriteFile("ttyUSB3", {}); // the only serial device present
            SetDeviceDirectories(dir.Path(), dir.Path());
        } else if (scenario == "file") {
            dir.WriteFile("plain.txt", "not a tty");
            path = dir.Path() + "plain.txt";
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
            part.replace("%pid", QString::number(child ? child->Pid : 0));
            part.replace("%lock", lockFile);
            part.replace("%dir/", dir.Path());
            QVERIFY2(text.contains(part), qPrintable(text));
        }
        if (scenario == "file")
            QCOMPARE(dir.ReadFile("plain.txt"), QByteArray("not a tty"));
        if (scenario == "live lock") {
            // Once its process ended, the same lock file is stale.
            child->Kill();
            QVERIFY(device.Open(path));
        }
    }

    // A lock file names a live process only by a pid from 1 to the system's
    // pid_max, in digits or as a binary int; anything else is stale, and
    // the open replaces it. "%live" stands for a live child's pid.
    void lockFilePidsAreReadAsWhatTheyAre_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("live");
        QTest::newRow("live pid") << QByteArray("      %live\n") << true;
        QTest::newRow("live pid, binary") << QByteArray("%binary") << true;
        QTest::newRow("pid 1") << QByteArray("1\n") << true;
        QTest::newRow("4294967295 (-1 as 32 bits)") << QByteArray("4294967295\n") << false;
        QTest::newRow("4294967297 (1 as 32 bits)") << QByteArray("4294967297\n") << false;
        QTest::newRow("above pid_max") << QByteArray("%pidmax+1") << false;
        QTest::newRow("negative") << QByteArray("-1\n") << false;
        QTest::newRow("binary -1") << QByteArray("\xff\xff\xff\xff") << false;
        QTest::newRow("zero") << QByteArray("0\n") << false;
        QTest::newRow("junk") << QByteArray("12ab\n") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void lockFilePidsAreReadAsWhatTheyAre() {
        QFETCH(QByteArray, content);
        QFETCH(bool, live);
        TempAppDir dir;
        PtyPair pty;
        SetLockDirectories({dir.Path()});
        const Child child(
            "qx-locker", [] { return QByteArray(); }, true);
        const qint32 pid = child.Pid;
        QFile pidMax("/proc/sys/kernel/pid_max");
        QVERIFY(pidMax.open(QIODevice::ReadOnly));
        content.replace("%live", QByteArray::number(pid));
        content.replace("%binary", QByteArray(reinterpret_cast<const char*>(&pid), sizeof pid));
        content.replace("%pidmax+1",
                        QByteArray::number(pidMax.readAll().trimmed().toLongLong() + 1));
        const QString name = "LCK.." + pty.SlavePath().mid(5).replace('/', '_');
        dir.WriteFile(name, content);

        QCOMPARE(LockFileHolders(pty.SlavePath()).size(), live ? 1 : 0);
        TSerialDevice device;
        QCOMPARE(device.Open(pty.SlavePath()), !live);
        if (!live)
            QCOMPARE(dir.ReadFile(name).trimmed().toLongLong(), qint64(::getpid()));
    }

    // An open announces itself in a lock file where a lock directory takes
    // one (a missing or read-only one is no reason to fail); the close
    // removes it.
    void anOpenWritesItsLockFileWhereItCan() {
        TempAppDir dir;
        PtyPair pty;
        SetLockDirectories({dir.Path() + "missing", dir.Path()});
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        const QString name = "LCK.." + pty.SlavePath().mid(5).replace('/', '_');
        QCOMPARE(dir.ReadFile(name).trimmed().toLongLong(), qint64(::getpid()));
        device.Close();
        QVERIFY(!QFile::exists(dir.Path() + name));
    }
};

QTEST_GUILESS_MAIN(TestOpenDiagnosis)
#include "test_open_diagnosis.moc"
