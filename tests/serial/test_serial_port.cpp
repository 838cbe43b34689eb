// The serial port component on real pseudo-terminals, the test playing the
// target on the master side.
#include "platform/ModemStatus.h"
#include "platform/TProfileFile.h"
#include "platform/TThread.h"
#include "serial/TQxComPort.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

const QString OpenWarning = QStringLiteral(
    "Unable to open the selected serial interface!\n\r\n\r     Please check, if any other "
    "application\n\r             already uses this device.");

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

termios LineOf(const PtyPair& pty) {
    termios line{};
    tcgetattr(pty.MasterFd(), &line);
    return line;
}

uint SpeedOf(const PtyPair& pty) {
    const termios line = LineOf(pty);
    return uint(cfgetospeed(&line));
}

// Whether another program could take the device now.
bool DeviceIsFree(const PtyPair& pty) {
    TSerialDevice other;
    return other.Open(pty.SlavePath());
}

QByteArray Pattern(int size) {
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7) % 251);
    return bytes;
}

double CpuSeconds(clockid_t clock) {
    timespec time{};
    clock_gettime(clock, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

// Times the threads other than this one went to sleep so far (each is a
// wake-up of the next event).
qint64 OtherThreadsWakeUps() {
    qint64 total = 0;
    const QString self = QString::number(gettid());
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (task == self)
            continue;
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLongLong();
    }
    return total;
}

// Descriptors of this process open on Path (also after the device's node
// was removed: "<path> (deleted)").
int DescriptorsOn(const QString& path) {
    int count = 0;
    const QByteArray wanted = path.toLocal8Bit();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[PATH_MAX] = {};
        const QByteArray link = fds.filePath(fd).toLocal8Bit();
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        const QByteArray name(target, std::max<ssize_t>(length, 0));
        count += name == wanted || name == wanted + " (deleted)" ? 1 : 0;
    }
    return count;
}

// The target pours bytes into the master side until stopped.
class TStreamingTarget {
public:
    explicit TStreamingTarget(int master) : FMaster(master) {
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        FThread = std::thread([this] {
            const QByteArray block(4096, 'z');
            while (!FStop.load()) {
                if (::write(FMaster, block.constData(), size_t(block.size())) < 0) {
                    pollfd p{FMaster, POLLOUT, 0};
                    ::poll(&p, 1, 10);
                }
            }
        });
    }
    ~TStreamingTarget() {
        FStop = true;
        FThread.join();
    }

private:
    int FMaster;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

class TFakeModemLines : public TModemStatusSource {
public:
    TFakeModemLines() { SetModemStatusSource(this); }
    ~TFakeModemLines() override { SetModemStatusSource(nullptr); }
    std::optional<int> Read(int) override { return Bits.load(); }
    std::atomic<int> Bits{0};
};

class TThreadNotingInteraction : public FakeInteraction {
public:
    void Warning(QWidget* parent, const QString& text, const QString& detail) override {
        WarningThread = QThread::currentThread();
        FakeInteraction::Warning(parent, text, detail);
    }
    QThread* WarningThread = nullptr;
};

// A port on COM1 mapped to a pty, with its received bytes and events noted.
struct TPortRig {
    TPortRig() {
        Dir.MapDevice(1, Pty.SlavePath());
        Port.OnReceive = [this](quint16 count) {
            QByteArray bytes(count, 0);
            const int got = Port.ReadBuffer(bytes.data(), count);
            Received += bytes.left(got);
            Note(QStringLiteral("receive"));
        };
        Port.OnTransmit = [this] { Note(QStringLiteral("transmit")); };
        Port.OnCTSChanged = [this] { Note(QStringLiteral("cts")); };
        Port.OnDSRChanged = [this] { Note(QStringLiteral("dsr")); };
        Port.OnError = [this] { Note(QStringLiteral("error")); };
    }
    void Note(const QString& event) {
        Events << event;
        OffMainThread = OffMainThread || !TThread::IsMainThread();
    }

    TempAppDir Dir;
    FakeInteraction Ui;
    PtyPair Pty;
    QByteArray Received;
    QStringList Events;
    bool OffMainThread = false;
    TQxComPort Port;
};

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void requestsAreCounted() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        QVERIFY(rig.Port.OpenPort(false));
        QVERIFY(!rig.Port.ClosePort());
        QCOMPARE(rig.Port.Requests(), 1);
        QVERIFY(rig.Port.Open());
        rig.Pty.Write("still open");
        QTRY_COMPARE(rig.Received, QByteArray("still open"));
        QVERIFY(!DeviceIsFree(rig.Pty));

        QVERIFY(rig.Port.ClosePort());
        QVERIFY(!rig.Port.Open());
        QCOMPARE(rig.Port.Requests(), 0);
        QVERIFY(DeviceIsFree(rig.Pty));
        QVERIFY(rig.Port.ClosePort());
        QCOMPARE(rig.Port.Requests(), 0);

        // With the counter overwritten, one close ends the device.
        QVERIFY(rig.Port.OpenPort(false));
        rig.Port.SetRequests(0);
        QVERIFY(rig.Port.ClosePort());
        QVERIFY(!rig.Port.Open());
        QVERIFY(rig.Ui.Prompts.isEmpty());
    }

    void failedOpenCountsAndTheNextOneTriesAgain() {
        TPortRig rig;
        const QString missing = rig.Dir.Path() + "ttyGone";
        rig.Dir.MapDevice(1, missing);
        QVERIFY(!rig.Port.OpenPort(false));
        QCOMPARE(rig.Port.Requests(), 1);
        QCOMPARE(rig.Ui.Prompts.size(), 1);
        QCOMPARE(rig.Ui.Prompts[0].Kind, QStringLiteral("warning"));
        QCOMPARE(rig.Ui.Prompts[0].Text, OpenWarning);
        QVERIFY(rig.Ui.Prompts[0].Detail.contains(": " + ErrnoText(ENOENT)));
        QVERIFY(!QFile::exists(missing));

        QVERIFY(!rig.Port.OpenPort(true));
        QCOMPARE(rig.Port.Requests(), 2);
        QCOMPARE(rig.Ui.Prompts.size(), 1);

        rig.Dir.MapDevice(1, rig.Pty.SlavePath());
        QVERIFY(rig.Port.OpenPort(false));
        QCOMPARE(rig.Port.Requests(), 3);
    }

    void comPortChangeMovesHeldRequests() {
        TPortRig rig;
        PtyPair second;
        rig.Dir.MapDevice(2, second.SlavePath());
        rig.Dir.MapDevice(3, rig.Dir.Path() + "ttyGone");

        rig.Port.SetComPort(poCOM2); // no request: nothing is opened
        QVERIFY(!rig.Port.Open());
        QVERIFY(DeviceIsFree(second));
        rig.Port.SetComPort(poCOM1);

        QVERIFY(rig.Port.OpenPort(false));
        QVERIFY(rig.Port.OpenPort(false));
        rig.Port.SetComPort(poCOM1);
        QVERIFY(!DeviceIsFree(rig.Pty));
        rig.Port.SetComPort(poCOM2);
        QVERIFY(rig.Port.Open());
        QCOMPARE(rig.Port.Requests(), 2);
        QVERIFY(DeviceIsFree(rig.Pty));
        second.Write("from COM2");
        QTRY_COMPARE(rig.Received, QByteArray("from COM2"));

        rig.Port.SetComPort(poCOM3);
        QVERIFY(!rig.Port.Open());
        QCOMPARE(rig.Port.Requests(), 2);
        QVERIFY(DeviceIsFree(second));
        QCOMPARE(rig.Ui.WarningTexts(), QStringList{OpenWarning});
    }

    // A device newly given to the port in [Devices] takes over at once.
    void aMovedDeviceIsReopened() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        rig.Port.ReopenIfMoved();
        QVERIFY(!DeviceIsFree(rig.Pty));
        PtyPair second;
        rig.Dir.MapDevice(1, second.SlavePath());
        rig.Port.ReopenIfMoved();
        QVERIFY(DeviceIsFree(rig.Pty));
        QCOMPARE(rig.Port.Requests(), 1);
        second.Write("moved");
        QTRY_COMPARE(rig.Received, QByteArray("moved"));
    }

    void parametersReachTheLineNowOrAtTheNextOpen() {
        TPortRig rig;
        rig.Port.SetBaudrate(br300);
        rig.Port.SetStopBits(sb20);
        rig.Port.SetParity(paODD);
        QCOMPARE(rig.Port.Baudrate(), br300);
        QVERIFY(SpeedOf(rig.Pty) != uint(B300));

        QVERIFY(rig.Port.OpenPort(false));
        termios line = LineOf(rig.Pty);
        QCOMPARE(uint(cfgetospeed(&line)), uint(B300));
        QCOMPARE(uint(line.c_cflag & (CSTOPB | PARODD | CMSPAR)), uint(CSTOPB | PARODD));
        // Raw, receiver on, no flow control, no input parity check.
        QCOMPARE(uint(line.c_cflag & (CLOCAL | CREAD | CRTSCTS)), uint(CLOCAL | CREAD));
        QCOMPARE(uint(line.c_iflag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP)), 0u);
        QCOMPARE(uint(line.c_lflag & (ICANON | ECHO | ISIG)), 0u);
        QCOMPARE(uint(line.c_oflag & OPOST), 0u);

        rig.Port.SetBaudrate(br57600);
        rig.Port.SetStopBits(sb10);
        rig.Port.SetParity(paSPACE);
        line = LineOf(rig.Pty);
        QCOMPARE(uint(cfgetospeed(&line)), uint(B57600));
        QCOMPARE(uint(line.c_cflag & (CSTOPB | PARODD | CMSPAR)), uint(CMSPAR));

        // 4 data bits: stored, refused by the line, which keeps its setting.
        rig.Port.SetDatabits(db4);
        QCOMPARE(rig.Port.Databits(), db4);
        rig.Port.SetBaudrate(br1200);
        QCOMPARE(SpeedOf(rig.Pty), uint(B57600));
        QVERIFY(!rig.Port.ApplySettings());
        QVERIFY(rig.Ui.Prompts.isEmpty());

        QVERIFY(rig.Port.ClosePort());
        QVERIFY(!rig.Port.OpenPort(false));
        QCOMPARE(rig.Ui.Prompts.size(), 1);
        QVERIFY(rig.Ui.Prompts[0].Detail.contains(": " + ErrnoText(EINVAL)));
        QVERIFY(DeviceIsFree(rig.Pty));
    }

    // Rates above 115200, with a speed constant of their own or set as a
    // number, reach the line and read back; a table rate takes over again.
    void fastAndOtherRatesAreSetAndReadBack_data() {
        QTest::addColumn<int>("rate");
        for (const int rate :
             {230400, 460800, 921600, 1000000, 1500000, 2000000, 3000000, 250000, 1234567})
            QTest::addRow("%d", rate) << rate;
    }
    void fastAndOtherRatesAreSetAndReadBack() {
        QFETCH(int, rate);
        TPortRig rig;
        rig.Port.SetBaudrateValue(rate);
        QCOMPARE(rig.Port.BaudrateValue(), rate);
        QVERIFY(rig.Port.OpenPort(false));
        QCOMPARE(ReadLineSpeed(rig.Pty.MasterFd()), rate);
        QCOMPARE(rig.Port.ActualBaudrate(), rate);
        rig.Port.SetBaudrateValue(57600);
        QCOMPARE(rig.Port.Baudrate(), br57600);
        QCOMPARE(SpeedOf(rig.Pty), uint(B57600));
        QCOMPARE(rig.Port.ActualBaudrate(), 57600);
        QVERIFY(rig.Ui.Prompts.isEmpty());
    }

    void aDeviceInUseIsRefused() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        TQxComPort other;
        QVERIFY(!other.OpenPort(false));
        QCOMPARE(rig.Ui.Prompts.size(), 1);
        QCOMPARE(rig.Ui.Prompts[0].Text, OpenWarning);
        QVERIFY(rig.Ui.Prompts[0].Detail.contains(": " + ErrnoText(EBUSY)));
        QVERIFY(rig.Port.ClosePort());
        QVERIFY(other.OpenPort(false));
    }

    void closedPortDoesNothing() {
        TPortRig rig;
        char buffer[4] = {};
        QCOMPARE(rig.Port.WriteBuffer("abc", 3), 0);
        QCOMPARE(rig.Port.ReadBuffer(buffer, 4), 0);
        QCOMPARE(rig.Port.RxBufferCount(), 0u);
        QCOMPARE(rig.Port.TxBufferFree(), 0u);
        QVERIFY(rig.Port.WriteString(""));
        QVERIFY(!rig.Port.WriteString("a"));
        QVERIFY(!rig.Port.WaitForSequence("", 50));
        QVERIFY(!rig.Port.ApplySettings());
        QCOMPARE(rig.Pty.ReadAll(50), QByteArray());
    }

    void queueCounts() {
        TPortRig rig;
        rig.Port.OnReceive = nullptr;
        QVERIFY(rig.Port.OpenPort(false));
        QVERIFY(rig.Port.TxBufferFree() > 0);
        rig.Pty.Write("12345");
        QTRY_COMPARE(rig.Port.RxBufferCount(), 5u);
    }

    void waitForSequence_data() {
        QTest::addColumn<QByteArray>("sequence");
        QTest::addColumn<QByteArray>("incoming");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<QByteArray>("scanned");
        QTest::addColumn<QByteArray>("leftForReceive");
        QTest::newRow("match after x a a b") << QByteArray("ab") << QByteArray("xaab") << 2000
                                             << true << QByteArray("xaab") << QByteArray();
        QTest::newRow("bytes after the match stay")
            << QByteArray("ab") << QByteArray("xaabREST") << 2000 << true << QByteArray("xaab")
            << QByteArray("REST");
        QTest::newRow("empty sequence takes the first byte")
            << QByteArray() << QByteArray("qrs") << 2000 << true << QByteArray("q")
            << QByteArray("rs");
        QTest::newRow("empty sequence, silence")
            << QByteArray() << QByteArray() << 100 << false << QByteArray() << QByteArray();
        QTest::newRow("no match") << QByteArray("ab") << QByteArray("xyz") << 150 << false
                                  << QByteArray("xyz") << QByteArray();
        QTest::newRow("zero time-out reads nothing") << QByteArray("ab") << QByteArray("ab") << 0
                                                     << false << QByteArray() << QByteArray("ab");
        QTest::newRow("binary bytes")
            << QByteArray("\x00\xff", 2) << QByteArray("\x01\x00\xff", 3) << 2000 << true
            << QByteArray("\x01\x00\xff", 3) << QByteArray();
    }
    void waitForSequence() {
        QFETCH(QByteArray, sequence);
        QFETCH(QByteArray, incoming);
        QFETCH(int, timeout);
        QFETCH(bool, matched);
        QFETCH(QByteArray, scanned);
        QFETCH(QByteArray, leftForReceive);
        TPortRig rig;
        QByteArray scans;
        rig.Port.OnScan = [&](char& ch) { scans.append(ch); };
        QVERIFY(rig.Port.OpenPort(false));
        rig.Pty.Write(incoming);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(rig.Port.WaitForSequence(sequence, timeout), matched);
        if (!matched) // the tick count counts whole milliseconds
            QVERIFY(timer.elapsed() >= timeout - 2);
        QCOMPARE(scans, scanned);
        QCOMPARE(rig.Received, QByteArray()); // nothing announced during the wait
        if (leftForReceive.isEmpty())
            QTest::qWait(100);
        QTRY_COMPARE(rig.Received, leftForReceive);
    }

    void waitForSequenceReactsToBytesAsTheyComeAndTakesTheScannersByte() {
        TPortRig rig;
        QByteArray scans;
        rig.Port.OnScan = [&](char& ch) {
            scans.append(ch);
            if (ch == 'X')
                ch = 'a';
        };
        QVERIFY(rig.Port.OpenPort(false));
        std::thread target([&] {
            for (const char* piece : {"-", "X", "b", "tail"}) {
                QThread::msleep(30);
                rig.Pty.Write(piece);
            }
        });
        QVERIFY(rig.Port.WaitForSequence("ab", 5000));
        QCOMPARE(scans, QByteArray("-Xb"));
        target.join();
        QTRY_COMPARE(rig.Received, QByteArray("tail"));
    }

    void eventsProcessedDuringAWaitDoNotTakeItsBytes() {
        TPortRig rig;
        QByteArray scans;
        rig.Port.OnScan = [&](char& ch) {
            scans.append(ch);
            QCoreApplication::processEvents();
        };
        QVERIFY(rig.Port.OpenPort(false));
        rig.Pty.Write("xaabREST");
        QThread::msleep(100); // the monitor has caught the bytes and waits for delivery
        QVERIFY(rig.Port.WaitForSequence("ab", 2000));
        QCOMPARE(scans, QByteArray("xaab"));
        QTRY_COMPARE(rig.Received, QByteArray("REST"));
    }

    void receivedBytesArriveInOrderOnTheMainThread() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        const QByteArray sent = Pattern(300000);
        std::thread target([&] { rig.Pty.Write(sent); });
        QTRY_COMPARE_WITH_TIMEOUT(rig.Received.size(), sent.size(), 20000);
        target.join();
        QVERIFY(rig.Received == sent);
        QVERIFY(!rig.OffMainThread);
    }

    // A line that trickles in small blocks is handed over in batches: one
    // receive event per 16 ms at most, never one per block, and nothing lost.
    void aSlowStreamIsDeliveredInBatches() {
        TPortRig rig;
        int deliveries = 0;
        const QByteArray sent = Pattern(2000);
        // A plain event loop: the test's own waiting must not merge deliveries.
        QEventLoop loop;
        rig.Port.OnReceive = [&](quint16 count) {
            QByteArray bytes(count, 0);
            rig.Received += bytes.left(rig.Port.ReadBuffer(bytes.data(), count));
            deliveries += count > 0 ? 1 : 0;
            if (rig.Received.size() >= sent.size())
                loop.quit();
        };
        QVERIFY(rig.Port.OpenPort(false));
        QElapsedTimer timer;
        timer.start();
        std::thread target([&] {
            for (int at = 0; at < sent.size(); at += 20) {
                rig.Pty.Write(sent.mid(at, 20));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        const qint64 elapsed = timer.elapsed();
        target.join();
        QVERIFY(rig.Received == sent);
        QVERIFY2(deliveries <= elapsed / 16 + 2,
                 qPrintable(QStringLiteral("%1 deliveries in %2 ms").arg(deliveries).arg(elapsed)));
    }

    // Every reader takes from the one stream in order: the receive handler
    // in pieces of random size, and handshake waits in between, while the
    // target writes blocks of random size at random pace.
    void everyReaderSeesTheSameStreamInOrder() {
        TPortRig rig;
        QRandomGenerator random(20261208);
        QByteArray sent;
        int handshakes = 0;
        while (sent.size() < 3000000) {
            sent += Pattern(int(random.bounded(1, 40000))).replace("ok", "o!");
            if (random.bounded(4) == 0) {
                sent += "ok";
                ++handshakes;
            }
        }
        sent += "ok";
        ++handshakes;
        QByteArray taken;
        rig.Port.OnReceive = [&](quint16 count) {
            const int want = int(random.bounded(count + 1));
            QByteArray bytes(want, 0);
            taken += bytes.left(rig.Port.ReadBuffer(bytes.data(), quint16(want)));
        };
        rig.Port.OnScan = [&](char& ch) { taken += ch; };
        QVERIFY(rig.Port.OpenPort(false));
        std::thread target([&] {
            QRandomGenerator pace(7);
            for (qsizetype at = 0; at < sent.size();) {
                const qsizetype block = pace.bounded(1, 70000);
                rig.Pty.Write(sent.mid(at, block));
                at += block;
                if (pace.bounded(3) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pace.bounded(5)));
            }
        });
        int matched = 0;
        QElapsedTimer timer;
        timer.start();
        while (taken.size() < sent.size() && timer.elapsed() < 60000) {
            if (random.bounded(2) == 0 && rig.Port.WaitForSequence("ok", 200))
                ++matched;
            QCoreApplication::processEvents(QEventLoop::AllEvents, int(random.bounded(1, 20)));
        }
        target.join();
        QCOMPARE(taken.size(), sent.size());
        QVERIFY(taken == sent);
        QVERIFY(matched > 0 && matched <= handshakes);
    }

    // A flood faster than its handler: the hand-overs still leave room for
    // the event loop (timers, painting) between them.
    void aFloodLeavesTheEventLoopRunning() {
        TPortRig rig;
        int ticks = 0;
        rig.Port.OnReceive = [&](quint16 count) {
            QByteArray bytes(count, 0);
            rig.Received += bytes.left(rig.Port.ReadBuffer(bytes.data(), count));
            QThread::msleep(2);
        };
        QVERIFY(rig.Port.OpenPort(false));
        // Ten times what the queue holds: at least ten hand-overs.
        const QByteArray sent = Pattern(int(10 * ReceiveQueueSize));
        std::thread target([&] { rig.Pty.Write(sent); });
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(5);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Received.size(), sent.size(), 120000);
        target.join();
        QVERIFY(rig.Received == sent);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    // The main thread blocked: the monitor goes on reading until the queue is
    // full, then stops (and counts it); afterwards every byte arrives.
    void aBlockedMainThreadLosesNothing() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        const QByteArray sent = Pattern(int(ReceiveQueueSize) + 2000000);
        std::thread target([&] { rig.Pty.Write(sent); });
        QElapsedTimer timer;
        timer.start();
        quint32 queued = 0;
        // Blocked: no events are processed here.
        while (rig.Port.ReceiveStalls() == 0 && timer.elapsed() < 30000)
            QThread::msleep(20);
        queued = rig.Port.RxBufferCount();
        QVERIFY(rig.Port.ReceiveStalls() > 0);
        // Far more than the kernel holds was read while we were away.
        QCOMPARE(queued, quint32(ReceiveQueueSize));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Received.size(), sent.size(), 30000);
        target.join();
        QVERIFY(rig.Received == sent);
    }

    void onlyTheFirstEventOfAMaskIsRaised_data() {
        QTest::addColumn<uint>("mask");
        QTest::addColumn<QString>("raised");
        QTest::newRow("receive and cts") << uint(EV_RXCHAR | EV_CTS) << "receive";
        QTest::newRow("all") << uint(PortEventMask) << "receive";
        QTest::newRow("transmit and error") << uint(EV_TXEMPTY | EV_ERR) << "transmit";
        QTest::newRow("error before lines") << uint(EV_ERR | EV_CTS | EV_DSR) << "error";
        QTest::newRow("cts before dsr") << uint(EV_CTS | EV_DSR) << "cts";
        QTest::newRow("dsr") << uint(EV_DSR) << "dsr";
        QTest::newRow("zero mask") << 0u << "";
        QTest::newRow("unknown bits") << 0x0102u << "";
    }
    void onlyTheFirstEventOfAMaskIsRaised() {
        QFETCH(uint, mask);
        QFETCH(QString, raised);
        TPortRig rig;
        rig.Port.DispatchCommEvent(mask);
        QCOMPARE(rig.Events.join(','), raised);
    }

    void lineEventsReachTheirHandlers() {
        TFakeModemLines lines;
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        lines.Bits = TIOCM_CTS;
        QTRY_COMPARE(rig.Events, QStringList{"cts"});
        lines.Bits = TIOCM_CTS | TIOCM_DSR;
        QTRY_COMPARE(rig.Events, (QStringList{"cts", "dsr"}));
        QVERIFY(rig.Port.WriteString("t"));
        QTRY_COMPARE(rig.Events, (QStringList{"cts", "dsr", "transmit"}));
        QCOMPARE(rig.Pty.Read(1), QByteArray("t"));
        QVERIFY(!rig.OffMainThread);
    }

    // A line whose device answers the modem calls: without handlers for the
    // line events nothing looks at it while it is idle; with one, changes
    // are reported again.
    void anIdleLineWakesNobodyUntilAHandlerWantsLineEvents() {
        TFakeModemLines lines;
        TPortRig rig;
        rig.Port.OnCTSChanged = nullptr;
        rig.Port.OnDSRChanged = nullptr;
        rig.Port.OnError = nullptr;
        rig.Port.OnTransmit = nullptr;
        QVERIFY(rig.Port.OpenPort(false));
        QTest::qWait(200);
        const qint64 before = OtherThreadsWakeUps();
        QThread::msleep(1000); // the main thread sleeps too
        const qint64 wakeUps = OtherThreadsWakeUps() - before;
        QVERIFY2(wakeUps <= 3, qPrintable(QString::number(wakeUps)));

        rig.Port.OnCTSChanged = [&rig] { rig.Note(QStringLiteral("cts")); };
        rig.Port.HandlersChanged();
        lines.Bits = TIOCM_CTS;
        QTRY_COMPARE(rig.Events, QStringList{"cts"});
    }

    void nothingIsRaisedAfterClose() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        QTest::qWait(30); // the monitor waits
        QElapsedTimer timer;
        timer.start();
        QVERIFY(rig.Port.ClosePort());
        QVERIFY(timer.elapsed() < 2000);
        rig.Pty.Write("after close");
        QTest::qWait(150);
        QVERIFY(rig.Events.isEmpty());

        // Bytes read just before the close are dropped with it, not raised
        // afterwards nor at the next open of the device.
        QVERIFY(rig.Port.OpenPort(false));
        QTRY_COMPARE(rig.Received, QByteArray("after close"));
        rig.Events.clear();
        rig.Pty.Write("x");
        QThread::msleep(100); // the monitor has read it, its notice waits
        QVERIFY(rig.Port.ClosePort());
        QTest::qWait(150);
        QVERIFY(rig.Events.isEmpty());
        QVERIFY(rig.Port.OpenPort(false));
        QTest::qWait(150);
        QVERIFY(rig.Events.isEmpty());
        QCOMPARE(rig.Port.RxBufferCount(), 0u);
    }

    void destroyingWhileBytesStreamDeliversNothingAfterwards() {
        TempAppDir dir;
        FakeInteraction ui;
        PtyPair pty;
        dir.MapDevice(1, pty.SlavePath());
        TStreamingTarget target(pty.MasterFd());
        int lateEvents = 0;
        int events = 0;
        for (int round = 0; round < 200; ++round) {
            auto alive = std::make_shared<bool>(true);
            auto port = std::make_unique<TQxComPort>();
            TQxComPort* raw = port.get();
            char buffer[4096];
            port->OnReceive = [&, alive, raw](quint16 count) {
                if (!*alive) {
                    ++lateEvents;
                    return;
                }
                ++events;
                raw->ReadBuffer(buffer, std::min<quint16>(count, sizeof buffer));
            };
            QVERIFY(port->OpenPort(true));
            switch (round % 3) {
            case 0: // right away
                break;
            case 1: { // while events flow
                const int before = events;
                QVERIFY(QTest::qWaitFor([&] { return events > before + 2; }, 5000));
                break;
            }
            case 2: // while the monitor waits for a delivery
                QCoreApplication::processEvents();
                QThread::msleep(2);
                break;
            }
            port.reset();
            *alive = false;
            QCoreApplication::processEvents();
        }
        QTest::qWait(50);
        QCOMPARE(lateEvents, 0);
        QVERIFY(events > 0);
        QVERIFY(ui.Prompts.isEmpty());
    }

    void hangUpLeavesTheProgramResponsiveAndTheMonitorQuiet() {
        TPortRig rig;
        // The freed terminal's name may go to another program's terminal.
        QVERIFY(TProfileFile(rig.Dir.SettingsFile()).WriteString("COM-Device", "Reconnect", "0"));
        QVERIFY(rig.Port.OpenPort(false));
        rig.Pty.Write("last words");
        QTRY_COMPARE(rig.Received, QByteArray("last words"));
        rig.Pty.Write("unread");
        rig.Pty.CloseMaster();

        QTest::qWait(100);
        const double processBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double mainBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        QElapsedTimer timer;
        timer.start();
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        QTest::qWait(1000);
        const double others = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore) -
                              (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - mainBefore);
        const double wall = double(timer.elapsed()) / 1000;
        QVERIFY2(others < 0.05 * wall, qPrintable(QString::number(others / wall * 100) + "%"));
        QVERIFY(ticks > 20);

        QVERIFY(!rig.Port.WriteString("x"));
        QCOMPARE(rig.Port.WriteBuffer("xyz", 3), 0);
        QVERIFY(!rig.Port.WaitForSequence("a", 1000));
        timer.start();
        QVERIFY(rig.Port.ClosePort());
        QVERIFY(timer.elapsed() < 2000);
    }

    // The adapter pulled while bytes flow or while the line is idle: the
    // port closes the device at once (no descriptor left, nothing spins),
    // says so, and opens it again, as it was, when its link points at a
    // device once more; unless reconnecting is turned off.
    void unplugAndReplug_data() {
        QTest::addColumn<bool>("flowing");
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("idle") << false << true;
        QTest::newRow("flowing") << true << true;
        QTest::newRow("reconnect off") << false << false;
    }
    void unplugAndReplug() {
        QFETCH(bool, flowing);
        QFETCH(bool, reconnect);
        TempAppDir dir;
        FakeInteraction ui;
        auto first = std::make_unique<PtyPair>();
        const QString link = dir.Path() + "ttyLink";
        QVERIFY(QFile::link(first->SlavePath(), link));
        dir.MapDevice(1, link);
        if (!reconnect)
            dir.WriteFile("Console.ini", "[Devices]\r\nCOM1=" + link.toLocal8Bit() +
                                             "\r\n[COM-Device]\r\nReconnect=0\r\n");
        TQxComPort port;
        QStringList changes;
        port.OnConnectionChanged = [&](bool connected) { changes << (connected ? "up" : "down"); };
        QByteArray received;
        port.OnReceive = [&](quint16 count) {
            QByteArray bytes(count, 0);
            received += bytes.left(port.ReadBuffer(bytes.data(), count));
        };
        port.SetBaudrate(br57600);
        QVERIFY(port.OpenPort(false));
        QVERIFY(port.OpenPort(false));
        first->CloseSlaveKeeper();
        const QString oldDevice = first->SlavePath();

        std::atomic<bool> unplug{false};
        std::thread target([&] {
            ::fcntl(first->MasterFd(), F_SETFL, ::fcntl(first->MasterFd(), F_GETFL) | O_NONBLOCK);
            const QByteArray block(1000, 'f');
            while (flowing && !unplug.load())
                if (::write(first->MasterFd(), block.constData(), size_t(block.size())) < 0)
                    QThread::msleep(1);
            while (!unplug.load())
                QThread::msleep(1);
            first->CloseMaster();
        });
        if (flowing)
            QTRY_VERIFY(received.size() > 10000);
        // The link goes with the device, as /dev/serial/by-id links do (the
        // freed terminal's name may soon stand for another one).
        QVERIFY(QFile::remove(link));
        unplug = true;
        target.join();
        QTRY_COMPARE(changes, QStringList{"down"});
        QVERIFY(port.Disconnected());
        QVERIFY(!port.Open());
        QCOMPARE(port.Requests(), 2);
        QVERIFY(!port.WriteString("lost"));
        QVERIFY(!port.WaitForSequence("x", 100));
        QCOMPARE(DescriptorsOn(oldDevice), 0);

        const double processBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double mainBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        QElapsedTimer timer;
        timer.start();
        QTest::qWait(2000);
        const double spent = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
        const double wall = double(timer.elapsed()) / 1000;
        QVERIFY2(spent < 0.05 * wall, qPrintable(QString::number(spent / wall * 100) + "%"));
        QVERIFY2(CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - mainBefore < 0.05 * wall, "main thread");

        // Plugged in again: the link now names another device.
        PtyPair second;
        QVERIFY(QFile::link(second.SlavePath(), link));
        if (!reconnect) {
            QTest::qWait(1500);
            QVERIFY(port.Disconnected());
            QVERIFY(!port.Open());
            QCOMPARE(changes, QStringList{"down"});
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(port.Open(), 2000);
        QTRY_COMPARE(changes, (QStringList{"down", "up"}));
        QVERIFY(!port.Disconnected());
        QCOMPARE(port.Requests(), 2);
        QCOMPARE(SpeedOf(second), uint(B57600));
        QVERIFY(port.WriteString("key"));
        QCOMPARE(second.Read(3), QByteArray("key"));
        received.clear();
        second.Write("back");
        QTRY_COMPARE(received, QByteArray("back"));
        QVERIFY(ui.Prompts.isEmpty());
    }

    void aLongWriteArrivesWhole() {
        TPortRig rig;
        QVERIFY(rig.Port.OpenPort(false));
        const QByteArray sent = Pattern(200000);
        QByteArray arrived;
        std::thread target([&] { arrived = rig.Pty.Read(sent.size(), 5000); });
        QVERIFY(rig.Port.WriteString(sent));
        target.join();
        QCOMPARE(arrived.size(), sent.size());
        QVERIFY(arrived == sent);
    }

    void openWarningFromAnotherThreadShowsOnTheMainThread() {
        TPortRig rig;
        TThreadNotingInteraction ui;
        rig.Dir.MapDevice(1, rig.Dir.Path() + "ttyGone");
        std::atomic<bool> done{false};
        std::thread opener([&] {
            rig.Port.OpenPort(false);
            rig.Port.ClosePort();
            done = true;
        });
        QTRY_VERIFY(done.load());
        opener.join();
        QCOMPARE(ui.WarningTexts(), QStringList{OpenWarning});
        QCOMPARE(ui.WarningThread, QThread::currentThread());
    }

    void theProgramsPortIsOneInstance() {
        TQxComPort& port = SerialPort();
        QCOMPARE(&SerialPort(), &port);
        port.SetBaudrate(br300);
        DestroySerialPort();
        QCOMPARE(SerialPort().Baudrate(), br9600);
        DestroySerialPort();
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
