// The main window on network ports: a board behind a real ser2net, a raw
// TCP port, and a window on a settings file of its own.
#include "platform/AppLocation.h"
#include "tests/app/AppWindowFixture.h"
#include "tests/support/Ser2netServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

constexpr int Patience = 10000;

bool ScreenShows(const AppWindowFixture& f, const QByteArray& text) {
    return QTest::qWaitFor([&] { return f.ScreenLines().contains(text); }, Patience);
}

} // namespace

class TestNetworkWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    // Keys and a macro reach the board and its echo shows; a server that
    // goes away is shown and recorded, and the window carries on when it
    // is back.
    void boardBehindSer2net() {
        if (!Ser2netServer::Installed())
            QSKIP("ser2net is not installed (scripts/install-deps.sh installs it)");
        AppWindowFixture f;
        Ser2netServer server(f.Pty.SlavePath(), QStringLiteral("telnet(rfc2217),tcp"));
        QVERIFY(server.Start());
        f.WriteSetting("Devices", "COM1", server.Url().toUtf8());
        f.WriteSetting("Macros", "Macro0", "go#13");
        QVERIFY(f.Show());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: 19200,8,N,1"));

        for (const char ch : QByteArray("ab"))
            QTest::keyClick(f.Window->windowHandle(), ch);
        QCOMPARE(f.Pty.Read(2, Patience), QByteArray("ab"));
        QTest::keyClick(f.Window->windowHandle(), Qt::Key_A,
                        Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(f.Pty.Read(3, Patience), QByteArray("go\r"));
        QVERIFY(f.Pty.Write("board says hi\r\n"));
        QVERIFY(ScreenShows(f, "board says hi"));

        server.Stop();
        QVERIFY(QTest::qWaitFor(
            [&] { return f.Window->StatusText(0) == QLatin1String("COM1: disconnected"); },
            Patience));
        QVERIFY(server.Start());
        QVERIFY(QTest::qWaitFor(
            [&] { return f.Window->StatusText(0) == QLatin1String("COM1: 19200,8,N,1"); },
            Patience));
        QVERIFY(f.Pty.Write("back\r\n"));
        QVERIFY(ScreenShows(f, "back"));
    }

    // A raw TCP port says so where the line settings would be.
    void rawPortInTheStatusBar() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        AppWindowFixture f;
        f.WriteSetting("Devices", "COM1",
                       QByteArray("tcp://127.0.0.1:") + QByteArray::number(server.serverPort()));
        QVERIFY(f.Show());
        QCOMPARE(f.Window->StatusText(0), QStringLiteral("COM1: raw stream"));
        QVERIFY(server.waitForNewConnection(Patience));
        QTcpSocket* peer = server.nextPendingConnection();
        peer->write("from afar\r\n");
        QVERIFY(ScreenShows(f, "from afar"));
    }

    // A window on its own settings file names it in its title.
    void titleNamesTheSettingsFile() {
        AppWindowFixture f;
        SetSettingsFile(f.Dir.Path() + QStringLiteral("rack2.ini"));
        QVERIFY(f.Show());
        QCOMPARE(f.Window->windowTitle(), QStringLiteral("Qx-Console V3.0 - rack2"));
        f.Window.reset();
        SetSettingsFile(QString());
        QVERIFY(QFile::exists(f.Dir.Path() + QStringLiteral("rack2.ini")));
    }
};

QTEST_MAIN(TestNetworkWindow)
#include "test_network_window.moc"
