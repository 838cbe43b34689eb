// The window on lines that stop taking bytes or cannot be reached: it must
// go on handling events throughout (loopback and pseudo-terminals only).
#include "platform/TNetworkLink.h"
#include "serial/TQxComPort.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"
#include "tests/support/StalledPeer.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

constexpr int Patience = 15000;

// The longest pause between two turns of the event loop while Step runs
// for each turn, until it returns true or DurationMs passed: the window
// answers as long as it stays short. A window held by a write or a connect
// shows it as seconds.
qint64 LongestPause(int durationMs, const std::function<bool()>& step) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    [[maybe_unused]] const bool done = QTest::qWaitFor(
        [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
            return step();
        },
        durationMs);
    return longest;
}

QString PasteText(int size) {
    QString text;
    text.reserve(size);
    while (text.size() < size)
        text += QStringLiteral("the quick brown fox %1\n").arg(text.size());
    return text;
}

} // namespace

class TestStalledLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    void pasteAndKeysToALineThatNeverReads_data() {
        QTest::addColumn<bool>("network");
        QTest::newRow("pty") << false;
        QTest::newRow("tcp") << true;
    }

    // A paste far larger than the line holds, keys typed meanwhile: the
    // window keeps answering, Stop Paste ends it and drops what waits, and
    // the line carries what is typed afterwards.
    void pasteAndKeysToALineThatNeverReads() {
        QFETCH(bool, network);
        AppWindowFixture f;
        StalledPeer peer;
        if (network)
            f.WriteSetting("Devices", "COM1", peer.Url("tcp").toUtf8());
        f.WriteSetting("COM-Device", "Baudrate", "921600");
        QVERIFY(f.Show());
        const int target = network ? peer.Peer() : f.Pty.MasterFd();
        QVERIFY(target >= 0);
        TQxConsole& pane = *f.Window->Console();

        pane.SetLocalEcho(false);
        // More than the loopback's buffers hold.
        f.Fake.QuestionAnswers = {true};
        pane.PasteText(PasteText(10 * 1024 * 1024));
        QVERIFY(pane.Pasting());
        // Typed until the line is full and a while after.
        int fullTurns = 0;
        const qint64 pause = LongestPause(3 * Patience, [&] {
            QTest::keyClick(&pane, Qt::Key_K);
            fullTurns += SerialPort().PendingOutput() > 0 ? 1 : 0;
            return fullTurns > 50;
        });
        QVERIFY2(pause < 1000, qPrintable(QStringLiteral("held for %1 ms").arg(pause)));
        QVERIFY(pane.Pasting());
        QVERIFY(SerialPort().PendingOutput() > 0);

        QTest::keyClick(&pane, Qt::Key_Escape);
        QVERIFY(!pane.Pasting());
        QCOMPARE(SerialPort().PendingOutput(), 0);
        // What the line holds drains; what is typed now follows it.
        const QByteArray held = ReadFromFd(target, 1 << 30, 1000);
        QVERIFY(!held.isEmpty());
        QTest::keyClick(&pane, Qt::Key_Z);
        QCOMPARE(ReadFromFd(target, 1), QByteArray("z"));
    }

    // A network port whose server went away is retried while every new
    // connection goes unanswered (a full backlog drops the requests): the
    // window keeps handling keys during each connect.
    void reconnectingToAnUnansweringServerLeavesTheWindowAnswering() {
        AppWindowFixture f;
        StalledPeer server(0);
        f.WriteSetting("Devices", "COM1", server.Url("tcp").toUtf8());
        QVERIFY(f.Show());
        QVERIFY(server.Peer() >= 0);
        server.FillBacklog();
        server.DropPeer();
        QVERIFY(QTest::qWaitFor(
            [&] { return f.Window->StatusText(0) == QLatin1String("COM1: disconnected"); },
            Patience));

        TQxConsole& pane = *f.Window->Console();
        const int beeps = f.Fake.Beeps;
        const qint64 pause = LongestPause(
            3000 + int(std::chrono::milliseconds(TNetworkLink::ConnectTimeout).count()), [&] {
                QTest::keyClick(&pane, Qt::Key_K);
                return false;
            });
        QVERIFY2(pause < 2000, qPrintable(QStringLiteral("held for %1 ms").arg(pause)));
        // The keys met the disconnected port: one beep says so.
        QCOMPARE(f.Fake.Beeps, beeps + 1);
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: disconnected"));
    }
};

QTEST_MAIN(TestStalledLine)
#include "test_stalled_line.moc"
