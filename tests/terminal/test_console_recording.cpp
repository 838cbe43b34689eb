// Recording the terminal screen into logfiles: real files in a temporary
// directory, written through the pane as its owner drives it.
#include "terminal/TQxConsole.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/SmallDisk.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString OpenFailed =
    QStringLiteral("Can't open the selected file.\n\rPlease check, if the file is already in use.");

QByteArray Padded(const QByteArray& text, int width = 80) {
    return text.leftJustified(width, ' ');
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The file cut into its CR LF lines (a final empty piece dropped).
QList<QByteArray> FileLines(const QString& path) {
    QList<QByteArray> lines = ReadAll(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (!line.endsWith('\r'))
            return {"<line without CR LF: " + line + ">"};
        line.chop(1);
    }
    return lines;
}

bool IsMarker(const QByteArray& line, const char* kind) {
    const QRegularExpression pattern(QStringLiteral("^--- %1 of recording: (.+) ---$").arg(kind));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
    return match.hasMatch() && match.captured(1).startsWith(QLocale::system().toString(
                                   QDate::currentDate(), QLocale::ShortFormat));
}

// A pane of Rows screen rows.
struct Pane {
    explicit Pane(int rows = 4) {
        Console.resize(700, rows * Console.LineHeight());
        Console.show();
    }
    FakeInteraction Fake;
    TQxConsole Console;
};

} // namespace

class TestConsoleRecording : public QObject {
    Q_OBJECT

private slots:
    void init() {
        Dir = std::make_unique<QTemporaryDir>();
        QVERIFY(Dir->isValid());
    }

    void startAndStopOnAnEmptyScreen() {
        const QString path = Dir->filePath("new.log");
        {
            Pane p;
            p.Console.SetLogFile(path);
            QVERIFY(p.Console.Log().Active);
            QCOMPARE(p.Console.Log().FileName, path);
            p.Console.SetRecording(false);
            QVERIFY(!p.Console.Log().Active);
            QCOMPARE(p.Console.Log().FileName, path); // kept for the next start
            QVERIFY(p.Fake.Prompts.isEmpty());
        }
        const QList<QByteArray> lines = FileLines(path);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QByteArray());
        QVERIFY2(IsMarker(lines[1], "Start"), lines[1].constData());
        QCOMPARE(lines[2], Padded(""));
        QVERIFY2(IsMarker(lines[3], "End"), lines[3].constData());
    }

    void recordingsAreAppendedWithAnEmptyLineBetween() {
        const QString path = Dir->filePath("twice.log");
        const QByteArray before = QByteArray("kept\x1a tail\r\n", 12) + QByteArray(50, 'z');
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        Pane p;
        p.Console.SetLogFile(path);
        p.Console.WriteText("first");
        p.Console.SetLogFile(path); // stops, then starts again
        p.Console.WriteText("\r\nsecond");
        p.Console.SetRecording(false);
        const QByteArray content = ReadAll(path);
        QVERIFY(content.startsWith(before)); // a Ctrl-Z in the file cuts nothing
        // The first start marker's CR LF ends the file's unfinished last line.
        const QList<QByteArray> lines = FileLines(path).mid(1);
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines[0], QByteArray(50, 'z'));
        QVERIFY(IsMarker(lines[1], "Start"));
        QCOMPARE(lines[2], Padded("first"));
        QVERIFY(IsMarker(lines[3], "End"));
        QCOMPARE(lines[4], QByteArray());
        QVERIFY(IsMarker(lines[5], "Start"));
        QCOMPARE(lines.mid(6, 2), (QList<QByteArray>{Padded("first"), Padded("second")}));
        QVERIFY(IsMarker(lines[8], "End"));
    }

    void scrolledLinesGoInScreenOrderThenTheScreen() {
        const QString path = Dir->filePath("scroll.log");
        Pane p(4);
        p.Console.WriteText("a1\r\nb2\r\n");
        p.Console.SetLogFile(path);
        p.Console.WriteText("c3\r\nd4\r\ne5\r\nf6   \r\ng7\r\nh8\x1bP9"
                            "0last");
        p.Console.SetRecording(false);
        QList<QByteArray> expected;
        // Positioning to row 9 of 4 scrolls six rows off: h8's row and two blank
        // ones below it; three blank rows and "last" stay on screen.
        for (const char* text :
             {"a1", "b2", "c3", "d4", "e5", "f6", "g7", "h8", "", "", "", "", "", "last"})
            expected << Padded(text);
        const QList<QByteArray> lines = FileLines(path);
        QCOMPARE(lines.mid(2, lines.size() - 3), expected);
    }

    void everyClearWritesTheWholeScreen_data() {
        QTest::addColumn<QByteArray>("clearing");
        QTest::newRow("FF") << QByteArray("\f");
        QTest::newRow("SUB") << QByteArray("\x1a");
        QTest::newRow("Clear command") << QByteArray();
    }
    void everyClearWritesTheWholeScreen() {
        QFETCH(QByteArray, clearing);
        const QString path = Dir->filePath("clear.log");
        Pane p(4);
        p.Console.SetLogFile(path);
        p.Console.WriteText("x1\r\ny2\r\nz3 written in the same block as the clear" + clearing);
        if (clearing.isEmpty())
            p.Console.ClearScreen();
        p.Console.WriteText("after");
        p.Console.SetRecording(false);
        const QList<QByteArray> lines = FileLines(path);
        QCOMPARE(lines.mid(2, 4), (QList<QByteArray>{Padded("x1"), Padded("y2"),
                                                     Padded("z3 written in the same block as "
                                                            "the clear"),
                                                     Padded("after")}));
        QCOMPARE(lines.size(), 7);
    }

    void anEmulationSwitchWritesTheOldScreenFirst() {
        const QString path = Dir->filePath("switch.log");
        Pane p(4);
        p.Console.SetLogFile(path);
        p.Console.WriteText("ascii");
        p.Console.SetHexEmulation(true);
        p.Console.WriteText("AB");
        p.Console.SetRecording(false);
        const QList<QByteArray> lines = FileLines(path);
        QCOMPARE(lines.mid(2, 2), (QList<QByteArray>{Padded("ascii"), Padded("41 42", 49) + "AB"}));
    }

    void pausedTextNeverReachesTheFile() {
        const QString path = Dir->filePath("pause.log");
        Pane p(4);
        p.Console.SetLogFile(path);
        p.Console.WriteText("before\r\n");
        p.Console.SetDisplaying(false);
        p.Console.WriteText("during\r\n1\r\n2\r\n3\r\n4\r\n");
        p.Console.SetDisplaying(true);
        p.Console.SetRecording(false);
        QVERIFY(p.Console.Log().FileName == path);
        const QByteArray content = ReadAll(path);
        QVERIFY(content.contains("before"));
        QVERIFY(!content.contains("during"));
    }

    void aFileThatCannotBeOpenedGivesTheWarning_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent is a file") << QStringLiteral("plain/inside.log");
        QTest::newRow("missing directory") << QStringLiteral("missing/dir/x.log");
        QTest::newRow("a directory") << QStringLiteral(".");
    }
    void aFileThatCannotBeOpenedGivesTheWarning() {
        QFETCH(QString, name);
        QFile plain(Dir->filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        Pane p;
        p.Console.SetLogFile(Dir->filePath(name));
        QVERIFY(!p.Console.Log().Active);
        QCOMPARE(p.Console.Log().FileName, Dir->filePath(name));
        QCOMPARE(p.Fake.WarningTexts(), QStringList{OpenFailed});
        QVERIFY(!p.Fake.Prompts[0].Detail.isEmpty());
    }

    void aFileInUseByAnotherRecordingGivesTheWarning() {
        const QString path = Dir->filePath("shared.log");
        Pane first;
        first.Console.SetLogFile(path);
        QVERIFY(first.Console.Log().Active);
        {
            TQxConsole second;
            second.SetLogFile(path);
            QVERIFY(!second.Log().Active);
        }
        QCOMPARE(first.Fake.WarningTexts(), QStringList{OpenFailed});
        first.Console.SetRecording(false);
        QCOMPARE(ReadAll(path).count("--- Start of recording: "), 1);
    }

    // A file that refuses the start marker ends the recording at once; the
    // warning follows once the command has returned.
    void aFileThatRefusesTheStartMarkerEndsTheRecordingAtOnce() {
        Pane p;
        int ended = 0;
        p.Console.OnRecordingEnded = [&ended](TQxConsole&) { ++ended; };
        p.Console.SetLogFile(QStringLiteral("/dev/full"));
        QVERIFY(!p.Console.Log().Active);
        QCOMPARE(ended, 1);
        QTRY_COMPARE(p.Fake.WarningTexts(), QStringList{TConsoleScreen::WriteFailedText});
        QVERIFY(p.Fake.Prompts[0].Detail.startsWith("/dev/full: "));
        const QString next = Dir->filePath("next.log");
        p.Console.SetLogFile(next);
        QVERIFY(p.Console.Log().Active);
        p.Console.SetRecording(false);
        QCOMPARE(FileLines(next).size(), 3 + p.Console.Lines().size());
    }

    // A disk that fills up while the recording runs ends it with the first
    // line it refuses: once, with the reason, and the file keeps what it
    // took.
    void aDiskThatFillsUpEndsTheRecordingWhenItHappens() {
        SmallDisk disk(16);
        QSKIP_WITHOUT_DISK(disk);
        Pane p;
        int ended = 0;
        p.Console.OnRecordingEnded = [&ended](TQxConsole&) { ++ended; };
        const QString path = disk.Path() + "full.log";
        p.Console.SetLogFile(path);
        QVERIFY(p.Console.Log().Active);
        int lines = 0;
        for (; lines < 2000 && p.Console.Log().Active; ++lines)
            p.Console.WriteText("filling the disk\r\n");
        QVERIFY(!p.Console.Log().Active);
        QVERIFY(lines < 1000);
        QCOMPARE(ended, 1);
        p.Console.WriteText("after the end\r\n");
        QTRY_COMPARE(p.Fake.WarningTexts(), QStringList{TConsoleScreen::WriteFailedText});
        QVERIFY(p.Fake.Prompts[0].Detail.contains(path));
        QVERIFY(ReadAll(path).startsWith("\r\n--- Start of recording: "));
        QVERIFY(ReadAll(path).contains(Padded("filling the disk") + "\r\n"));
        p.Console.SetRecording(false);
        QTest::qWait(50);
        QCOMPARE(p.Fake.Prompts.size(), 1);
    }

    void destroyingThePaneFinishesTheRecording() {
        const QString path = Dir->filePath("end.log");
        {
            Pane p;
            p.Console.SetLogFile(path);
            p.Console.WriteText("still on screen");
        }
        const QList<QByteArray> lines = FileLines(path);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[2], Padded("still on screen"));
        QVERIFY(IsMarker(lines[3], "End"));
        {
            Pane p;
            p.Console.SetLogFile(QStringLiteral("/dev/full"));
            p.Console.WriteText(QByteArray(100000, 'x'));
        } // reports through the interaction, never throws
    }

    void aNameInCapitalsIsUsedAsTyped() {
        Pane p;
        const QString path = Dir->filePath("Session.LOG");
        p.Console.SetLogFile(path);
        p.Console.SetRecording(false);
        QCOMPARE(p.Console.Log().FileName, path);
        QVERIFY(QFile::exists(path));
        QVERIFY(!QFile::exists(Dir->filePath("session.log")));
        p.Console.SetRecording(true); // starts again into the same file
        QVERIFY(p.Console.Log().Active);
        p.Console.SetRecording(false);
        QCOMPARE(ReadAll(path).count("--- Start of recording: "), 2);
    }

    // Every line that left the screen is in the file while the recording
    // runs, whatever the emulation and whether times are written.
    void aRunningRecordingIsOnDiskAsItHappens_data() {
        QTest::addColumn<bool>("timestamps");
        QTest::newRow("plain") << false;
        QTest::newRow("timestamps") << true;
    }
    void aRunningRecordingIsOnDiskAsItHappens() {
        QFETCH(bool, timestamps);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.log"));
        Pane p(4);
        p.Console.Screen().Timestamps = timestamps;
        p.Console.SetLogFile(path);
        QVERIFY(p.Console.Log().Active);
        for (int i = 0; i < 10; ++i)
            p.Console.WriteText("line " + QByteArray::number(i) + "\r\n");
        const QTime after = QTime::currentTime();
        const QList<QByteArray> lines = FileLines(path);
        QVERIFY(IsMarker(lines.value(1), "Start"));
        QCOMPARE(lines.size(), 2 + 10 + 1 - 4);
        const QRegularExpression stamp(
            QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d) line 0 *$"));
        if (timestamps) {
            const QRegularExpressionMatch match = stamp.match(QString::fromLatin1(lines[2]));
            QVERIFY2(match.hasMatch(), lines[2].constData());
            const QTime at = QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss.zzz"));
            // Within the last minute (also across midnight).
            QVERIFY((at.msecsTo(after) + 86400000) % 86400000 < 60000);
            QVERIFY(lines[lines.size() - 1].endsWith(Padded("line 6")));
        } else {
            QCOMPARE(lines[2], Padded("line 0"));
            QCOMPARE(lines.last(), Padded("line 6"));
        }
        p.Console.SetRecording(false);
        const QList<QByteArray> all = FileLines(path);
        QVERIFY(IsMarker(all.last(), "End"));
        QVERIFY(IsMarker(all.value(1), "Start"));
    }

private:
    std::unique_ptr<QTemporaryDir> Dir;
};

QTEST_MAIN(TestConsoleRecording)
#include "test_console_recording.moc"
