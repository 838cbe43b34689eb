// The real program, started from its own directory on the offscreen
// platform: it takes COM1 from the settings file beside it, holds the device
// while it runs and lets it go when it ends.
#include "platform/SerialDevice.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

bool DeviceIsFree(const PtyPair& pty) {
    TSerialDevice other;
    return other.Open(pty.SlavePath());
}

} // namespace

class TestProgramStart : public QObject {
    Q_OBJECT

private slots:
    void opensTheMappedPortAndReleasesIt() {
        TempAppDir dir;
        PtyPair pty;
        dir.MapDevice(1, pty.SlavePath());
        const QString program = dir.Path() + QStringLiteral("qx-console");
        QVERIFY(QFile::copy(QStringLiteral(QX_CONSOLE_PATH), program));
        QVERIFY(
            QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(DeviceIsFree(pty));

        QProcess console;
        console.setProcessChannelMode(QProcess::ForwardedChannels);
        console.start(program, {});
        QVERIFY(console.waitForStarted());

        QVERIFY(QTest::qWaitFor([&pty] { return !DeviceIsFree(pty); }, 10000));
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
};

QTEST_MAIN(TestProgramStart)
#include "test_program_start.moc"
