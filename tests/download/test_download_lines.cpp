// Splitting download files into lines, and reading them from disk.
#include "download/TDownloadLines.h"
#include "tests/support/OrdinaryUser.h"
#include "tests/support/TempAppDir.h"

#include <QtTest>

#include <optional>

#include <sys/stat.h>

namespace {

QList<QByteArray> AllLines(const TDownloadLines& lines) {
    QList<QByteArray> result;
    for (int i = 0; i < lines.Count(); ++i)
        result << lines.Line(i).toByteArray();
    return result;
}

} // namespace

class TestDownloadLines : public QObject {
    Q_OBJECT

private slots:
    void splitsAtEveryKindOfLineEnd_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("expected");
        using L = QList<QByteArray>;
        QTest::newRow("empty") << QByteArray() << L{};
        QTest::newRow("one line without end") << QByteArray("S0") << L{"S0"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << L{"a", "b"};
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << L{"a", "b"};
        QTest::newRow("lone LF") << QByteArray("a\nb\n") << L{"a", "b"};
        QTest::newRow("last line without end") << QByteArray("a\r\nb") << L{"a", "b"};
        QTest::newRow("LF CR gives an empty line")
            << QByteArray("a\n\rb\n\r") << L{"a", "", "b", ""};
        QTest::newRow("empty lines") << QByteArray("\r\n\n\r\r\n") << L{"", "", "", ""};
        QTest::newRow("mixed") << QByteArray("a\rb\nc\r\nd") << L{"a", "b", "c", "d"};
        QTest::newRow("text ends at a NUL at the end") << QByteArray("a\r\nb\0", 5) << L{"a", "b"};
        QTest::newRow("text ends at NUL padding")
            << QByteArray("a\r\nb\r\n\0\0\0", 9) << L{"a", "b"};
        QTest::newRow("bytes unchanged") << QByteArray("\xe4\xff\t \x1b"
                                                       "x\r\n\x7f")
                                         << L{"\xe4\xff\t \x1bx", "\x7f"};
    }
    void splitsAtEveryKindOfLineEnd() {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, expected);
        QCOMPARE(AllLines(TDownloadLines(content)), expected);
    }

    // A NUL with more text after it, or with no text before it, is no
    // padding: the file is no text file and is not cut short there.
    void aNulInsideTheTextIsRefused_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("offset");
        QTest::newRow("NUL amid the text") << QByteArray("a\r\nb\0c\r\nd\r\n", 11) << 4;
        QTest::newRow("NUL first") << QByteArray("\0a\r\n", 4) << 0;
        QTest::newRow("only NULs") << QByteArray(4096, '\0') << 0;
        QTest::newRow("padding, then text") << QByteArray("a\0\0b", 4) << 1;
    }
    void aNulInsideTheTextIsRefused() {
        QFETCH(QByteArray, content);
        QFETCH(int, offset);
        const TDownloadLines lines(content);
        QCOMPARE(
            lines.Error(),
            QStringLiteral("It is not a text file: it holds a NUL byte at offset %1.").arg(offset));
        QCOMPARE(lines.Count(), 0);
    }

    void readsFileBytesUnchanged() {
        TempAppDir dir;
        const QByteArray content("S00600004844521B\r\n\xe4\xf6\xfc\nlast");
        dir.WriteFile("a file.S19", content);
        const TDownloadLines lines = TDownloadLines::FromFile(dir.Path() + "a file.S19");
        QVERIFY(lines.Error().isEmpty());
        QCOMPARE(AllLines(lines), (QList<QByteArray>{"S00600004844521B", "\xe4\xf6\xfc", "last"}));
    }

    void refusesWhatCannotBeRead_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing.s19"
                                 << "No such file or directory";
        QTest::newRow("directory") << "folder"
                                   << "Is a directory";
        QTest::newRow("unreadable") << "locked.s19"
                                    << "Permission denied";
        QTest::newRow("pipe") << "pipe"
                              << "Not a regular file";
        QTest::newRow("1 GB, sparse") << "huge.s19"
                                      << "It is larger than 256 MB, the most a download takes.";
        QTest::newRow("binary") << "image.bin"
                                << "It is not a text file: it holds a NUL byte at offset 3.";
    }
    void refusesWhatCannotBeRead() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        TempAppDir dir;
        QDir(dir.Path()).mkdir("folder");
        dir.WriteFile("locked.s19", "S9030000FC\r\n");
        QFile::setPermissions(dir.Path() + "locked.s19", QFileDevice::Permissions());
        QCOMPARE(::mkfifo(QFile::encodeName(dir.Path() + "pipe").constData(), 0600), 0);
        dir.WriteFile("huge.s19", "S0");
        QCOMPARE(::truncate(QFile::encodeName(dir.Path() + "huge.s19").constData(), 1 << 30), 0);
        dir.WriteFile("image.bin", QByteArray("\x7f"
                                              "EL\0\x02\x01\x01",
                                              7));
        QCOMPARE(::chmod(QFile::encodeName(dir.Path()).constData(), 0777), 0);
        std::optional<OrdinaryUser> user;
        if (name == "locked.s19")
            user.emplace();
        const TDownloadLines lines = TDownloadLines::FromFile(dir.Path() + name);
        const QString message = lines.Error();
        QVERIFY2(message.contains(dir.Path() + name), qPrintable(message));
        QVERIFY2(message.endsWith(reason), qPrintable(message));
        QCOMPARE(lines.Count(), 0);
    }

    void largeFileCostsLittleMoreThanItsSize() {
        const auto record = [](int i) {
            return "S1130000" + QByteArray::number(i, 16).rightJustified(32, '0') + "FC";
        };
        QByteArray content;
        for (int i = 0; i < 100000; ++i)
            content += record(i) + "\r\n";
        TempAppDir dir;
        dir.WriteFile("big.s19", content);
        const TDownloadLines lines = TDownloadLines::FromFile(dir.Path() + "big.s19");
        const qsizetype size = content.size();
        QCOMPARE(lines.Count(), 100000);
        QCOMPARE(lines.Line(0).toByteArray(), record(0));
        QCOMPARE(lines.Line(99999).toByteArray(), record(99999));
        QVERIFY2(lines.MemoryUsed() < size * 3 / 2,
                 qPrintable(QString::number(lines.MemoryUsed())));
    }
};

QTEST_GUILESS_MAIN(TestDownloadLines)
#include "test_download_lines.moc"
