// Sending from the main thread on lines that stop taking bytes: a
// pseudo-terminal whose target side never reads and a TCP peer that accepts
// and never reads (loopback only). The port must queue, never wait.
#include "platform/TNetworkLink.h"
#include "platform/TTelnetCodec.h"
#include "serial/TQxComPort.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/StalledPeer.h"
#include "tests/support/TempAppDir.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr int Patience = 15000;

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

// A port on COM1, mapped to a pty or to a stalled TCP peer.
struct TLineRig {
    explicit TLineRig(bool network) : Network(network) {
        Dir.MapDevice(1, network ? Peer.Url("tcp") : Pty.SlavePath());
    }
    int TargetFd() { return Network ? Peer.Peer() : Pty.MasterFd(); }

    bool Network;
    TempAppDir Dir;
    FakeInteraction Ui;
    PtyPair Pty;
    StalledPeer Peer;
    TQxComPort Port;
};

} // namespace

Q_DECLARE_METATYPE(TLineUser)

class TestLineSending : public QObject {
    Q_OBJECT

private slots:
    void stalledLineQueuesThenDrainsInOrder_data() {
        QTest::addColumn<bool>("network");
        QTest::newRow("pty") << false;
        QTest::newRow("tcp") << true;
    }

    // Sends until the bounded queue refuses: every call returns, the line
    // is reported stalled, and once the target reads it gets every byte
    // that was accepted, in order.
    void stalledLineQueuesThenDrainsInOrder() {
        QFETCH(bool, network);
        TLineRig rig(network);
        QList<bool> stalls;
        rig.Port.OnOutputStalled = [&stalls](bool stalled) { stalls << stalled; };
        QVERIFY(rig.Port.OpenPort(false));
        const int target = rig.TargetFd();
        QVERIFY(target >= 0);

        const QByteArray piece = Pattern(65536);
        QByteArray accepted;
        while (rig.Port.Send(piece) && accepted.size() < 64 * piece.size())
            accepted += piece;
        QVERIFY(rig.Port.PendingOutput() > 0);
        QVERIFY(rig.Port.PendingOutput() <= 1024 * 1024);
        QVERIFY(!rig.Port.Send(piece));
        QTRY_COMPARE_WITH_TIMEOUT(stalls, QList<bool>{true}, Patience);

        std::atomic<bool> read{false};
        QByteArray arrived;
        std::thread reader([&] {
            arrived = ReadFromFd(target, accepted.size());
            read = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(read.load(), Patience + 5000);
        reader.join();
        QCOMPARE(arrived.size(), accepted.size());
        QVERIFY(arrived == accepted);
        QCOMPARE(rig.Port.PendingOutput(), 0);
        QCOMPARE(stalls, (QList<bool>{true, false}));
    }

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
        TLineRig rig(false);
        QVERIFY(rig.Port.OpenPort(false));
        bool cancelled = false;
        if (owner != TLineUser::Keys) {
            QVERIFY(rig.Port.ClaimLine(owner, [&cancelled] { cancelled = true; }));
            // One owner at a time.
            QVERIFY(!rig.Port.ClaimLine(TLineUser::Download));
            QVERIFY(!rig.Port.ClaimLine(TLineUser::Transfer));
        }
        QCOMPARE(rig.Port.LineOwner(), owner);
        QCOMPARE(rig.Port.Send("x", sender), sent);
        QCOMPARE(rig.Pty.ReadAll(100), sent ? QByteArray("x") : QByteArray());
        QCOMPARE(rig.Port.CancelLineOwner(), owner != TLineUser::Keys);
        QCOMPARE(cancelled, owner != TLineUser::Keys);
        rig.Port.ReleaseLine();
        QCOMPARE(rig.Port.LineOwner(), TLineUser::Keys);
        QVERIFY(rig.Port.Send("y"));
        QCOMPARE(rig.Pty.ReadAll(100), QByteArray("y"));
        // Nobody sends on a closed port, and keys cannot own the line.
        QVERIFY(!rig.Port.ClaimLine(TLineUser::Keys));
        QVERIFY(rig.Port.ClosePort());
        QVERIFY(!rig.Port.Send("z"));
    }

    // Keys queued before a download claimed the line go out before the
    // download's first byte.
    void queuedKeysGoBeforeTheOwnersBytes() {
        TLineRig rig(false);
        QVERIFY(rig.Port.OpenPort(false));
        const QByteArray keys = Pattern(200000);
        QVERIFY(rig.Port.Send(keys));
        QVERIFY(rig.Port.PendingOutput() > 0);
        QVERIFY(rig.Port.ClaimLine(TLineUser::Download));
        std::atomic<bool> written{false};
        std::thread owner([&] {
            written =
                rig.Port.WriteFromWorker(
                    "OWNER", [] { return false; }, Patience) == TQxComPort::TWriteOutcome::Written;
        });
        QByteArray arrived;
        std::atomic<bool> read{false};
        std::thread target([&] {
            arrived = ReadFromFd(rig.Pty.MasterFd(), keys.size() + 5);
            read = true;
        });
        // The queue drains on the main thread.
        QTRY_VERIFY_WITH_TIMEOUT(read.load(), Patience + 5000);
        target.join();
        owner.join();
        QVERIFY(written.load());
        QVERIFY(arrived == keys + "OWNER");
    }

    // A deadline that cuts a doubled 0xFF in half still ends the write in
    // time; the owed half goes before the next byte, so the peer reads
    // every byte exactly once. One plain byte ahead of the 0xFF bytes puts
    // the pairs at odd places: a socket that takes an even count cuts one.
    void doubledByteWriteToAStalledPeerKeepsItsDeadline() {
        StalledPeer peer;
        TNetworkLink link;
        QVERIFY(link.Connect(peer.Url("rfc2217")));
        const int target = peer.Peer();
        QVERIFY(target >= 0);
        const QByteArray offer = TTelnetCodec().Start();
        QCOMPARE(ReadFromFd(target, offer.size()), offer);
        const QByteArray data = "a" + QByteArray(4094, '\xFF');
        QByteArray expected;
        QByteArray arrived;
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
                arrived += ReadFromFd(target, 1 << 30);
            writer.join();
            QVERIFY2(inTime, "a write outlived its deadline");
            arrived += ReadFromFd(target, 1001 + 2 * round);
        }
        std::thread reader(
            [&] { arrived += ReadFromFd(target, expected.size() + 1 - arrived.size()); });
        const int last =
            link.Write("x", 1, std::chrono::steady_clock::now() + std::chrono::seconds(10), true);
        reader.join();
        QCOMPARE(last, 1);
        QCOMPARE(arrived.size(), expected.size() + 1);
        QVERIFY(arrived == expected + "x");
    }
};

QTEST_GUILESS_MAIN(TestLineSending)
#include "test_line_sending.moc"
