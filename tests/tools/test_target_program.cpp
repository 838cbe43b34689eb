// qx-target as a program: a client on its pseudo-terminal talks to it the
// way the terminal talks to a serial device.
#include "tests/support/target/TargetProcess.h"
#include "tools/Crc32.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

QList<QByteArray> FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines)
        line = line.trimmed();
    return lines;
}

// Sends each line with CR LF and expects Answer (and nothing else) after
// it; returns the index of the first line that went unanswered, or -1.
int SendAnsweredLines(TargetProcess& target, const QList<QByteArray>& lines,
                      const QByteArray& answer) {
    for (int i = 0; i < lines.size(); ++i) {
        if (!target.Write(lines[i] + "\r\n") || target.Read(answer.size()) != answer)
            return i;
    }
    return -1;
}

// CPU time (user and system) the process has used, in clock ticks.
long CpuTicks(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

} // namespace

class TestTargetProgram : public QObject {
    Q_OBJECT

private slots:
    void echoesEveryByte() {
        TargetProcess target;
        QVERIFY(target.Start({"--echo"}));
        QVERIFY(target.OpenClient());
        QByteArray bytes;
        for (int round = 0; round < 4; ++round)
            for (int value = 0; value < 256; ++value)
                bytes.append(static_cast<char>(value));
        QVERIFY(target.Write(bytes));
        QCOMPARE(target.Read(bytes.size()), bytes);
        QVERIFY(target.Stop(SIGTERM));
        QCOMPARE(target.ExitCode(), 0);
        const auto summary = target.Summary();
        QCOMPARE(summary.value("received_bytes"), QByteArray("1024"));
        QCOMPARE(summary.value("sent_bytes"), QByteArray("1024"));
    }

    void loaderAnswersEveryLineAndCountsRecords() {
        QTemporaryDir dir;
        const QString file = dir.filePath("sample.s19");
        const TargetRun make = RunTarget({"--make-srec", "60", file});
        QCOMPARE(make.ExitCode, 0);
        QVERIFY(make.Output.contains("lines: 62\n"));
        QList<QByteArray> lines = FileLines(file);
        QCOMPARE(lines.size(), 62);
        lines.insert(1, "plain text line");
        lines.insert(2, "");

        TargetProcess target;
        QVERIFY(target.Start({"--loader", "OK#42"}));
        QVERIFY(target.OpenClient());
        QCOMPARE(SendAnsweredLines(target, lines, "OK*"), -1);
        // A line end split over two writes is still one line end.
        QVERIFY(target.Write("S9030000FC\r"));
        QCOMPARE(target.Read(3), QByteArray("OK*"));
        QVERIFY(target.Write("\n"));
        QCOMPARE(target.Read(1, 300), QByteArray());

        QVERIFY(target.Stop(SIGTERM));
        QCOMPARE(target.ExitCode(), 0);
        const auto summary = target.Summary();
        QCOMPARE(summary.value("lines"), QByteArray("65"));
        QCOMPARE(summary.value("answered"), QByteArray("65"));
        QCOMPARE(summary.value("records"), QByteArray("63"));
        QCOMPARE(summary.value("data_bytes"), QByteArray("960"));
        QCOMPARE(summary.value("checksum_errors"), QByteArray("0"));
        QCOMPARE(summary.value("malformed_records"), QByteArray("0"));
    }

    void echoComesBeforeTheAnswer() {
        TargetProcess target;
        QVERIFY(target.Start({"--echo", "--loader", "#42"}));
        QVERIFY(target.OpenClient());
        QVERIFY(target.Write("S9030000FC\r\n"));
        QCOMPARE(target.Read(13), QByteArray("S9030000FC\r\n*"));
        // A line ended by CR alone is answered all the same.
        QVERIFY(target.Write("typed\r"));
        QCOMPARE(target.Read(7), QByteArray("typed\r*"));
    }

    // The record's checksum digit or a data digit is spoiled; the loader
    // still answers, counts the error, and ends with status 3 after the
    // number of lines given with --lines.
    void loaderFindsBadRecords_data() {
        QTest::addColumn<QString>("makeOption");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column"); // from the end of the line, 1 = last digit
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QByteArray>("errorKey");
        QTest::newRow("srec checksum")
            << "--make-srec" << 5 << 1 << QByteArray("x") << QByteArray("checksum_errors");
        QTest::newRow("srec data")
            << "--make-srec" << 9 << 7 << QByteArray("x") << QByteArray("checksum_errors");
        QTest::newRow("srec not hex")
            << "--make-srec" << 3 << 4 << QByteArray("G") << QByteArray("malformed_records");
        QTest::newRow("ihex checksum")
            << "--make-ihex" << 5 << 1 << QByteArray("x") << QByteArray("checksum_errors");
        QTest::newRow("ihex data")
            << "--make-ihex" << 12 << 9 << QByteArray("x") << QByteArray("checksum_errors");
        QTest::newRow("ihex cut short")
            << "--make-ihex" << 2 << 2 << QByteArray("") << QByteArray("malformed_records");
    }
    void loaderFindsBadRecords() {
        QFETCH(QString, makeOption);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QByteArray, replacement);
        QFETCH(QByteArray, errorKey);
        QTemporaryDir dir;
        const QString file = dir.filePath("sample");
        QCOMPARE(RunTarget({makeOption, "20", file}).ExitCode, 0);
        QList<QByteArray> lines = FileLines(file);
        QByteArray& spoilt = lines[line];
        const qsizetype at = spoilt.size() - column;
        if (replacement == "x") {
            // Another hex digit: the record stays well-formed.
            replacement = QByteArray(1, spoilt[at] == '0' ? '1' : '0');
        }
        spoilt.replace(at, replacement.isEmpty() ? 2 : 1, replacement);

        TargetProcess target;
        QVERIFY(target.Start({"--loader", "#42", "--lines", QString::number(lines.size())}));
        QVERIFY(target.OpenClient());
        QCOMPARE(SendAnsweredLines(target, lines, "*"), -1);
        QVERIFY(target.WaitForEnd());
        QVERIFY(target.EndedNormally());
        QCOMPARE(target.ExitCode(), 3);
        const auto summary = target.Summary();
        QCOMPARE(summary.value(errorKey), QByteArray("1"));
        QCOMPARE(summary.value("records"), QByteArray::number(lines.size()));
        QCOMPARE(summary.value("lines"), QByteArray::number(lines.size()));
    }

    void dropLeavesOneLineUnansweredOnce() {
        TargetProcess target;
        QVERIFY(target.Start({"--loader", "#42", "--drop", "3"}));
        QVERIFY(target.OpenClient());
        QCOMPARE(SendAnsweredLines(target, {"line 1", "line 2"}, "*"), -1);
        QVERIFY(target.Write("line 3\r\n"));
        QCOMPARE(target.Read(1, 500), QByteArray());
        // The sender's repeat is answered, so are the lines after it.
        QCOMPARE(SendAnsweredLines(target, {"line 3", "line 4", "line 3"}, "*"), -1);
        QVERIFY(target.Stop(SIGTERM));
        QCOMPARE(target.ExitCode(), 0);
        const auto summary = target.Summary();
        QCOMPARE(summary.value("lines"), QByteArray("5"));
        QCOMPARE(summary.value("dropped"), QByteArray("1"));
        QCOMPARE(summary.value("repeats"), QByteArray("1"));
        QCOMPARE(summary.value("answered"), QByteArray("5"));
    }

    void floodSendsExactlyWhatItReports_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("rate");
        QTest::newRow("text") << "text" << 1000000 << "max";
        QTest::newRow("binary") << "binary" << 262147 << "max";
        QTest::newRow("binary at a rate") << "binary" << 30000 << "60000";
    }
    void floodSendsExactlyWhatItReports() {
        QFETCH(QString, kind);
        QFETCH(int, bytes);
        QFETCH(QString, rate);
        TargetProcess target;
        QVERIFY(target.Start({"--flood", kind, "--bytes", QString::number(bytes), "--rate", rate}));
        QVERIFY(target.OpenClient());
        const QByteArray received = target.Read(bytes);
        QCOMPARE(received.size(), bytes);
        QCOMPARE(target.Read(1, 300), QByteArray());
        if (kind == "text") {
            QVERIFY(received.startsWith("00000000 !"));
            QCOMPARE(received.count("\r\n"), bytes / 72);
        }
        Crc32 crc;
        crc.Update(received.constData(), received.size());
        QVERIFY(target.Stop(SIGTERM));
        const auto summary = target.Summary();
        QCOMPARE(summary.value("flood_bytes"), QByteArray::number(bytes));
        QCOMPARE(summary.value("flood_crc32"),
                 "0x" + QByteArray::number(crc.Value(), 16).rightJustified(8, '0'));
    }

    // 11,520 bytes are one second of a 115200-baud line; the bound leaves
    // room for the first chunk that an idle line passes at once.
    void baudPacesOutput() {
        TargetProcess target;
        QVERIFY(target.Start({"--flood", "binary", "--bytes", "11520", "--baud", "115200"}));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(target.OpenClient());
        QCOMPARE(target.Read(11520).size(), 11520);
        QVERIFY2(timer.elapsed() >= 800, QByteArray::number(timer.elapsed()));
    }

    void baudPacesInput() {
        TargetProcess target;
        QVERIFY(target.Start({"--loader", "#42", "--baud", "115200"}));
        QVERIFY(target.OpenClient());
        const QByteArray line = QByteArray(70, 'x') + "\r\n";
        QElapsedTimer timer;
        timer.start();
        QVERIFY(target.Write(line.repeated(160))); // 11,520 bytes
        QCOMPARE(target.Read(160), QByteArray(160, '*'));
        QVERIFY2(timer.elapsed() >= 800, QByteArray::number(timer.elapsed()));
    }

    void stopsCleanlyOnSignal_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << int(SIGTERM) << QByteArray("S9030000FC") << 0;
        QTest::newRow("SIGINT") << int(SIGINT) << QByteArray("S9030000FC") << 0;
        QTest::newRow("SIGTERM after a bad record")
            << int(SIGTERM) << QByteArray("S9030000FD") << 3;
    }
    void stopsCleanlyOnSignal() {
        QFETCH(int, signal);
        QFETCH(QByteArray, record);
        QFETCH(int, exitCode);
        TargetProcess target;
        QVERIFY(target.Start({"--echo", "--loader", "#42"}));
        QVERIFY(target.OpenClient());
        QVERIFY(target.Write(record + "\r\n"));
        QCOMPARE(target.Read(record.size() + 3).size(), record.size() + 3);
        QVERIFY(target.Stop(signal));
        QVERIFY(target.EndedNormally());
        QCOMPARE(target.ExitCode(), exitCode);
        const auto summary = target.Summary();
        QCOMPARE(summary.value("received_bytes"), QByteArray::number(record.size() + 2));
        QCOMPARE(summary.value("lines"), QByteArray("1"));
        QCOMPARE(summary.value("records"), QByteArray("1"));
    }

    // Between two clients the target waits without spinning and serves the
    // next one as it did the first.
    void servesClientAfterClientWithoutSpinning() {
        TargetProcess target;
        QVERIFY(target.Start({"--echo"}));
        QVERIFY(target.OpenClient());
        QVERIFY(target.Write("first"));
        QCOMPARE(target.Read(5), QByteArray("first"));
        target.CloseClient();
        const long before = CpuTicks(target.Pid());
        QTest::qWait(1500);
        const long used = CpuTicks(target.Pid()) - before;
        QVERIFY(before >= 0);
        QVERIFY2(used < sysconf(_SC_CLK_TCK) / 2, QByteArray::number(qlonglong(used)));
        QVERIFY(target.OpenClient());
        QVERIFY(target.Write("second"));
        QCOMPARE(target.Read(6), QByteArray("second"));
        QVERIFY(target.Stop(SIGTERM));
        QCOMPARE(target.Summary().value("connections"), QByteArray("2"));
    }

    void endsWhenIdle() {
        TargetProcess target;
        QVERIFY(target.Start({"--echo", "--exit-after-idle", "300"}));
        QVERIFY(target.WaitForEnd());
        QVERIFY(target.EndedNormally());
        QCOMPARE(target.ExitCode(), 0);
        QCOMPARE(target.Summary().value("connections"), QByteArray("0"));
    }

    void commandLineErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: qx-target");
        QTest::newRow("no mode") << QStringList{} << 2 << QByteArray();
        QTest::newRow("unknown option") << QStringList{"--echo", "--fast"} << 2 << QByteArray();
        QTest::newRow("bad flood") << QStringList{"--flood", "noise"} << 2 << QByteArray();
        QTest::newRow("file not writable")
            << QStringList{"--make-srec", "5", "/nonexistent-dir/x.s19"} << 1 << QByteArray();
    }
    void commandLineErrors() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        const TargetRun run = RunTarget(args);
        QCOMPARE(run.ExitCode, exitCode);
        QVERIFY(run.Output.contains(output));
        QCOMPARE(run.Errors.isEmpty(), exitCode == 0);
    }
};

QTEST_GUILESS_MAIN(TestTargetProgram)
#include "test_target_program.moc"
