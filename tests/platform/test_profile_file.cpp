// Whole-section reads and writes of the profile file, and values that would
// break its line structure.
#include "platform/ProfileFile.h"
#include "tests/support/TempAppDir.h"

#include <QFile>
#include <QtTest>

#include <sys/stat.h>

class TestProfileFile : public QObject {
    Q_OBJECT

private slots:
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
        profile.WriteSection("M", {{"k0", "v0"}, {"k1", " v1"}});
        QCOMPARE(dir.ReadFile("Console.ini"), QByteArray("top=1\r\n[A]\r\nx=1\r\n[M]\r\nk0=v0\r\n"
                                                         "k1=\" v1\"\r\n[B]\r\ny=2\r\n"));
        profile.WriteSection("N", {{"z", "1"}});
        QVERIFY(dir.ReadFile("Console.ini").endsWith("[B]\r\ny=2\r\n[N]\r\nz=1\r\n"));
    }

    void erasingRemovesEverySectionOfThatName() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[M]\nMacro0=a\n[B]\ny=2\n[M]\nMacro0=x\nMacro1=stale\n");
        TProfileFile profile(dir.SettingsFile());
        profile.EraseSection("m");
        QCOMPARE(dir.ReadFile("Console.ini"), QByteArray("[B]\r\ny=2\r\n"));
        profile.WriteString("M", "Macro0", "new");
        QCOMPARE(profile.ReadString("M", "Macro1", "gone"), QByteArray("gone"));
    }

    void writingNoSectionToNoFileCreatesNone() {
        TempAppDir dir;
        TProfileFile(dir.SettingsFile()).WriteSection("M", {});
        QVERIFY(!QFile::exists(dir.SettingsFile()));
    }

    void lineBreaksInValuesCannotAddLines() {
        TempAppDir dir;
        TProfileFile profile(dir.SettingsFile());
        profile.WriteString("S", "K", "a\n[Evil]\nk=v");
        profile.WriteSection("T", {{"K", "b\nc=d"}});
        QCOMPARE(profile.ReadString("Evil", "k", "none"), QByteArray("none"));
        QCOMPARE(profile.ReadString("S", "K", ""), QByteArray("a [Evil] k=v"));
        QCOMPARE(profile.ReadString("T", "c", "none"), QByteArray("none"));
        QCOMPARE(dir.ReadFile("Console.ini").count('\n'), 4);
    }

    void newKeysGoBeforeTrailingBlankLines() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[A]\nx=1\n\n\n[B]\n");
        TProfileFile profile(dir.SettingsFile());
        profile.WriteString("A", "y", "2");
        profile.WriteString("B", "z", "3");
        QCOMPARE(dir.ReadFile("Console.ini"),
                 QByteArray("[A]\r\nx=1\r\ny=2\r\n\r\n\r\n[B]\r\nz=3\r\n"));
    }

    void readOnlyFileRefusesSectionWrites() {
        TempAppDir dir;
        const QByteArray content = "[M]\nMacro0=a\n";
        dir.WriteFile("Console.ini", content);
        ::chmod(QFile::encodeName(dir.SettingsFile()).constData(), 0444);
        TProfileFile profile(dir.SettingsFile());
        QVERIFY_THROWS_EXCEPTION(EProfileWriteError, profile.WriteSection("M", {{"Macro0", "b"}}));
        QVERIFY_THROWS_EXCEPTION(EProfileWriteError, profile.EraseSection("Absent"));
        QCOMPARE(dir.ReadFile("Console.ini"), content);
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "test_profile_file.moc"
