// Sending on lines that stop taking bytes (a pty whose target side reads
// late, a loopback peer that does not read): nothing waits beyond its time.
#include "platform/TNetworkLink.h"
#include "platform/TTelnetCodec.h"
#include "serial/TQxComPort.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>

Q_DECLARE_METATYPE(TLineUser)

namespace {

constexpr int Patience = 15000;

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

// Reads from Peer until Count bytes came or Patience ran out.
QByteArray ReadFrom(QTcpSocket& peer, qsizetype count) {
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (all.size() < count && clock.elapsed() < Patience)
        if (peer.bytesAvailable() > 0 || peer.waitForReadyRead(100))
            all += peer.read(std::min(count - all.size(), peer.bytesAvailable()));
    return all;
}

struct TPtyPort {
    TPtyPort() { Dir.MapDevice(1, Pty.SlavePath()); }
    TempAppDir Dir;
    FakeInteraction Ui;
    PtyPair Pty;
    TQxComPort Port;
};

} // namespace

class TestLineSending : public QObject {
    Q_OBJECT

private slots:
    void claimedLineRefusesKeysAndAnswers_data() {
        QTest::addColumn<TLineUser>("owner");
        QTest::addColumn<TLineUser>("sender");
        QTest::addColumn<bool>("sent");
        QTest::newRow("free, keys") << TLineUser::Keys << TLineUser::Keys << true;
        QTest::newRow("free, answers") << TLineUser::Keys << TLineUser::Answers << true;
        QTest::newRow("download, keys") << TLineUser::Download << TLineUser::Keys << false;
        QTest::newRow("download, answers") << TLineUser::Download << TLineUser::Answers << false;
        QTest::newRow("download, itself") << TLineUser::Download << TLineUser::Download << true;
        QTest::newRow("transfer, keys") << TLineUser::Transfer << TLineUser::Keys << false;
        QTest::newRow("transfer, itself") << TLineUser::Transfer << TLineUser::Transfer << true;
    }

    void claimedLineRefusesKeysAndAnswers() {
        QFETCH(TLineUser, owner);
        QFETCH(TLineUser, sender);
        QFETCH(bool, sent);
        TPtyPort rig;
        QVERIFY(rig.Port.OpenPort(false));
        bool cancelled = false;
        const bool owned = owner != TLineUser::Keys;
        QCOMPARE(rig.Port.ClaimLine(owner, [&cancelled] { cancelled = true; }), owned);
        // One owner at a time.
        QCOMPARE(rig.Port.ClaimLine(TLineUser::Download), !owned);
        if (!owned)
            rig.Port.ReleaseLine();
        QCOMPARE(rig.Port.LineOwner(), owner);
        QCOMPARE(rig.Port.Send("x", sender), sent);
        QCOMPARE(rig.Pty.ReadAll(100), sent ? QByteArray("x") : QByteArray());
        QCOMPARE(rig.Port.CancelLineOwner(), owned);
        QCOMPARE(cancelled, owned);
        rig.Port.ReleaseLine();
        QVERIFY(rig.Port.Send("y"));
        QCOMPARE(rig.Pty.ReadAll(100), QByteArray("y"));
        QVERIFY(rig.Port.ClosePort());
        QVERIFY(!rig.Port.Send("z"));
    }

    // Keys the line could not take at once wait (bounded) and go out, in
    // order, before the first byte of a download that claimed the line.
    void queuedKeysGoBeforeTheOwnersBytes() {
        TPtyPort rig;
        QVERIFY(rig.Port.OpenPort(false));
        const QByteArray keys = Pattern(200000);
        QVERIFY(rig.Port.Send(keys));
        QVERIFY(rig.Port.PendingOutput() > 0);
        QVERIFY(!rig.Port.Send(QByteArray(1024 * 1024, 'x')));
        QVERIFY(rig.Port.ClaimLine(TLineUser::Download));
        std::atomic<bool> written{false};
        QByteArray arrived;
        std::thread owner([&] {
            written =
                rig.Port.WriteFromWorker(
                    "OWNER", [] { return false; }, Patience) == TQxComPort::TWriteOutcome::Written;
        });
        std::thread target([&] { arrived = rig.Pty.Read(int(keys.size()) + 5, Patience); });
        // The queue drains on the main thread.
        QTRY_VERIFY_WITH_TIMEOUT(written.load(), Patience);
        owner.join();
        target.join();
        QVERIFY(arrived == keys + "OWNER");
    }

    // A deadline that cuts a doubled 0xFF in half ends the write in time;
    // the owed half goes before the next byte, so the peer reads every byte
    // once. One plain byte ahead of the 0xFF bytes puts the pairs at odd
    // places: a socket that takes an even count cuts one.
    void doubledByteWriteToAStalledPeerKeepsItsDeadline() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TNetworkLink link;
        QVERIFY(link.Connect(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort())));
        // The connect ran the event loop: the server may have taken it.
        QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(Patience));
        QTcpSocket& peer = *server.nextPendingConnection();
        peer.setReadBufferSize(4096);
        QByteArray arrived = ReadFrom(peer, TTelnetCodec().Start().size());
        const QByteArray data = "a" + QByteArray(4094, '\xFF');
        QByteArray expected = arrived;
        for (int round = 0; round < 8; ++round) {
            std::atomic<bool> returned{false};
            std::thread writer([&] {
                for (int n = int(data.size()); n == data.size();) {
                    n = link.Write(data.constData(), int(data.size()),
                                   std::chrono::steady_clock::now() + std::chrono::milliseconds(50),
                                   true);
                    expected += TTelnetCodec::Escape(data.constData(), std::size_t(n));
                }
                returned = true;
            });
            const bool inTime = QTest::qWaitFor([&] { return returned.load(); }, 5000);
            if (!inTime) // frees a writer that waits without a deadline
                arrived += ReadFrom(peer, 1 << 30);
            writer.join();
            QVERIFY2(inTime, "a write outlived its deadline");
            arrived += ReadFrom(peer, 1001 + 2 * round);
        }
        std::atomic<int> last{-1};
        std::thread writer([&] {
            last = link.Write("x", 1, std::chrono::steady_clock::now() + std::chrono::seconds(10),
                              true);
        });
        arrived += ReadFrom(peer, expected.size() + 1 - arrived.size());
        writer.join();
        QCOMPARE(last.load(), 1);
        QVERIFY(arrived == expected + "x");
    }
};

QTEST_GUILESS_MAIN(TestLineSending)
#include "test_line_sending.moc"
