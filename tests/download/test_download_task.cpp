// The download task against a target on a pseudo-terminal that answers
// from its own thread.
#include "download/TQxLoadTask.h"
#include "platform/TProfileFile.h"
#include "terminal/TQxConsole.h"
#include "tests/download/TDownloadRig.h"
#include "tests/download/TDownloadTarget.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <set>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include <termios.h>

namespace {

constexpr int LongWaitMs = 30000;

using TRig = TDownloadRig;

// What a task left when it ended.
struct TOutcome {
    bool Ended = false;
    QString ErrorText;
    int LineIndex = -1;
    int LineCount = -1;
    QList<QPair<int, int>> Progress;
};

// Runs a task to its end; the outcome is filled on the main thread.
// WhileRunning, when given, is called every 10 ms on the main thread while
// the task runs.
void RunTask(TQxComPort& port, const QString& file, const TTransferSync& sync, TOutcome& outcome,
             const std::function<void(TQxLoadTask&)>& whileRunning = {}) {
    auto* task = new TQxLoadTask(port, file);
    QTimer ticks;
    if (whileRunning) {
        QObject::connect(&ticks, &QTimer::timeout, [&] { whileRunning(*task); });
        ticks.start(10);
    }
    task->OnProgress = [&outcome](TQxLoadTask&, int max, int position) {
        outcome.Progress << qMakePair(max, position);
    };
    QEventLoop loop;
    task->OnTerminate = [&outcome, &loop, &ticks, task] {
        ticks.stop();
        loop.quit();
        outcome.Ended = true;
        outcome.ErrorText = task->ErrorText;
        outcome.LineIndex = task->LineIndex();
        outcome.LineCount = task->LineCount();
    };
    task->SetSyncSettings(sync);
    task->Resume();
    // An event loop of its own: polling the way QTRY does sleeps between
    // rounds and would slow every line down.
    QTimer::singleShot(LongWaitMs, &loop, &QEventLoop::quit);
    loop.exec();
    QVERIFY(outcome.Ended);
}

// A target that echoes every byte at once from its own thread while Reading
// is set; cleared, it reads nothing more.
struct TEchoTarget {
    explicit TEchoTarget(int master)
        : Thread([this, master] {
              char buffer[65536];
              while (!Stop) {
                  pollfd in{master, POLLIN, 0};
                  const ssize_t n =
                      Reading && ::poll(&in, 1, 20) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
                  if (n <= 0)
                      QThread::msleep(2);
                  Received += std::max<ssize_t>(n, 0);
                  for (ssize_t sent = 0, w = 0; sent < n && !Stop; sent += std::max<ssize_t>(w, 0))
                      w = ::write(master, buffer + sent, size_t(n - sent));
              }
          }) {}
    ~TEchoTarget() {
        Stop = true;
        Thread.join();
    }
    std::atomic<qint64> Received{0};
    std::atomic<bool> Reading{true};
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

} // namespace

class TestDownloadTask : public QObject {
    Q_OBJECT

private slots:
    void modeNoneSendsEveryLineWithOneCrLfInOrder_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("sent");
        using L = QList<QByteArray>;
        QTest::newRow("CR LF file") << QByteArray("S0\r\nS1\r\nS9\r\n") << L{"S0", "S1", "S9"};
        QTest::newRow("LF CR gives an empty line")
            << QByteArray("one\n\rtwo") << L{"one", "", "two"};
        QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\n") << L{"", "", "x"};
        QTest::newRow("text ends at NUL padding") << QByteArray("a\r\nb\0\0", 6) << L{"a", "b"};
        const QByteArray longLine(100000, 'L');
        QTest::newRow("100,000-byte line")
            << "first\r\n" + longLine + "\r\nlast" << L{"first", longLine, "last"};
    }
    void modeNoneSendsEveryLineWithOneCrLfInOrder() {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, sent);
        TRig rig;
        QVERIFY(rig.Port.OpenPort(true));
        TDownloadTarget target(rig.Pty.MasterFd());
        TOutcome outcome;
        RunTask(rig.Port, rig.File("data.txt", content), Sync(0), outcome);
        const QByteArray expected = WithCrLf(sent);
        QTRY_COMPARE_WITH_TIMEOUT(target.Received().size(), expected.size(), LongWaitMs);
        QCOMPARE(target.Received(), expected);
        QCOMPARE(outcome.ErrorText, QString());
        QCOMPARE(outcome.Progress, ProgressSteps(int(sent.size()), int(sent.size())));
        // The task's request is dropped again; the holder's stays.
        QCOMPARE(rig.Port.Requests(), 1);
        QVERIFY(rig.Port.Open());
    }

    // The adapter pulled in the middle of a download: it ends with its own
    // message in every mode, not left waiting and not reported as done.
    void aDeviceThatGoesAwayEndsTheDownload_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("none") << 0;
        QTest::newRow("delayed") << 1;
        QTest::newRow("acknowledged") << 2;
    }
    void aDeviceThatGoesAwayEndsTheDownload() {
        QFETCH(int, mode);
        TRig rig;
        // The freed terminal's name may go to another program's terminal.
        QVERIFY(TProfileFile(rig.Dir.SettingsFile()).WriteString("COM-Device", "Reconnect", "0"));
        QVERIFY(rig.Port.OpenPort(true));
        rig.Pty.CloseSlaveKeeper();
        QByteArray content;
        for (int line = 0; line < 3000; ++line)
            content += "S1" + QByteArray(60, 'A') + "\r\n";
        std::thread target([&rig] {
            // Takes a few lines (acknowledging them), then the line goes.
            for (int line = 0; line < 5; ++line) {
                if (rig.Pty.Read(64).isEmpty())
                    break;
                rig.Pty.Write("*");
            }
            rig.Pty.CloseMaster();
        });
        TOutcome outcome;
        RunTask(rig.Port, rig.File("big.s19", content), Sync(mode), outcome);
        target.join();
        QCOMPARE(outcome.ErrorText, TQxLoadTask::ConnectionLostText);
        QVERIFY(outcome.LineIndex < outcome.LineCount);
        QCOMPARE(rig.Port.Requests(), 1);
        QVERIFY(rig.Port.Disconnected());
    }

    void delayedModePausesAfterEachLine() {
        TRig rig;
        QVERIFY(rig.Port.OpenPort(true));
        TDownloadTarget target(rig.Pty.MasterFd());
        TOutcome outcome;
        RunTask(rig.Port, rig.File("d.txt", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n"), Sync(1), outcome);
        QTRY_COMPARE(target.LineCount(), 6);
        const QList<double> times = target.LineTimes();
        for (int i = 1; i < times.size(); ++i) {
            const double gap = times[i] - times[i - 1];
            QVERIFY2(gap >= 40 && gap < 2000, qPrintable(QString::number(gap)));
        }
        QCOMPARE(outcome.ErrorText, QString());
    }

    void acknowledgedByTheSequenceWithEveryByteInThePane_data() {
        QTest::addColumn<QByteArray>("sequence");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("asterisk after other bytes") << QByteArray("#42") << QByteArray("OK*");
        QTest::newRow("two bytes") << QByteArray("#79#75") << QByteArray("xOK");
        QTest::newRow("empty sequence, any byte") << QByteArray() << QByteArray("x");
    }
    void acknowledgedByTheSequenceWithEveryByteInThePane() {
        QFETCH(QByteArray, sequence);
        QFETCH(QByteArray, answer);
        TRig rig;
        TQxConsole pane;
        rig.Port.OnScan = [&pane](char& ch) { pane.WriteText(QByteArray(1, ch)); };
        QVERIFY(rig.Port.OpenPort(true));
        TDownloadTarget target(rig.Pty.MasterFd(),
                               [answer](int, const QByteArray&) { return answer; });
        TOutcome outcome;
        RunTask(rig.Port, rig.File("a.s19", "S0\r\nS1\r\nS9\r\n"), Sync(2, sequence), outcome);
        // Each line went once: the answer acknowledged it.
        QCOMPARE(target.Lines(), (QList<QByteArray>{"S0", "S1", "S9"}));
        QCOMPARE(outcome.ErrorText, QString());
        QCOMPARE(pane.Lines().value(0).trimmed(), answer.repeated(3));
    }

    void acknowledgedModeRepeatsAnUnansweredLineOnce_data() {
        QTest::addColumn<QByteArray>("content");
        // Arrivals answered with bytes that are not the sequence.
        QTest::addColumn<QList<int>>("unanswered");
        QTest::addColumn<QList<QByteArray>>("arrivals");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("linesDone");
        using L = QList<QByteArray>;
        QTest::newRow("middle line never answered")
            << QByteArray("a\nb\nc\n") << QList<int>{2, 3} << L{"a", "b", "b"} << true << 1;
        QTest::newRow("middle line answered when repeated")
            << QByteArray("a\nb\nc\n") << QList<int>{2} << L{"a", "b", "b", "c"} << false << 3;
        QTest::newRow("last line never answered")
            << QByteArray("a\nb\nc\n") << QList<int>{3} << L{"a", "b", "c"} << false << 3;
        QTest::newRow("one line never answered")
            << QByteArray("a") << QList<int>{1} << L{"a"} << false << 1;
    }
    void acknowledgedModeRepeatsAnUnansweredLineOnce() {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, unanswered);
        QFETCH(QList<QByteArray>, arrivals);
        QFETCH(bool, fails);
        QFETCH(int, linesDone);
        TRig rig;
        QVERIFY(rig.Port.OpenPort(true));
        const std::set<int> silent(unanswered.begin(), unanswered.end());
        TDownloadTarget target(rig.Pty.MasterFd(), [silent](int arrival, const QByteArray&) {
            return silent.count(arrival) ? QByteArray("OK") : QByteArray("OK*");
        });
        TOutcome outcome;
        RunTask(rig.Port, rig.File("a.txt", content), Sync(2, "#42"), outcome);
        QTest::qWait(200); // a stray line would arrive by now
        QCOMPARE(target.Lines(), arrivals);
        QCOMPARE(target.Received(), WithCrLf(arrivals));
        QCOMPARE(outcome.ErrorText, fails ? TQxLoadTask::NoResponseText : QString());
        QCOMPARE(outcome.LineIndex, linesDone);
        QCOMPARE(outcome.Progress, ProgressSteps(TDownloadLines(content).Count(), linesDone));
    }

    // A 10 MB line to a target that echoes it: the task writes from its own
    // thread while the main thread reads the echo, so it goes through. When
    // the target stops reading in the middle, a cancel ends the line at
    // once (no message); without one the write gives up after its stall
    // time with its own message.
    void aLongLineEchoedCancelledOrStalled_data() {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("linesDone");
        QTest::newRow("echoed whole") << false << false << QString() << 2;
        QTest::newRow("cancel mid-line") << true << true << QString() << 1;
        QTest::newRow("stall") << true << false << TQxLoadTask::WriteStalledText << 0;
    }
    void aLongLineEchoedCancelledOrStalled() {
        QFETCH(bool, stop);
        QFETCH(bool, cancel);
        QFETCH(QString, error);
        QFETCH(int, linesDone);
        TRig rig;
        qint64 echoed = 0;
        rig.Port.OnReceive = [&rig, &echoed](quint16 waiting) {
            QByteArray bytes(waiting, '\0');
            echoed += rig.Port.ReadBuffer(bytes.data(), waiting);
        };
        QVERIFY(rig.Port.OpenPort(true));
        TEchoTarget target(rig.Pty.MasterFd());
        const QByteArray content = QByteArray(10 * 1024 * 1024, 'C') + "\r\nnext\r\n";
        TOutcome outcome;
        QElapsedTimer stopped;
        RunTask(rig.Port, rig.File("big.txt", content), Sync(0), outcome, [&](TQxLoadTask& task) {
            if (!stop || target.Received < 256 * 1024)
                return;
            if (!stopped.isValid()) {
                target.Reading = false;
                stopped.start();
            }
            if (cancel && stopped.elapsed() > 300) // the write is stuck by now
                task.Terminate();
        });
        QCOMPARE(outcome.ErrorText, error);
        QCOMPARE(outcome.LineIndex, linesDone);
        if (!stop)
            QTRY_COMPARE_WITH_TIMEOUT(echoed, content.size(), LongWaitMs);
        else
            QVERIFY(target.Received < content.size());
    }

    // The device goes away (the adapter is pulled) while the port is open:
    // the download says so in every mode instead of reporting success,
    // also when the line is gone before the first line.
    void aVanishedDeviceFailsTheDownloadInEveryMode_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("none") << 0;
        QTest::newRow("50 ms delay") << 1;
        QTest::newRow("handshake") << 2;
    }
    void aVanishedDeviceFailsTheDownloadInEveryMode() {
        QFETCH(int, mode);
        TRig rig;
        QVERIFY(rig.Port.OpenPort(true));
        rig.Pty.CloseMaster();
        TOutcome outcome;
        RunTask(rig.Port, rig.File("lines.txt", "one\r\ntwo\r\nthree\r\n"), Sync(mode), outcome);
        QCOMPARE(outcome.ErrorText, TQxLoadTask::ConnectionLostText);
        QCOMPARE(outcome.LineIndex, 0);
        QVERIFY(outcome.Progress.isEmpty());
    }

    // The handshake wait leaves the main thread free between short reads:
    // its timers run while a silent target is waited for.
    void theMainThreadHandlesEventsDuringTheHandshakeWait() {
        TRig rig;
        QVERIFY(rig.Port.OpenPort(true));
        TDownloadTarget target(rig.Pty.MasterFd());
        int ticks = 0;
        TOutcome outcome;
        RunTask(rig.Port, rig.File("one.txt", "only line\r\n"), Sync(2), outcome,
                [&](TQxLoadTask&) { ++ticks; });
        QCOMPARE(outcome.ErrorText, QString());
        QCOMPARE(target.LineCount(), 1);
        // The one wait lasts 1000 ms; a blocked main thread would tick once.
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }

    void emptyFileSendsNothingButOpensAndClosesItsRequest() {
        TRig rig;
        // The port configures the line when the task opens it (9600 baud)
        // and gives it back as it found it at the close.
        termios line{};
        tcgetattr(rig.Pty.MasterFd(), &line);
        cfsetspeed(&line, B300);
        tcsetattr(rig.Pty.MasterFd(), TCSANOW, &line);
        TDownloadTarget target(rig.Pty.MasterFd());
        TOutcome outcome;
        RunTask(rig.Port, rig.File("empty.txt", ""), Sync(2), outcome);
        tcgetattr(rig.Pty.MasterFd(), &line);
        QCOMPARE(cfgetospeed(&line), speed_t(B300));
        QCOMPARE(rig.Port.Requests(), 0);
        QVERIFY(!rig.Port.Open());
        QCOMPARE(outcome.LineCount, 0);
        QVERIFY(outcome.Progress.isEmpty());
        QCOMPARE(outcome.ErrorText, QString());
        QTest::qWait(100);
        QCOMPARE(target.Received(), QByteArray());
    }
};

QTEST_MAIN(TestDownloadTask)
#include "test_download_task.moc"
