// The window on lines that stop taking bytes or cannot be reached: it goes
// on handling events throughout (loopback and pseudo-terminals only).
#include "platform/TNetworkLink.h"
#include "serial/TQxComPort.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Patience = 15000;

// The longest pause between two turns of the event loop while Step runs at
// each turn, until it returns true or DurationMs passed. A window held by a
// write or a connect shows it as seconds.
qint64 LongestPause(int durationMs, const std::function<bool()>& step) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    [[maybe_unused]] const bool done = QTest::qWaitFor(
        [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
            return step();
        },
        durationMs);
    return longest;
}

QByteArray Drain(QTcpSocket* peer, PtyPair& pty) {
    if (!peer)
        return pty.ReadAll(500);
    QByteArray all;
    while (peer->waitForReadyRead(500))
        all += peer->readAll();
    return all + peer->readAll();
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

    // A paste far larger than the line and the loopback's buffers hold,
    // keys typed meanwhile: the window keeps answering, Stop Paste ends it
    // and drops what waits, and what is typed afterwards goes out.
    void pasteAndKeysToALineThatNeverReads() {
        QFETCH(bool, network);
        AppWindowFixture f;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        if (network)
            f.WriteSetting("Devices", "COM1",
                           "tcp://127.0.0.1:" + QByteArray::number(server.serverPort()));
        f.WriteSetting("COM-Device", "Baudrate", "921600");
        QVERIFY(f.Show());
        QTcpSocket* peer = nullptr;
        if (network) {
            QVERIFY(server.waitForNewConnection(Patience));
            peer = server.nextPendingConnection();
            peer->setReadBufferSize(4096);
        }
        TQxConsole& pane = *f.Window->Console();
        pane.SetLocalEcho(false);
        f.Fake.QuestionAnswers = {true};
        pane.PasteText(QString(10 * 1024 * 1024, QLatin1Char('p')));

        // Typed until the line is full and a while after.
        int fullTurns = 0;
        const qint64 pause = LongestPause(3 * Patience, [&] {
            QTest::keyClick(&pane, Qt::Key_K);
            fullTurns += SerialPort().PendingOutput() > 0 ? 1 : 0;
            return fullTurns > 50;
        });
        qInfo("longest pause of the window: %lld ms", pause);
        QVERIFY2(pause < 1000, qPrintable(QStringLiteral("held for %1 ms").arg(pause)));
        QVERIFY(pane.Pasting());

        QTest::keyClick(&pane, Qt::Key_Escape);
        QVERIFY(!pane.Pasting());
        QCOMPARE(SerialPort().PendingOutput(), 0);
        QVERIFY(!Drain(peer, f.Pty).isEmpty());
        QTest::keyClick(&pane, Qt::Key_Z);
        QVERIFY(Drain(peer, f.Pty).endsWith('z'));
    }

    // A network port whose server went away is retried while every new
    // connection goes unanswered (a full backlog drops the requests): the
    // window keeps handling keys during each connect.
    void reconnectingToAnUnansweringServerLeavesTheWindowAnswering() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), size) == 0);
        QVERIFY(::listen(listener, 0) == 0);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        AppWindowFixture f;
        f.WriteSetting("Devices", "COM1",
                       "tcp://127.0.0.1:" + QByteArray::number(ntohs(address.sin_port)));
        QVERIFY(f.Show());
        const int accepted = ::accept(listener, nullptr, nullptr);
        QVERIFY(accepted >= 0);
        // The accept queue (one connection) full: later requests go unanswered.
        int fillers[2];
        for (int& filler : fillers) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), size);
        }
        ::close(accepted);
        QVERIFY(QTest::qWaitFor(
            [&] { return f.Window->StatusText(0) == QLatin1String("COM1: disconnected"); },
            Patience));

        const int beeps = f.Fake.Beeps;
        const int connectMs = int(std::chrono::milliseconds(TNetworkLink::ConnectTimeout).count());
        const qint64 pause = LongestPause(connectMs + 3000, [&] {
            QTest::keyClick(f.Window->Console(), Qt::Key_K);
            return false;
        });
        QVERIFY2(pause < 2000, qPrintable(QStringLiteral("held for %1 ms").arg(pause)));
        // The keys met the disconnected port: one beep says so.
        QCOMPARE(f.Fake.Beeps, beeps + 1);
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: disconnected"));
        for (const int fd : {fillers[0], fillers[1], listener})
            ::close(fd);
    }
};

QTEST_MAIN(TestStalledLine)
#include "test_stalled_line.moc"
