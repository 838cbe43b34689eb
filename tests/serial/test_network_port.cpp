// The serial port component on network ports: a real ser2net serving a
// pseudo-terminal over RFC 2217 (and raw TCP), and small servers of the
// test's own for what ser2net does not do. Loopback only.
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2netServer.h"
#include "tests/support/TempAppDir.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <termios.h>

namespace {

constexpr int Patience = 10000;

QByteArray Received(TQxComPort& port, int count) {
    QByteArray all;
    [[maybe_unused]] const bool complete = QTest::qWaitFor(
        [&] {
            char buffer[4096];
            const int n = port.ReadBuffer(buffer, sizeof buffer);
            all.append(buffer, n);
            return all.size() >= count;
        },
        Patience);
    return all;
}

QByteArray AllBytes() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    bytes.append("\xFF\xFF\xFF");
    return bytes;
}

speed_t MasterSpeed(const PtyPair& pty) {
    termios line{};
    tcgetattr(pty.MasterFd(), &line);
    return cfgetospeed(&line);
}

} // namespace

class TestNetworkPort : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!Ser2netServer::Installed() &&
            QByteArray(QTest::currentTestFunction()).contains("Ser2net"))
            QSKIP("ser2net is not installed (scripts/install-deps.sh installs it)");
    }

    // Every byte value both ways, line settings through RFC 2217, a lost
    // server shown and reconnected.
    void rfc2217ThroughSer2net() {
        PtyPair pty;
        TempAppDir dir;
        Ser2netServer server(pty.SlavePath(), QStringLiteral("telnet(rfc2217),tcp"));
        QVERIFY(server.Start());
        dir.MapDevice(1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.Port()));
        FakeInteraction prompts;
        TQxComPort port;
        QStringList changes;
        port.OnConnectionChanged = [&](bool up) { changes << (up ? "up" : "down"); };
        port.SetBaudrate(br57600);
        QVERIFY(port.OpenPort(false));
        QVERIFY2(prompts.Prompts.isEmpty(), qPrintable(prompts.WarningTexts().join('\n')));
        QVERIFY(port.CarriesLineSettings());
        QVERIFY(QTest::qWaitFor([&] { return MasterSpeed(pty) == B57600; }, Patience));
        port.SetBaudrate(br115200);
        QVERIFY(QTest::qWaitFor([&] { return MasterSpeed(pty) == B115200; }, Patience));

        const QByteArray bytes = AllBytes();
        QVERIFY(port.WriteString(bytes));
        QCOMPARE(pty.Read(int(bytes.size()), Patience), bytes);
        QVERIFY(pty.Write(bytes));
        QCOMPARE(Received(port, int(bytes.size())), bytes);

        server.Stop();
        QVERIFY(QTest::qWaitFor([&] { return !changes.isEmpty(); }, Patience));
        QVERIFY(port.Disconnected());
        QCOMPARE(changes, QStringList{"down"});
        QVERIFY(server.Start());
        QVERIFY(QTest::qWaitFor([&] { return port.Open(); }, Patience));
        QCOMPARE(changes, (QStringList{"down", "up"}));
        QVERIFY(port.WriteString("again"));
        QCOMPARE(pty.Read(5, Patience), QByteArray("again"));
        QVERIFY(port.ClosePort());
    }

    // ser2net's raw TCP accepter: bytes only, shown as such.
    void rawTcpThroughSer2net() {
        PtyPair pty;
        TempAppDir dir;
        Ser2netServer server(pty.SlavePath(), QStringLiteral("tcp"));
        QVERIFY(server.Start());
        dir.MapDevice(2, QStringLiteral("tcp://localhost:%1").arg(server.Port()));
        TQxComPort port;
        port.SetComPort(poCOM2);
        QVERIFY(port.OpenPort(true));
        QVERIFY(!port.CarriesLineSettings());
        const QByteArray bytes = AllBytes();
        QVERIFY(port.WriteString(bytes));
        QCOMPARE(pty.Read(int(bytes.size()), Patience), bytes);
        QVERIFY(pty.Write(bytes));
        QCOMPARE(Received(port, int(bytes.size())), bytes);
        QVERIFY(port.ClosePort());
    }

    // A Telnet server that never answers the COM port option: the port
    // still carries the bytes, unescaped on the way in, and says it is raw.
    void telnetServerWithoutComPortOption() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        TempAppDir dir;
        dir.MapDevice(1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort()));
        TQxComPort port;
        QVERIFY(port.OpenPort(true));
        QVERIFY(!port.CarriesLineSettings());
        QTcpSocket* peer = server.nextPendingConnection();
        QVERIFY(peer);
        peer->write("\xFF\xFF"
                    "a\xFF");
        peer->flush();
        QTest::qWait(50);
        peer->write("\xFF"
                    "b");
        QCOMPARE(Received(port, 4), QByteArray("\xFF"
                                               "a\xFF"
                                               "b"));
        delete peer;
        QVERIFY(QTest::qWaitFor([&] { return port.Disconnected(); }, Patience));
        port.ClosePort();
    }

    // The open warning names the reason.
    void failureReasons_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << QStringLiteral("tcp://127.0.0.1:%1").arg(FreeLoopbackPort())
                                 << "connection refused";
        QTest::newRow("no such host") << "rfc2217://no-such-host.invalid:3001"
                                      << "not found";
        QTest::newRow("no port") << "tcp://127.0.0.1"
                                 << "not a network port address";
    }
    void failureReasons() {
        QFETCH(QString, url);
        QFETCH(QString, reason);
        TempAppDir dir;
        dir.MapDevice(1, url);
        FakeInteraction prompts;
        TQxComPort port;
        QVERIFY(!port.OpenPort(false));
        QCOMPARE(prompts.Prompts.size(), 1);
        QVERIFY2(prompts.Prompts.first().Detail.contains(reason),
                 qPrintable(prompts.Prompts.first().Detail));
    }
};

QTEST_MAIN(TestNetworkPort)
#include "test_network_port.moc"
