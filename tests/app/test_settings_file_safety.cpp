// The settings file as the running program treats it: on a full disk every
// path that writes it leaves it byte for byte as it was and says so once; a
// file that cannot be read is named once at the start and never written.
#include "download/TQxLoaderDlg.h"
#include "platform/FileContent.h"
#include "settings/TQxPreferences.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"
#include "tests/support/SmallDisk.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cerrno>

#include <sys/stat.h>

namespace {

enum TWritePath { wpStart, wpSettingsOk, wpLastFile, wpPlacement };

QStringList EntriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

QStringList WarningsAbout(const FakeInteraction& fake, const QString& start) {
    return fake.WarningTexts().filter(
        QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(start)));
}

} // namespace

class TestSettingsFileSafety : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    void aFullDiskLeavesTheFileAsItWas_data() {
        QTest::addColumn<int>("path");
        QTest::newRow("start-up") << int(wpStart);
        QTest::newRow("settings dialog OK") << int(wpSettingsOk);
        QTest::newRow("download LastFile") << int(wpLastFile);
        QTest::newRow("exit placement") << int(wpPlacement);
    }
    void aFullDiskLeavesTheFileAsItWas() {
        QFETCH(int, path);
        SmallDisk disk;
        QSKIP_WITHOUT_DISK(disk);
        QTemporaryDir elsewhere;
        const QString download = elsewhere.filePath("firmware.s19");
        QVERIFY(QFile(download).open(QIODevice::WriteOnly));
        AppWindowFixture f(disk.Path());
        f.WriteSetting("Transfer", "LastFile", "<qxroot>demo.s19");
        if (path != wpStart)
            QVERIFY(f.Show());
        const QByteArray before = f.Dir.ReadFile("Console.ini");
        const QStringList entries = EntriesOf(f.Dir.Path());
        disk.Fill();

        switch (path) {
        case wpStart:
            QVERIFY(f.Show());
            break;
        case wpSettingsOk: {
            TQxPreferences dialog(f.Window.get());
            dialog.show();
            dialog.EchoBox->click();
            dialog.OKBtn->click();
            QVERIFY(dialog.isVisible());
            break;
        }
        case wpLastFile: {
            TQxLoaderDlg dialog(f.Window.get());
            dialog.HexFileEdit->setText(download);
            dialog.LoadBtn->click();
            QVERIFY(!dialog.Busy());
            break;
        }
        case wpPlacement:
            f.Window->move(150, 160);
            f.Window->close();
            break;
        }

        // The settings dialog keeps its own message and names the file in
        // the details; every other path shows the file's message itself.
        const QString unableToWrite = "Unable to write to " + f.Dir.SettingsFile();
        if (path == wpSettingsOk) {
            QCOMPARE(f.Fake.WarningTexts(),
                     QStringList{"Incorrect settings!\r\nPlease check all parameters."});
            QCOMPARE(f.Fake.Prompts[0].Detail, unableToWrite + "\n" + SystemErrorText(ENOSPC));
        } else {
            QCOMPARE(f.Fake.WarningTexts(), QStringList{unableToWrite});
            QCOMPARE(f.Fake.Prompts[0].Detail, SystemErrorText(ENOSPC));
        }
        QCOMPARE(f.Dir.ReadFile("Console.ini"), before);
        QCOMPARE(EntriesOf(f.Dir.Path()), entries);
        if (path == wpPlacement) {
            f.Window.reset();
            QCOMPARE(f.Fake.WarningTexts().size(), 1);
        }
    }

    // A settings file that cannot be read (here a FIFO, which used to hang
    // the start): the program starts with the default settings, names the
    // file and the reason once, and writes nothing to it, not even at the
    // exit; a download does not wait for its LastFile.
    void anUnreadableFileIsNamedOnceAndLeftAlone() {
        AppWindowFixture f;
        const QString file = f.Dir.SettingsFile();
        QVERIFY(QFile::remove(file));
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);

        QVERIFY(f.Show());
        const QString unreadable = "Can't read the settings file " + file;
        QCOMPARE(WarningsAbout(f.Fake, unreadable).size(), 1);
        QCOMPARE(f.Fake.Prompts[0].Detail, QStringLiteral("Not a regular file"));
        QVERIFY(!f.Window->Console()->LocalEcho());
        {
            TQxLoaderDlg dialog(f.Window.get());
            dialog.SetFilename(file);
            QVERIFY(dialog.SaveLastFile());
        }
        f.Window->close();
        f.Window.reset();
        QCOMPARE(WarningsAbout(f.Fake, "Unable to write").size(), 0);
        QCOMPARE(WarningsAbout(f.Fake, unreadable).size(), 1);
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));
    }

    // A directory in the file's place fails the settings dialog's OK. Once
    // it is gone, OK and the placement at the exit write the file again;
    // unless it stood there at the start, when the program ran on defaults
    // it never read in the file: then nothing is written to it in the run.
    void aFailedSaveIsRetriedUnlessTheFileWasUnreadableAtStart_data() {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("directory during the save") << false;
        QTest::newRow("directory at the start") << true;
    }
    void aFailedSaveIsRetriedUnlessTheFileWasUnreadableAtStart() {
        QFETCH(bool, atStart);
        AppWindowFixture f;
        const QString file = f.Dir.SettingsFile();
        const QByteArray content = "[Terminal]\r\nEcho=0\r\n";
        const auto putDirectory = [&] { return QFile::remove(file) && QDir().mkdir(file); };
        const auto putFile = [&] {
            f.Dir.WriteFile("Console.ini", content);
            return QFileInfo(file).isFile();
        };
        if (atStart)
            QVERIFY(putDirectory());
        QVERIFY(f.Show());
        if (atStart)
            QVERIFY(QDir().rmdir(file) && putFile());
        {
            TQxPreferences dialog(f.Window.get());
            dialog.show();
            if (!atStart)
                QVERIFY(putDirectory());
            dialog.EchoBox->click();
            dialog.OKBtn->click();
            QVERIFY(dialog.isVisible());
            if (!atStart)
                QVERIFY(QDir().rmdir(file) && putFile());
            dialog.OKBtn->click();
            QCOMPARE(dialog.isVisible(), atStart);
        }
        f.Window->move(150, 160);
        f.Window->close();
        f.Window.reset();

        const QByteArray written = f.Dir.ReadFile("Console.ini");
        if (atStart)
            QCOMPARE(written, content);
        else
            QVERIFY(written.contains("Echo=1\r\n") && written.contains("[Window]\r\n"));
        QCOMPARE(WarningsAbout(f.Fake, "Can't read the settings file").size(), int(atStart));
        QCOMPARE(WarningsAbout(f.Fake, "Incorrect settings!").size(), atStart ? 2 : 1);
        QCOMPARE(WarningsAbout(f.Fake, "Unable to write").size(), 0);
    }
};

QTEST_MAIN(TestSettingsFileSafety)
#include "test_settings_file_safety.moc"
