// The VT screen against a reference engine nobody here built (xterm.js,
// headless, from npm): real programs run on a pseudo-terminal of 80x24
// with scripted keys, what they print goes through our screen (whose
// answers go back to them, as the pane's do), and the same bytes go to the
// reference. The visible rows and the cursor must agree. Every capture is
// kept beside the test program (vtref-<case>.bin) to replay a difference.
//
// Where the engines differ by design, the cases stay clear of it: invalid
// UTF-8 shows one U+FFFD a sequence here, while xterm.js drops the bytes.
#include "terminal/TVtScreen.h"
#include "tests/support/PtyProgram.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int Columns = 80;
constexpr int Rows = 24;

struct ReferenceScreen {
    QStringList Rows;
    QPoint Cursor;
};

QString ModuleDirectory() {
    return QStringLiteral(QX_VTREF_MODULES);
}

// Runs the reference on a capture file; false with Error when it failed.
bool RunReference(const QString& captureFile, ReferenceScreen& screen, QString& error) {
    QProcess node;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NODE_PATH", ModuleDirectory());
    node.setProcessEnvironment(environment);
    node.start(QStandardPaths::findExecutable("node"),
               {QStringLiteral(QX_VTREF_SCRIPT), "--cols", QString::number(Columns), "--rows",
                QString::number(Rows), captureFile});
    if (!node.waitForFinished(60000) || node.exitCode() != 0) {
        error = QString::fromUtf8(node.readAllStandardError());
        return false;
    }
    QStringList lines = QString::fromUtf8(node.readAllStandardOutput()).split('\n');
    while (!lines.isEmpty() && !lines.back().startsWith("cursor "))
        lines.removeLast();
    if (lines.isEmpty()) {
        error = "no cursor line in the reference's output";
        return false;
    }
    // The reference keeps spaces that were written at the end of a row, and
    // reports the cursor one past the last column while a wrap is pending;
    // here trailing blanks are cut and the cursor stays on the last column.
    const QStringList cursor = lines.takeLast().split(' ');
    screen.Cursor = QPoint(std::min(cursor.value(2).toInt(), Columns) - 1,
                           cursor.value(1).toInt() - 1);
    static const QRegularExpression trailingBlanks(" +$");
    for (QString& line : lines)
        line.remove(trailingBlanks);
    screen.Rows = lines;
    return true;
}

QStringList Padded(QStringList rows) {
    while (rows.size() < Rows)
        rows.append(QString());
    return rows;
}

// A text file for the pagers and editors: numbered lines, a tab, UTF-8.
void WriteSampleText(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 1; i <= 60; ++i)
        file.write(
            QString("line %1:\tthe quick brown fox jumps over the lazy dog\n").arg(i).toUtf8());
    file.write("sensor: 25.4 \xc2\xb0"
               "C, \xe4\xbd\xa0\xe5\xa5\xbd \xe4\xb8\x96\xe7\x95\x8c\n");
}

} // namespace

class TestVtReference : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("node").isEmpty())
            QSKIP("node is not installed (scripts/install-deps.sh installs nodejs and npm)");
        if (!QFile::exists(ModuleDirectory() + "/@xterm/headless/package.json"))
            QSKIP(qPrintable("the npm package @xterm/headless is missing in " + ModuleDirectory() +
                             ": the test test_vt_reference_install runs npm install there; "
                             "see its output"));
    }

    void screenMatchesTheReference_data() {
        QTest::addColumn<QStringList>("program");
        QTest::addColumn<QByteArray>("term");
        QTest::addColumn<QList<QByteArray>>("keys");
        const QByteArray xterm = "xterm-256color";
        const QList<QByteArray> none;
        auto printf = [&](const char* name, const QByteArray& format) {
            QTest::newRow(name) << QStringList{"printf", QString::fromUtf8(format)} << xterm
                                << none;
        };
        printf(
            "printf colours and erase",
            "\\033[2J\\033[H\\033[1;31mred bold\\033[0m plain \\033[4;38;5;82mcolour\\033[0m\\r\\n"
            "\\033[48;2;10;20;30mtrue colour\\033[0m\\r\\nABCDEFGHIJ\\033[5D\\033[K\\r\\n"
            "0123456789\\033[4;6H\\033[1K\\033[6;1HXYZ\\033[J");
        printf("printf insert and delete",
               "one\\r\\ntwo\\r\\nthree\\r\\nfour\\r\\n\\033[1;2H\\033[2@\\033[2;2H\\033[1P"
               "\\033[3;2H\\033[2X\\033[2;1H\\033[L\\033[5;1H\\033[M\\033[4hIN\\033[4l");
        printf(
            "printf scroll region",
            "1\\r\\n2\\r\\n3\\r\\n4\\r\\n5\\r\\n6\\r\\n7\\r\\n8\\r\\n9\\033[3;7r\\033[7;1H\\n\\nA"
            "\\033[3;1H\\033M\\033MB\\033[2S\\033[T\\033[r\\033[12;1Hend");
        printf("printf tabs",
               "a\\tb\\tc\\r\\n\\033[3g\\033[5G\\033H\\033[15G\\033H\\r\\tx\\ty\\r\\n"
               "\\033[3g\\033[0;1H\\033[?5W\\ttab");
        printf("printf cursor moves",
               "\\033[10;10H\\033[3A1\\033[2B2\\033[5C3\\033[4D4\\033[2E5\\033[1F6\\033[30G7"
               "\\033[12d8\\033[3;3f9\\0337\\033[20;20Hs\\0338R\\033[s\\033[21;1Hu\\033[uU");
        printf("printf wrap and wide characters", QByteArray(79, 'x') + "\xe4\xbd\xa0|" +
                                                      QByteArray(80, 'y') +
                                                      "\\r\\nZ\\r\\ncafe\xcc\x81 25.4 \xc2\xb0"
                                                      "C \xe4\xb8\x96\xe7\x95\x8c end\\033[?7l" +
                                                      QByteArray(90, 'n'));
        printf("printf line drawing and origin mode",
               "\\033(0lqqk\\r\\nx  x\\r\\nmqqj\\033(B done\\033[5;10r\\033[?6h\\033[1;1HO"
               "\\033[?6l\\033[r\\033[?25l");
        printf("printf alternate screen",
               "main text\\033[?1049h\\033[2Jalt text\\033[?1049l back\\033[?47hx\\033[?47l");
        QTest::newRow("bash line editing")
            << QStringList{"bash", "--norc", "--noprofile", "-i"} << xterm
            << QList<QByteArray>{"echo hello world",
                                 "\x1b[D\x1b[D\x1b[D\x1b[D\x1b[D",
                                 "big ",
                                 "\r",
                                 "echo second\r",
                                 "\x1b[A\x1b[A",
                                 "\x1b[C\x1b[H#",
                                 "\r",
                                 "echo " + QByteArray(100, 'w') + "\r",
                                 "printf '\\033[1;33mcolour\\033[0m 25.4 \xc2\xb0"
                                 "C "
                                 "\xe4\xbd\xa0\xe5\xa5\xbd\\n'\r"};
        const QList<QByteArray> viKeys = {"jjjw",      "ihello \x1b", "G",  "onew last line\x1b",
                                          ":set nu\r", "5G",          "dd", "kkx"};
        QTest::newRow("vi xterm") << QStringList{"vi", "-u", "NONE", "text.txt"} << xterm << viKeys;
        QTest::newRow("vi vt220") << QStringList{"vi", "-u", "NONE", "text.txt"}
                                  << QByteArray("vt220") << viKeys;
        QTest::newRow("less") << QStringList{"less", "text.txt"} << xterm
                              << QList<QByteArray>{" ", "/line 3\r", "n", "G", "g"};
        QTest::newRow("top") << QStringList{"top", "-n", "1"} << xterm << none;
    }
    void screenMatchesTheReference() {
        QFETCH(QStringList, program);
        QFETCH(QByteArray, term);
        QFETCH(QList<QByteArray>, keys);
        if (QStandardPaths::findExecutable(program.first()).isEmpty())
            QSKIP(qPrintable(program.first() + " is not installed (scripts/install-deps.sh)"));
        QTemporaryDir home;
        WriteSampleText(home.filePath("text.txt"));

        PtyProgram run;
        TVtScreen ours(Columns, Rows);
        QByteArray capture;
        ours.OnAnswer = [&run](const QByteArray& answer) { run.Write(answer); };
        run.OnOutput = [&](const QByteArray& bytes) {
            capture += bytes;
            ours.WriteText(bytes);
        };
        QVERIFY(run.Start(program, home.path(), term, Columns, Rows,
                          {"PS1=$ ", "HISTFILE=/dev/null", "LESSHISTFILE=-", "LESS="}));
        QVERIFY2(run.ReadUntilQuiet(400, 15000), "the program printed nothing");
        for (const QByteArray& step : keys) {
            QVERIFY(run.Write(step));
            run.ReadUntilQuiet(400, 5000);
        }

        const QString captureFile =
            QString("vtref-%1.bin").arg(QString(QTest::currentDataTag()).replace(' ', '-'));
        QFile file(captureFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(capture) == capture.size());
        file.close();
        ReferenceScreen reference;
        QString error;
        QVERIFY2(RunReference(captureFile, reference, error), qPrintable(error));

        const QStringList ourRows = Padded(ours.VisibleText());
        const QStringList theirRows = Padded(reference.Rows);
        int matching = 0;
        QString firstDifference;
        for (int row = 0; row < Rows; ++row) {
            if (ourRows.value(row) == theirRows.value(row))
                ++matching;
            else if (firstDifference.isEmpty())
                firstDifference = QString("row %1:\n  ours:      '%2'\n  reference: '%3'")
                                      .arg(row + 1)
                                      .arg(ourRows.value(row), theirRows.value(row));
        }
        qInfo("%s: %d of %d rows match (%lld bytes in %s)", QTest::currentDataTag(), matching, Rows,
              capture.size(), qPrintable(captureFile));
        QVERIFY2(firstDifference.isEmpty(), qPrintable(firstDifference));
        QCOMPARE(ours.Cursor(), reference.Cursor);
    }
};

QTEST_GUILESS_MAIN(TestVtReference)
#include "test_vt_reference.moc"
