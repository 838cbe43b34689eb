// The serial device layer on real pseudo-terminals: device names, open
// failures, line parameters, reads through the receive queue within their
// time-outs, the event wait and its release.
#include "platform/ModemStatus.h"
#include "platform/TReceiveQueue.h"
#include "platform/TSerialDevice.h"
#include "settings/SerialDeviceMap.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Runs WaitEvent on another thread.
std::future<std::pair<bool, quint32>> WaitAsync(TSerialDevice& device) {
    return std::async(std::launch::async, [&device] {
        quint32 events = 0;
        const bool caught = device.WaitEvent(events);
        return std::make_pair(caught, events);
    });
}

bool Ready(std::future<std::pair<bool, quint32>>& wait, int ms) {
    return wait.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

// A Telnet server on a loopback port that sends Flood bytes of data before
// it takes the COM port option, then waits until the client hangs up.
class FloodingServer {
public:
    explicit FloodingServer(qint64 flood) {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(FListen, 1) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        Port = ntohs(address.sin_port);
        FThread = std::thread([this, flood] { Serve(flood); });
    }
    ~FloodingServer() {
        if (FThread.joinable())
            FThread.join();
        ::close(FListen);
    }
    QString Url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(Port); }
    quint16 Port = 0;

private:
    void Serve(qint64 flood) {
        pollfd waiting{FListen, POLLIN, 0};
        const int fd = ::poll(&waiting, 1, 60000) > 0 ? ::accept(FListen, nullptr, nullptr) : -1;
        if (fd < 0)
            return;
        const QByteArray chunk(64 * 1024, 'x');
        bool sent = true;
        for (qint64 at = 0; sent && at < flood; at += chunk.size())
            sent = ::send(fd, chunk.constData(), chunk.size(), MSG_NOSIGNAL) == chunk.size();
        const char doComPort[] = {char(0xFF), char(0xFD), 44};
        if (sent)
            ::send(fd, doComPort, sizeof doComPort, MSG_NOSIGNAL);
        char buffer[4096];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
        ::close(fd);
    }

    int FListen = -1;
    std::thread FThread;
};

// A Telnet server on a loopback port that takes the COM port option, then
// reads nothing until Release(); Received() is all it got, once the client
// hung up.
class StalledServer {
public:
    StalledServer() {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::listen(FListen, 1) == 0 &&
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            Port = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~StalledServer() {
        Release();
        FThread.join();
        ::close(FListen);
    }
    QString Url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(Port); }
    void Release() { FRelease.store(true); }
    QByteArray Received() {
        FThread.join();
        FThread = std::thread([] {});
        return FReceived;
    }
    bool HasReceived(const QByteArray& bytes) {
        const std::lock_guard guard(FLock);
        return FReceived.contains(bytes);
    }
    quint16 Port = 0;

private:
    void Serve() {
        pollfd waiting{FListen, POLLIN, 0};
        const int fd = ::poll(&waiting, 1, 60000) > 0 ? ::accept(FListen, nullptr, nullptr) : -1;
        if (fd < 0)
            return;
        const char doComPort[] = {char(0xFF), char(0xFD), 44};
        ::send(fd, doComPort, sizeof doComPort, MSG_NOSIGNAL);
        while (!FRelease.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            const std::lock_guard guard(FLock);
            FReceived.append(buffer, n);
        }
        ::close(fd);
    }

    int FListen = -1;
    std::atomic<bool> FRelease{false};
    std::mutex FLock;
    QByteArray FReceived;
    std::thread FThread;
};

// The process's peak resident size (VmHWM) in kB; ResetPeakMemory sets the
// peak to what is resident now.
qint64 PeakMemoryKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
bool ResetPeakMemory() {
    QFile clear("/proc/self/clear_refs");
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace

class TestSerialDevice : public QObject {
    Q_OBJECT

private slots:
    void portNamesMapToDevicePathsReadAtEveryCall() {
        TempAppDir dir;
        const QStringList defaults = {
            "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",   "/dev/ttyUSB0",
            "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyACM0", "/dev/ttyACM1"};
        for (int port = poCOM1; port <= poCOM10; ++port)
            QCOMPARE(SerialDevicePath(TComPort(port)), defaults[port]);

        dir.MapDevice(3, "/dev/serial/by-id/usb-Adapter-if00");
        dir.MapDevice(10, "/dev/ttyUSB7");
        QCOMPARE(SerialDevicePath(poCOM3), QStringLiteral("/dev/serial/by-id/usb-Adapter-if00"));
        QCOMPARE(SerialDevicePath(poCOM10), QStringLiteral("/dev/ttyUSB7"));
        QCOMPARE(SerialDevicePath(poCOM4), QStringLiteral("/dev/ttyS3"));
        dir.MapDevice(3, "/dev/ttyACM5");
        QCOMPARE(SerialDevicePath(poCOM3), QStringLiteral("/dev/ttyACM5"));
        dir.MapDevice(3, "");
        QCOMPARE(SerialDevicePath(poCOM3), QStringLiteral("/dev/ttyS2"));
    }

    void openFailsWithTheSystemsReasonAndCreatesNothing() {
        TempAppDir dir;
        dir.WriteFile("plain.txt", "not a tty");
        TSerialDevice device;
        QVERIFY(!device.Open(dir.Path() + "missing-device"));
        QCOMPARE(device.ErrorText(), ErrnoText(ENOENT));
        QVERIFY(!QFile::exists(dir.Path() + "missing-device"));
        QVERIFY(!device.Open(dir.Path() + "plain.txt"));
        QCOMPARE(device.ErrorText(), ErrnoText(ENOTTY));
        QCOMPARE(dir.ReadFile("plain.txt"), QByteArray("not a tty"));
        QVERIFY(!device.IsOpen());
    }

    // A pty forces 8 data bits and no parity bit on every change, so the
    // character frame is checked on the termios the device would apply.
    void characterFrameOfEveryParameterSet_data() {
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<uint>("frame");
        QTest::newRow("5 none") << 5 << 0 << uint(CS5);
        QTest::newRow("6 odd") << 6 << 1 << uint(CS6 | PARENB | PARODD);
        QTest::newRow("7 even") << 7 << 2 << uint(CS7 | PARENB);
        QTest::newRow("8 mark") << 8 << 3 << uint(CS8 | PARENB | PARODD | CMSPAR);
        QTest::newRow("8 space") << 8 << 4 << uint(CS8 | PARENB | CMSPAR);
    }
    void characterFrameOfEveryParameterSet() {
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(uint, frame);
        termios line{};
        line.c_cflag = CS8 | CRTSCTS | PARENB;
        QVERIFY(BuildLineTermios(line, {9600, dataBits, 0, parity}));
        QCOMPARE(uint(line.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CRTSCTS)), frame);
    }

    // The device is left as it was found: another program's cooked line at
    // 9600 baud comes back so after a raw 115200 session.
    void closeGivesTheFoundLineBack() {
        PtyPair pty;
        const int fd = ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios found{};
        QCOMPARE(::tcgetattr(fd, &found), 0);
        found.c_lflag |= ICANON | ECHO;
        found.c_iflag |= ICRNL;
        ::cfsetspeed(&found, B9600);
        QCOMPARE(::tcsetattr(fd, TCSANOW, &found), 0);
        QCOMPARE(::tcgetattr(fd, &found), 0);

        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        QVERIFY(device.SetLineSettings({115200, 7, 2, 2}));
        termios during{};
        QCOMPARE(::tcgetattr(fd, &during), 0);
        QVERIFY(during.c_lflag != found.c_lflag);
        device.Close();

        termios after{};
        QCOMPARE(::tcgetattr(fd, &after), 0);
        ::close(fd);
        QCOMPARE(after.c_iflag, found.c_iflag);
        QCOMPARE(after.c_oflag, found.c_oflag);
        QCOMPARE(after.c_cflag, found.c_cflag);
        QCOMPARE(after.c_lflag, found.c_lflag);
        QCOMPARE(::cfgetospeed(&after), speed_t(B9600));
    }

    // The flow control asked for is what the driver holds afterwards, and
    // only that one.
    void flowControlReachesTheDriver_data() {
        QTest::addColumn<int>("flow");
        QTest::addColumn<bool>("hardware");
        QTest::addColumn<bool>("software");
        QTest::newRow("none") << 0 << false << false;
        QTest::newRow("RTS/CTS") << 1 << true << false;
        QTest::newRow("XON/XOFF") << 2 << false << true;
    }
    void flowControlReachesTheDriver() {
        QFETCH(int, flow);
        QFETCH(bool, hardware);
        QFETCH(bool, software);
        PtyPair pty;
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        TLineSettings settings{115200, 8, 0, 0};
        settings.FlowControl = 2 - flow; // a different one first: the change must clear it
        QVERIFY(device.SetLineSettings(settings));
        settings.FlowControl = flow;
        QVERIFY(device.SetLineSettings(settings));
        const int fd = ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDWR | O_NOCTTY);
        termios line{};
        QCOMPARE(::tcgetattr(fd, &line), 0);
        ::close(fd);
        QCOMPARE((line.c_cflag & CRTSCTS) != 0, hardware);
        QCOMPARE((line.c_iflag & IXON) != 0, software);
        QCOMPARE((line.c_iflag & IXOFF) != 0, software);
        settings.FlowControl = 3;
        QVERIFY(!device.SetLineSettings(settings));
    }

    void parametersOutOfRangeAreRejected() {
        // Any bit rate above 0 is taken (see the port's read-back tests).
        const QList<TLineSettings> rejected = {{9600, 4, 0, 0}, {9600, 9, 0, 0}, {0, 8, 0, 0},
                                               {-300, 8, 0, 0}, {9600, 8, 3, 0}, {9600, 8, 0, 5}};
        for (const TLineSettings& settings : rejected) {
            termios line{};
            QVERIFY(!BuildLineTermios(line, settings));
        }
    }

    // Reads take the device's bytes from the receive queue, which another
    // thread fills as the port's monitor does.
    void readsReturnWithinTheirTimeouts() {
        PtyPair pty;
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        TReceiveQueue queue(4096);
        std::atomic<bool> stopping{false};
        std::thread reader([&] {
            while (!stopping) {
                device.ReadAvailable(queue);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const auto stop = qScopeGuard([&] {
            stopping = true;
            reader.join();
        });
        char buffer[100];
        QElapsedTimer timer;

        // Nothing comes: the total time-out (10 + 10 ms) ends the read.
        timer.start();
        QCOMPARE(queue.Read(buffer, 10, {40, 1, 10, 0, 0}), 0u);
        QVERIFY2(timer.elapsed() >= 19, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(timer.elapsed() < 2000);

        // All bytes there: no waiting.
        pty.Write("12345");
        timer.start();
        QCOMPARE(queue.Read(buffer, 5, {0, 0, 5000, 0, 0}), 5u);
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(QByteArray(buffer, 5), QByteArray("12345"));

        // Fewer bytes than asked: the gap after the last one ends the read.
        pty.Write("abc");
        timer.start();
        QCOMPARE(queue.Read(buffer, 100, {40, 0, 5000, 0, 0}), 3u);
        QVERIFY(timer.elapsed() >= 39);
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(QByteArray(buffer, 3), QByteArray("abc"));

        // Return at once with what is there.
        timer.start();
        QCOMPARE(queue.Read(buffer, 100, {TCommTimeouts::MaxTimeout, 0, 0, 0, 0}), 0u);
        QVERIFY(timer.elapsed() < 1000);
    }

    void waitReportsWaitingBytesUntilTheyAreRead() {
        PtyPair pty;
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        QVERIFY(device.SetTimeouts({0, 0, 1000, 0, 0}));
        QVERIFY(device.SetEventMask(EV_RXCHAR | EV_TXEMPTY));

        auto wait = WaitAsync(device);
        QVERIFY(!Ready(wait, 50));
        pty.Write("x");
        QVERIFY(Ready(wait, 5000));
        QCOMPARE(wait.get(), std::make_pair(true, EV_RXCHAR));
        // Unread bytes complete the next wait at once.
        wait = WaitAsync(device);
        QVERIFY(Ready(wait, 5000));
        QCOMPARE(wait.get(), std::make_pair(true, EV_RXCHAR));
        QCOMPARE(device.InputQueueCount(), 1);
        TReceiveQueue queue(16);
        QCOMPARE(device.ReadAvailable(queue), 1);

        wait = WaitAsync(device);
        QVERIFY(!Ready(wait, 50));
        QCOMPARE(device.Write("out", 3), 3);
        QVERIFY(Ready(wait, 5000));
        QCOMPARE(wait.get(), std::make_pair(true, EV_TXEMPTY));
        QCOMPARE(pty.Read(3), QByteArray("out"));
    }

    // A driver that answers the line calls but cannot wait for changes is
    // looked at periodically; a change found while bytes wait is reported at
    // the next wait, after those bytes, not together with them (a mask
    // raises only its first event).
    void aLineChangeFoundWithBytesFollowsThem() {
        struct TLines : TModemStatusSource {
            std::optional<int> Read(int) override { return Bits.load(); }
            std::atomic<int> Bits{0};
        } lines;
        SetModemStatusSource(&lines);
        const auto restore = qScopeGuard([] { SetModemStatusSource(nullptr); });
        PtyPair pty;
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        QVERIFY(device.SetEventMask(EV_RXCHAR | EV_CTS | EV_MODEMLINES));
        const auto nextEvents = [&device] {
            quint32 events = 0;
            return device.WaitEvent(events) ? events : 0xFFFFFFFF;
        };
        lines.Bits = TIOCM_CTS;
        QCOMPARE(nextEvents(), EV_CTS | EV_MODEMLINES);

        lines.Bits = 0;
        QVERIFY(pty.Write("x"));
        QTRY_COMPARE(device.InputQueueCount(), 1);
        QThread::msleep(150); // the lines are due to be looked at
        QCOMPARE(nextEvents(), EV_RXCHAR);
        TReceiveQueue queue(16);
        QCOMPARE(device.ReadAvailable(queue), 1);
        QCOMPARE(nextEvents(), EV_CTS | EV_MODEMLINES);
    }

    void aHeldReceiveLeavesBytesQueuedButNothingElseWaits() {
        PtyPair pty;
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        QVERIFY(device.SetEventMask(EV_RXCHAR | EV_TXEMPTY));
        device.HoldReceive(true);
        pty.Write("x");

        auto wait = WaitAsync(device);
        QVERIFY(!Ready(wait, 200));
        // A write's drained queue is reported meanwhile, and the release.
        QCOMPARE(device.Write("out", 3), 3);
        QCOMPARE(pty.Read(3), QByteArray("out"));
        QVERIFY(Ready(wait, 10000));
        QCOMPARE(wait.get(), std::make_pair(true, EV_TXEMPTY));
        wait = WaitAsync(device);
        QVERIFY(!Ready(wait, 50));
        device.HoldReceive(false);
        QVERIFY(Ready(wait, 10000));
        QCOMPARE(wait.get(), std::make_pair(true, EV_RXCHAR));
        QCOMPARE(device.InputQueueCount(), 1);
    }

    // A ring far smaller than the stream: it wraps and runs full often; the
    // producer waits for room, the reader for bytes, nothing is lost.
    void aSmallQueuePassesAStreamWhole() {
        TReceiveQueue queue(61);
        std::atomic<bool> room{false};
        queue.OnRoom = [&] { room = true; };
        QByteArray sent(200000, 0);
        for (int i = 0; i < sent.size(); ++i)
            sent[i] = char(i * 13 % 241);
        std::thread producer([&] {
            QRandomGenerator random(1);
            for (qsizetype at = 0; at < sent.size();) {
                const TReceiveQueue::TSpan span = queue.FreeSpan();
                if (span.Size == 0) {
                    if (queue.NoteFull())
                        while (!room.exchange(false))
                            std::this_thread::yield();
                    continue;
                }
                const qsizetype n = std::min<qsizetype>(
                    {qsizetype(span.Size), sent.size() - at, random.bounded(1, 100)});
                std::memcpy(span.Data, sent.constData() + at, size_t(n));
                queue.Commit(size_t(n));
                at += n;
            }
            queue.End();
        });
        QRandomGenerator random(2);
        QByteArray taken;
        char buffer[300];
        while (!(queue.Ended() && queue.Count() == 0)) {
            const std::size_t want = random.bounded(1, 300);
            taken.append(buffer, qsizetype(queue.Read(buffer, want, {0, 0, 100, 0, 0})));
        }
        producer.join();
        QVERIFY(taken == sent);
        QVERIFY(queue.FullCount() > 0);
    }

    // A Telnet server that floods data before it answers the COM port
    // option: what the wait for the answer receives is bounded as any other
    // reception, the rest waits in the socket, and every byte arrives, the
    // late answer too.
    void aFloodBeforeTheComPortAnswerStaysBounded() {
        constexpr qint64 flood = 100 * 1024 * 1024;
        FloodingServer server(flood);
        QVERIFY(server.Port != 0);
        if (!ResetPeakMemory())
            QSKIP("the peak resident size cannot be reset here");
        const qint64 before = PeakMemoryKb();
        TSerialDevice device;
        QVERIFY2(device.Open(server.Url()), qPrintable(device.ErrorText()));
        TReceiveQueue queue(4 * 1024 * 1024);
        std::vector<char> buffer(1024 * 1024);
        qint64 received = 0;
        bool onlyData = true;
        QElapsedTimer guard;
        guard.start();
        while ((received < flood || !device.CarriesLineSettings()) && guard.elapsed() < 300000) {
            if (device.ReadAvailable(queue) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (std::size_t n; (n = queue.Take(buffer.data(), buffer.size())) > 0; received += n)
                onlyData &= std::all_of(buffer.begin(), buffer.begin() + n,
                                        [](char c) { return c == 'x'; });
        }
        const qint64 growthMb = (PeakMemoryKb() - before) / 1024;
        qInfo("peak memory growth during a %lld MB flood: %lld MB", flood >> 20, growthMb);
        QCOMPARE(received, flood);
        QVERIFY(onlyData);
        QVERIFY(device.CarriesLineSettings());
        QVERIFY2(growthMb < 40, qPrintable(QString::number(growthMb)));
    }

    // Line settings for a server whose socket is full: the call does not
    // wait for room, and the commands reach the server whole, after the
    // data written before them and before the data written after them,
    // sent by that write or, on an idle line, by the waiting monitor.
    void lineSettingsToAStalledServerDoNotWait_data() {
        QTest::addColumn<bool>("monitorSends");
        QTest::newRow("the next write sends them") << false;
        QTest::newRow("the monitor sends them") << true;
    }
    void lineSettingsToAStalledServerDoNotWait() {
        QFETCH(bool, monitorSends);
        StalledServer server;
        QVERIFY(server.Port != 0);
        TSerialDevice device;
        QVERIFY2(device.Open(server.Url()), qPrintable(device.ErrorText()));
        QVERIFY(device.CarriesLineSettings());
        const QByteArray before(64 * 1024, 'x');
        // Until a write finds no room for all its bytes.
        qint64 written = 0;
        for (int n = int(before.size()); n == before.size(); written += n)
            n = device.WriteSome(before.constData(), int(before.size()), 50);
        QElapsedTimer clock;
        clock.start();
        TLineSettings settings;
        settings.Baudrate = 57600;
        QVERIFY(device.SetLineSettings(settings));
        // Was 5 s, the whole wait of a command for room.
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        const QByteArray baudCommand("\xFF\xFA\x2C\x01\x00\x00\xE1\x00\xFF\xF0", 10);
        server.Release();
        if (monitorSends) {
            QVERIFY(device.SetEventMask(EV_RXCHAR));
            auto wait = WaitAsync(device);
            QTRY_VERIFY_WITH_TIMEOUT(server.HasReceived(baudCommand), 20000);
            QVERIFY(device.SetEventMask(0));
            QVERIFY(Ready(wait, 5000));
        }
        QCOMPARE(device.WriteSome("yy", 2, 10000), 2);
        device.Close();
        const QByteArray received = server.Received();
        const qsizetype command = received.indexOf(baudCommand);
        QVERIFY(command > 0);
        QCOMPARE(received.left(command).count('x'), written);
        QCOMPARE(received.lastIndexOf('x') < command, true);
        QVERIFY(received.endsWith("yy"));
    }

    void maskChangeAndCloseReleaseAWait() {
        PtyPair pty;
        TSerialDevice device;
        QVERIFY(device.Open(pty.SlavePath()));
        QVERIFY(device.SetEventMask(EV_RXCHAR));
        auto wait = WaitAsync(device);
        QVERIFY(!Ready(wait, 50));
        QVERIFY(device.SetEventMask(0));
        QVERIFY(Ready(wait, 5000));
        QCOMPARE(wait.get(), std::make_pair(true, 0u));

        QVERIFY(device.SetEventMask(EV_RXCHAR));
        wait = WaitAsync(device);
        QVERIFY(!Ready(wait, 50));
        const quint64 session = device.Session();
        device.Close();
        QVERIFY(Ready(wait, 5000));
        QCOMPARE(wait.get().second, 0u);
        QVERIFY(device.Session() != session);
        // Bytes for a closed device raise nothing.
        pty.Write("late");
        wait = WaitAsync(device);
        QVERIFY(Ready(wait, 5000));
        QCOMPARE(wait.get().first, false);
    }
};

QTEST_GUILESS_MAIN(TestSerialDevice)
#include "test_serial_device.moc"
