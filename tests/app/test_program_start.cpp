// The real program, started from its own directory on the offscreen
// platform: it takes COM1 from the settings file beside it, holds the device
// while it runs and lets it go when it ends.
#include "platform/TProfileFile.h"
#include "platform/TSerialDevice.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <algorithm>

namespace {

bool DeviceIsFree(const PtyPair& pty) {
    TSerialDevice other;
    return other.Open(pty.SlavePath());
}

// Waits until the program has the device open, looking in /proc rather than
// trying to open the device: a probe that holds it at the moment the
// program opens it would make the program's own open fail.
bool HoldsDevice(const QProcess& console, const PtyPair& pty) {
    const QString fds = QStringLiteral("/proc/%1/fd/").arg(console.processId());
    return QTest::qWaitFor(
        [&] {
            const QStringList entries = QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot);
            return std::any_of(entries.begin(), entries.end(), [&](const QString& fd) {
                return QFileInfo(fds + fd).symLinkTarget() == pty.SlavePath();
            });
        },
        10000);
}

// The program copied into the directory, so that its own Console.ini would
// land there too.
QString CopyProgram(const TempAppDir& dir) {
    const QString program = dir.Path() + QStringLiteral("qx-console");
    QFile::copy(QStringLiteral(QX_CONSOLE_PATH), program);
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
}

} // namespace

class TestProgramStart : public QObject {
    Q_OBJECT

private slots:
    void opensTheMappedPortAndReleasesIt() {
        TempAppDir dir;
        PtyPair pty;
        dir.MapDevice(1, pty.SlavePath());
        const QString program = CopyProgram(dir);
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY(DeviceIsFree(pty));

        QProcess console;
        console.setProcessChannelMode(QProcess::ForwardedChannels);
        console.start(program, {});
        QVERIFY(console.waitForStarted());

        QVERIFY(HoldsDevice(console, pty));
        QVERIFY(!DeviceIsFree(pty));
        QVERIFY(pty.Write("hello from the target\r\n"));
        // The program sends nothing of its own accord, and keeps running.
        QVERIFY(pty.ReadAll(300).isEmpty());
        QCOMPARE(console.state(), QProcess::Running);

        // SIGTERM ends it as closing its window does: the placement is saved.
        console.terminate();
        QVERIFY(console.waitForFinished(10000));
        QCOMPARE(console.exitStatus(), QProcess::NormalExit);
        QVERIFY(DeviceIsFree(pty));
        QVERIFY(dir.ReadFile("Console.ini").contains("[Window]"));
    }

    // Options that answer at once, without a display or a window.
    void answersOptionsAndRefusesUnknownOnes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutHas");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--settings FILE" << "";
        QTest::newRow("short help") << QStringList{"-h"} << 0 << "Usage:" << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "Qx-Console 3.0" << "";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << ""
                                 << "unknown option '--frobnicate'";
        QTest::newRow("missing file") << QStringList{"--settings"} << 2 << ""
                                      << "needs a file name";
        QTest::newRow("stray argument") << QStringList{"board.ini"} << 2 << ""
                                        << "unexpected argument 'board.ini'";
        QTest::newRow("help names the run options")
            << QStringList{"--help"} << 0 << "--device PATH|URL      use this device" << "";
        QTest::newRow("help names the emulations")
            << QStringList{"--help"} << 0 << "--emulation ASCII|HEX|VT" << "";
        QTest::newRow("list") << QStringList{"--list"} << 0 << "" << "";
        QTest::newRow("bad rate") << QStringList{"--baud", "fast"} << 2 << ""
                                  << "bad value 'fast' for '--baud'";
        QTest::newRow("bad rate, short form") << QStringList{"/dev/ttyUSB0", "96OO"} << 2 << ""
                                              << "bad value '96OO' for '--baud'";
        QTest::newRow("bad line") << QStringList{"--line=8N3"} << 2 << ""
                                  << "bad value '8N3' for '--line'";
    }
    void answersOptionsAndRefusesUnknownOnes() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutHas);
        QFETCH(QString, stderrHas);
        QProcess console;
        // No display at all: these answers must not need one.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        console.setProcessEnvironment(environment);
        console.start(QStringLiteral(QX_CONSOLE_PATH), arguments);
        QVERIFY(console.waitForFinished(10000));
        QCOMPARE(console.exitStatus(), QProcess::NormalExit);
        QCOMPARE(console.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(console.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(console.readAllStandardError());
        QVERIFY2(out.contains(stdoutHas), qPrintable(out));
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
        if (exitCode != 0)
            QVERIFY2(err.contains(QLatin1String("Usage:")) && out.isEmpty(), qPrintable(err));
    }

    // A settings file of its own, named relative to the working directory:
    // its port is opened and the default file beside the program stays
    // untouched.
    void usesTheSettingsFileGiven() {
        TempAppDir dir;
        PtyPair pty;
        const QString program = CopyProgram(dir);
        TProfileFile settings(dir.Path() + QStringLiteral("board1.ini"));
        QVERIFY(settings.WriteString("Devices", "COM1", pty.SlavePath().toLocal8Bit()));

        QProcess console;
        console.setProcessChannelMode(QProcess::ForwardedChannels);
        console.setWorkingDirectory(dir.Path());
        console.start(program, {QStringLiteral("--settings"), QStringLiteral("board1.ini")});
        QVERIFY(console.waitForStarted());
        QVERIFY(HoldsDevice(console, pty));
        QVERIFY(!DeviceIsFree(pty));
        QVERIFY(!QFile::exists(dir.SettingsFile()));

        console.terminate();
        QVERIFY(console.waitForFinished(10000));
        QVERIFY(DeviceIsFree(pty));
    }
};

QTEST_MAIN(TestProgramStart)
#include "test_program_start.moc"
