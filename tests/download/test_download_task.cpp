// The download task against a target on a pseudo-terminal that answers
// from its own thread.
#include "download/TQxLoadTask.h"
#include "platform/ProfileFile.h"
#include "terminal/TQxConsole.h"
#include "tests/download/DownloadRig.h"
#include "tests/download/DownloadTarget.h"

#include <QtTest>

#include <set>
#include <thread>

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
void RunTask(TQxComPort& port, const QString& file, const TTransferSync& sync, TOutcome& outcome) {
    auto* task = new TQxLoadTask(port, file);
    task->OnProgress = [&outcome](TQxLoadTask&, int max, int position) {
        outcome.Progress << qMakePair(max, position);
    };
    QEventLoop loop;
    task->OnTerminate = [&outcome, &loop, task] {
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
        TProfileFile(rig.Dir.SettingsFile()).WriteString("COM-Device", "Reconnect", "0");
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

    void emptyFileSendsNothingButOpensAndClosesItsRequest() {
        TRig rig;
        // The port configures the line when the task opens it (9600 baud).
        termios line{};
        tcgetattr(rig.Pty.MasterFd(), &line);
        cfsetspeed(&line, B300);
        tcsetattr(rig.Pty.MasterFd(), TCSANOW, &line);
        TDownloadTarget target(rig.Pty.MasterFd());
        TOutcome outcome;
        RunTask(rig.Port, rig.File("empty.txt", ""), Sync(2), outcome);
        tcgetattr(rig.Pty.MasterFd(), &line);
        QCOMPARE(cfgetospeed(&line), speed_t(B9600));
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
