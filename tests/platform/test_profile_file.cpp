// The profile (INI) file: key and whole-section reads and writes, integers,
// values that would break its line structure, odd files and links.
#include "platform/TProfileFile.h"
#include "tests/support/OrdinaryUser.h"
#include "tests/support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a write could change about Path: its kind, mode, size, content or
// link target.
QString Describe(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return QStringLiteral("missing");
    QString text = QStringLiteral("mode %1 size %2").arg(info.st_mode, 0, 8).arg(info.st_size);
    if (S_ISLNK(info.st_mode))
        text += QStringLiteral(" link to ") + QFileInfo(path).symLinkTarget();
    else if (S_ISREG(info.st_mode) && info.st_size < 4096) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text += QStringLiteral(" content ") + QString::fromLatin1(file.readAll().toHex());
    }
    return text;
}

} // namespace

class TestProfileFile : public QObject {
    Q_OBJECT

private slots:
    void readsIgnoringCaseBlanksAndQuotes() {
        TempAppDir dir;
        dir.WriteFile("Console.ini",
                      "junk line\r\n[com-DEVICE]\r\n  PORT =  COM3 \r\n"
                      "Name=\"  quoted  \"\r\nport=COM4\r\n[Com-Device]\r\nBaud=1\r\n");
        TProfileFile profile(dir.SettingsFile());
        QCOMPARE(profile.ReadString("COM-Device", "Port", "x"), QByteArray("COM3"));
        QCOMPARE(profile.ReadString("COM-Device", "Name", "x"), QByteArray("  quoted  "));
        // Only the first matching section is searched.
        QCOMPARE(profile.ReadString("COM-Device", "Baud", "dflt"), QByteArray("dflt"));
        QCOMPARE(profile.ReadString("Other", "Port", "dflt"), QByteArray("dflt"));
    }

    void readsNothingFromMissingFileAndCreatesNone() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        QCOMPARE(profile.ReadString("A", "B", "dflt"), QByteArray("dflt"));
        QCOMPARE(profile.ReadInteger("A", "B", 7), 7);
        QVERIFY(profile.EraseSection("A"));
        QVERIFY(!QFile::exists(dir.SettingsFile()));
    }

    void integersInEveryForm_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << QByteArray("42") << 42;
        QTest::newRow("negative") << QByteArray("-3") << -3;
        QTest::newRow("hex 0x") << QByteArray("0x1F") << 31;
        QTest::newRow("hex 0X") << QByteArray("0X10") << 16;
        QTest::newRow("hex dollar") << QByteArray("$ff") << 255;
        QTest::newRow("word") << QByteArray("yes") << -99;
        QTest::newRow("trailing junk") << QByteArray("12ab") << -99;
        QTest::newRow("empty") << QByteArray("") << -99;
        QTest::newRow("bare prefix") << QByteArray("0x") << -99;
    }
    void integersInEveryForm() {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[S]\r\nK=" + text + "\r\n");
        QCOMPARE(TProfileFile(dir.SettingsFile()).ReadInteger("S", "K", -99), expected);
    }

    void writesInPlaceAppendsAndErases() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[A]\nx=1\n\n[B]\ny=2\n");
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(profile.WriteString("a", "X", "10"));
        QVERIFY(profile.WriteString("A", "z", "3"));
        QVERIFY(profile.WriteString("C", "w", " padded "));
        QCOMPARE(dir.ReadFile("Console.ini"),
                 QByteArray("[A]\r\nX=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=\" padded \"\r\n"));
        QCOMPARE(profile.ReadString("C", "w", ""), QByteArray(" padded "));
        QVERIFY(profile.EraseSection("b"));
        QCOMPARE(profile.ReadString("B", "y", "gone"), QByteArray("gone"));
        QCOMPARE(profile.ReadString("C", "w", ""), QByteArray(" padded "));
    }

    void valuesReadBackUnchanged() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        const QList<QByteArray> values = {"#13#10", "\"q\"", "a=b", "\xE4\xF6", " ", "x\"", ""};
        for (const QByteArray& value : values) {
            QVERIFY(profile.WriteString("S", "K", value));
            QCOMPARE(profile.ReadString("S", "K", "missing"), value);
        }
    }

    void longValuesAreCut() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(profile.WriteString("S", "K", QByteArray(5000, 'v')));
        QCOMPARE(profile.ReadString("S", "K", "").size(), TProfileFile::MaxValueLength);
    }

    void readOnlyFileIsNeverReplaced() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[S]\r\nK=old\r\n");
        ::chmod(dir.SettingsFile().toLocal8Bit().constData(), 0444);
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(!profile.WriteString("S", "K", "new"));
        QCOMPARE(profile.WriteError().Text(), "Unable to write to " + dir.SettingsFile());
        QCOMPARE(profile.WriteError().Reason, QStringLiteral("The file is read-only"));
        QVERIFY(!profile.EraseSection("S"));
        QCOMPARE(profile.ReadString("S", "K", ""), QByteArray("old"));
    }

    void readsTheFirstSectionWhole() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Other]\nk=0\n[MACROS]\n Macro1 = \" b \" \nno key here\n"
                                     "Macro0=" +
                                         QByteArray(3000, 'a') +
                                         "\n=empty key\n"
                                         "[Macros]\nMacro2=late\n");
        const QList<TProfileEntry> entries = TProfileFile(dir.SettingsFile()).ReadSection("macros");
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(0).Key, QByteArray("Macro1"));
        QCOMPARE(entries.at(0).Value, QByteArray(" b "));
        QCOMPARE(entries.at(1).Value.size(), TProfileFile::MaxValueLength);
        QCOMPARE(entries.at(2).Key, QByteArray());
        QVERIFY(TProfileFile(dir.SettingsFile()).ReadSection("Missing").isEmpty());
    }

    void writesASectionInPlaceAndDropsItsDuplicates() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "top=1\n[A]\nx=1\n[M]\nold0=a\n[B]\ny=2\n[m]\nold1=b\n");
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(profile.WriteSection("M", {{"k0", "v0"}, {"k1", " v1"}}));
        QCOMPARE(dir.ReadFile("Console.ini"), QByteArray("top=1\r\n[A]\r\nx=1\r\n[M]\r\nk0=v0\r\n"
                                                         "k1=\" v1\"\r\n[B]\r\ny=2\r\n"));
        QVERIFY(profile.WriteSection("N", {{"z", "1"}}));
        QVERIFY(dir.ReadFile("Console.ini").endsWith("[B]\r\ny=2\r\n[N]\r\nz=1\r\n"));
    }

    void erasingRemovesEverySectionOfThatName() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[M]\nMacro0=a\n[B]\ny=2\n[M]\nMacro0=x\nMacro1=stale\n");
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(profile.EraseSection("m"));
        QCOMPARE(dir.ReadFile("Console.ini"), QByteArray("[B]\r\ny=2\r\n"));
        QVERIFY(profile.WriteString("M", "Macro0", "new"));
        QCOMPARE(profile.ReadString("M", "Macro1", "gone"), QByteArray("gone"));
    }

    void writingNoSectionToNoFileCreatesNone() {
        TempAppDir dir;
        QVERIFY(TProfileFile(dir.SettingsFile()).WriteSection("M", {}));
        QVERIFY(!QFile::exists(dir.SettingsFile()));
    }

    void lineBreaksInValuesCannotAddLines() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(profile.WriteString("S", "K", "a\n[Evil]\nk=v"));
        QVERIFY(profile.WriteSection("T", {{"K", "b\nc=d"}}));
        QCOMPARE(profile.ReadString("Evil", "k", "none"), QByteArray("none"));
        QCOMPARE(profile.ReadString("S", "K", ""), QByteArray("a [Evil] k=v"));
        QCOMPARE(profile.ReadString("T", "c", "none"), QByteArray("none"));
        QCOMPARE(dir.ReadFile("Console.ini").count('\n'), 4);
    }

    void newKeysGoBeforeTrailingBlankLines() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[A]\nx=1\n\n\n[B]\n");
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(profile.WriteString("A", "y", "2"));
        QVERIFY(profile.WriteString("B", "z", "3"));
        QCOMPARE(dir.ReadFile("Console.ini"),
                 QByteArray("[A]\r\nx=1\r\ny=2\r\n\r\n\r\n[B]\r\nz=3\r\n"));
    }

    // A settings file that exists but is no readable regular file reads as
    // empty without blocking or filling the memory, says why, and is not
    // written while it cannot be read: it stays exactly as it was.
    void oddFilesReadAsEmptyAndAreNeverWritten_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("mode 0200") << "0200"
                                   << "Permission denied";
        QTest::newRow("FIFO") << "fifo"
                              << "Not a regular file";
        QTest::newRow("link to /dev/zero") << "zero"
                                           << "Not a regular file";
        QTest::newRow("directory") << "directory"
                                   << "Is a directory";
        QTest::newRow("larger than 64 MB") << "large"
                                           << "File too large";
    }
    void oddFilesReadAsEmptyAndAreNeverWritten() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        TempAppDir dir;
        const QString path = dir.SettingsFile();
        const QByteArray name = QFile::encodeName(path);
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == "zero") {
            QCOMPARE(::symlink("/dev/zero", name.constData()), 0);
        } else if (kind == "directory") {
            QVERIFY(QDir().mkdir(path));
        } else {
            dir.WriteFile("Console.ini", "[Window]\r\nWidth=640\r\n");
            if (kind == "large")
                QCOMPARE(::truncate(name.constData(), TProfileFile::MaxFileSize + 1), 0);
            else
                QCOMPARE(::chmod(name.constData(), 0200), 0);
        }
        OrdinaryUser::Own(path);
        QCOMPARE(::chmod(QFile::encodeName(dir.Path()).constData(), 0777), 0);
        const QString before = Describe(path);

        std::optional<OrdinaryUser> user;
        if (kind == "0200")
            user.emplace();
        const TProfileFile file(path);
        QCOMPARE(file.ReadInteger("Window", "Width", 550), 550);
        QCOMPARE(file.ReadError(), reason);
        TProfileFile writer(path);
        QVERIFY(!writer.WriteInteger("Window", "Width", 700));
        QVERIFY(!writer.WriteError().KnownUnreadable);
        QVERIFY(writer.WriteError().Reason.contains(reason));
        user.reset();
        QCOMPARE(Describe(path), before);
        QCOMPARE(
            QDir(dir.Path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{"Console.ini"});
    }

    // A file that does not exist is no read error: the start-up check
    // leaves it writable, and the first write creates it.
    void aMissingFileIsCreatedAfterTheStartUpCheck() {
        TempAppDir dir;
        TProfileFile file(dir.Path() + "absent.ini");
        QCOMPARE(file.ReadErrorToReport(), QString());
        QVERIFY(file.WriteInteger("Window", "Width", 700));
        QCOMPARE(dir.ReadFile("absent.ini"), QByteArray("[Window]\r\nWidth=700\r\n"));
    }

    // Through a link the target is read and replaced whole, keeping its
    // permissions, and the link stays a link; a dangling link's target is
    // created.
    void aLinkIsFollowedAndStaysALink() {
        TempAppDir dir;
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath("qx.ini");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Window]\nWidth=640\n");
        file.close();
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
        QVERIFY(QFile::link(target, dir.SettingsFile()));

        TProfileFile profile(dir.SettingsFile());
        QCOMPARE(profile.ReadInteger("Window", "Width", 0), 640);
        QVERIFY(profile.WriteInteger("Window", "Height", 480));
        QCOMPARE(QFileInfo(dir.SettingsFile()).symLinkTarget(), target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[Window]\r\nWidth=640\r\nHeight=480\r\n"));
        file.close();
        QCOMPARE(Describe(target).section(' ', 0, 1), QStringLiteral("mode 100640"));
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"qx.ini"});

        QVERIFY(QFile::remove(target));
        QVERIFY(profile.WriteInteger("Window", "Left", 5));
        QCOMPARE(QFileInfo(dir.SettingsFile()).symLinkTarget(), target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[Window]\r\nLeft=5\r\n"));
    }

    void readOnlyFileRefusesSectionWrites() {
        TempAppDir dir;
        const QByteArray content = "[M]\nMacro0=a\n";
        dir.WriteFile("Console.ini", content);
        ::chmod(QFile::encodeName(dir.SettingsFile()).constData(), 0444);
        TProfileFile profile(dir.SettingsFile());
        QVERIFY(!profile.WriteSection("M", {{"Macro0", "b"}}));
        QVERIFY(!profile.EraseSection("Absent"));
        QCOMPARE(dir.ReadFile("Console.ini"), content);
    }

    // Staged writes committed at once give the bytes that the same writes
    // made one by one give, in one replacement of the file.
    void stagedWritesEqualSingleWrites_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("sections in place")
            << QByteArray("top=1\n[a]\nx=1\nY=2\n\n[M]\nMacro0=old\nMacro7=stale\n[B]\nk=v\n");
        QTest::newRow("duplicates and blanks") << QByteArray(
            " [ A ] \r\nx = 1\r\n[m]\r\nm=1\r\n[a]\r\nx=2\r\ny=3\r\n[M]\r\nq=1\r\n\r\n");
        QTest::newRow("odd lines") << QByteArray("no equals\n[\n]\n[A\nx=0\n[A]x=9\n");
    }
    void stagedWritesEqualSingleWrites() {
        QFETCH(QByteArray, content);
        const auto stage = [](auto& target) {
            target.WriteString("A", "x", "new x");
            target.WriteString("a", "z", " quoted ");
            target.WriteSection("M", {{"Macro0", "m0"}, {"Macro1", "m1"}});
            target.WriteString("New", "k", "1");
            target.EraseSection("B");
            target.WriteString("A", "X", "last wins");
            target.WriteString("New", "j", "2");
            target.WriteSection("Gone", {});
        };
        // The file's writes, each of which must succeed.
        struct TCheckedFile {
            TProfileFile File;
            void WriteString(const QByteArray& section, const QByteArray& key,
                             const QByteArray& value) {
                QVERIFY(File.WriteString(section, key, value));
            }
            void WriteSection(const QByteArray& section, const QList<TProfileEntry>& entries) {
                QVERIFY(File.WriteSection(section, entries));
            }
            void EraseSection(const QByteArray& section) { QVERIFY(File.EraseSection(section)); }
        };
        TempAppDir single;
        TempAppDir staged;
        if (!content.isNull()) {
            single.WriteFile("Console.ini", content);
            staged.WriteFile("Console.ini", content);
        }
        TCheckedFile singleFile{TProfileFile(single.SettingsFile())};
        stage(singleFile);
        TProfileChanges changes;
        stage(changes);
        const quint64 before = TProfileFile::Replacements();
        QVERIFY(TProfileFile(staged.SettingsFile()).Commit(changes));
        QCOMPARE(TProfileFile::Replacements() - before, quint64(1));
        QCOMPARE(staged.ReadFile("Console.ini"), single.ReadFile("Console.ini"));
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "test_profile_file.moc"
