// The window's Send File and Receive File commands driving real transfers
// against lrzsz, a peer written elsewhere, on the other end of the
// pseudo-terminal the window's port opens.
#include "serial/TQxComPort.h"
#include "settings/TSettingsModel.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"
#include "tests/support/LrzszOnPty.h"
#include "transfer/TReceiveFileDlg.h"
#include "transfer/TSendFileDlg.h"
#include "transfer/TTransferProgressDlg.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void ChooseProtocol(QComboBox* box, const QString& name) {
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).startsWith(name) &&
            (box->itemText(i).size() == name.size() || box->itemText(i)[name.size()] == u' '))
            box->setCurrentIndex(i);
}

} // namespace

class TestFileTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void commandsAreInThePopupUnderTheirNames();
    void windowTransfersFileWithLrzsz_data();
    void windowTransfersFileWithLrzsz();
    void existingFileIsReplacedOnlyWhenAllowed_data();
    void existingFileIsReplacedOnlyWhenAllowed();
    void transferEndsEarlyAndSaysWhy_data();
    void transferEndsEarlyAndSaysWhy();
};

void TestFileTransfer::initTestCase() {
    InitAppResources();
    // The relay writes to a peer that may have ended.
    std::signal(SIGPIPE, SIG_IGN);
    for (const char* program : {"rx", "rb", "rz", "sx", "sb", "sz"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP("lrzsz is not installed (scripts/install-deps.sh installs it)");
}

// Screen readers find the two commands in the pane's popup by these names,
// and each has a key of its own.
void TestFileTransfer::commandsAreInThePopupUnderTheirNames() {
    AppWindowFixture f;
    QVERIFY(f.Show());
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(f.Window->ConsoleMenu);
    QVERIFY(menu);
    QStringList names;
    for (int i = 0; i < menu->childCount(); ++i)
        names << menu->child(i)->text(QAccessible::Name);
    QVERIFY2(names.contains(QStringLiteral("Send File...")), qPrintable(names.join(u'|')));
    QVERIFY(names.contains(QStringLiteral("Receive File...")));
    QVERIFY(!f.Window->ConsoleMenuSendFile->shortcut().isEmpty());
    QVERIFY(!f.Window->ConsoleMenuReceiveFile->shortcut().isEmpty());
}

void TestFileTransfer::windowTransfersFileWithLrzsz_data() {
    QTest::addColumn<bool>("sending");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("size");
    QTest::newRow("send XMODEM") << true << "XMODEM"
                                 << "rx" << 1000;
    QTest::newRow("send XMODEM-1K") << true << "XMODEM-1K"
                                    << "rx" << 3000;
    QTest::newRow("send YMODEM") << true << "YMODEM"
                                 << "rb" << 70000;
    QTest::newRow("send ZMODEM") << true << "ZMODEM"
                                 << "rz" << 70000;
    QTest::newRow("send Raw") << true << "Raw"
                              << "" << 5000;
    QTest::newRow("receive XMODEM") << false << "XMODEM"
                                    << "sx" << 1000;
    QTest::newRow("receive YMODEM") << false << "YMODEM"
                                    << "sb" << 70000;
    QTest::newRow("receive ZMODEM") << false << "ZMODEM"
                                    << "sz" << 70000;
}

void TestFileTransfer::windowTransfersFileWithLrzsz() {
    QFETCH(bool, sending);
    QFETCH(QString, protocol);
    QFETCH(QString, peer);
    QFETCH(int, size);
    AppWindowFixture f;
    QVERIFY(f.Show());
    const QString log = f.Dir.Path() + QStringLiteral("session.log");
    f.Window->Console()->SetLogFile(log);
    QTemporaryDir ours, theirs;
    const QByteArray content = RandomBytes(size);
    const QString source = (sending ? ours : theirs).filePath(QStringLiteral("data.bin"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == size);
    file.close();
    QStringList args;
    if (peer == u"rx")
        args << QStringLiteral("-c") << QStringLiteral("data.bin");
    else if (!sending)
        args << source;
    LrzszOnPty target(f.Pty.MasterFd(), theirs.path(), peer, args);

    QTimer driver;
    driver.callOnTimeout([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* send = qobject_cast<TSendFileDlg*>(modal)) {
            ChooseProtocol(send->ProtocolBox, protocol);
            send->FileEdit->setText(source);
            send->SendBtn->click();
        } else if (auto* receive = qobject_cast<TReceiveFileDlg*>(modal)) {
            ChooseProtocol(receive->ProtocolBox, protocol);
            receive->FolderEdit->setText(ours.path());
            receive->NameEdit->setText(QStringLiteral("data.bin"));
            receive->ReceiveBtn->click();
        }
    });
    driver.start(20);
    if (sending)
        f.Window->SendFileClick();
    else
        f.Window->ReceiveFileClick();
    driver.stop();
    QVERIFY2(f.Fake.WarningTexts().isEmpty(), qPrintable(f.Fake.WarningTexts().join(u'\n')));
    QCOMPARE(SerialPort().LineOwner(), TLineUser::Keys);

    // XMODEM carries no size: the file arrives padded to whole blocks.
    QByteArray arrived;
    if (peer.isEmpty()) {
        QVERIFY(QTest::qWaitFor([&] { return target.Received().size() >= size; }));
        arrived = target.Received();
    } else {
        QCOMPARE(target.Finish(), 0);
        arrived = ReadFile((sending ? theirs : ours).filePath(QStringLiteral("data.bin")));
    }
    QCOMPARE(arrived.left(size).toHex(), content.toHex());
    if (!protocol.startsWith(u"XMODEM"))
        QCOMPARE(arrived.size(), size);
    QVERIFY(QDir(ours.path()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());
    const TSettingsModel::TTransferChoices kept = TSettingsModel().TransferChoices();
    QCOMPARE(sending ? kept.SendProtocol : kept.ReceiveProtocol, protocol);

    f.Window->Console()->SetRecording(false);
    const QByteArray recording = ReadFile(log);
    const qsizetype bytes = sending ? size : arrived.size();
    const QByteArray marker =
        "--- Transfer: " + protocol.toUtf8() + " data.bin " + QByteArray::number(bytes) + " done";
    QVERIFY2(recording.contains(marker), recording.right(400).constData());
}

void TestFileTransfer::existingFileIsReplacedOnlyWhenAllowed_data() {
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<bool>("replace");
    for (const char* protocol : {"XMODEM", "YMODEM"})
        for (const bool replace : {false, true})
            QTest::addRow("%s %s", protocol, replace ? "replaced" : "kept")
                << QString::fromLatin1(protocol) << replace;
}

// The receiver asks the window (from the transfer's thread) before it
// replaces a file; No keeps the file as it was and ends the transfer.
void TestFileTransfer::existingFileIsReplacedOnlyWhenAllowed() {
    QFETCH(QString, protocol);
    QFETCH(bool, replace);
    AppWindowFixture f;
    QVERIFY(f.Show());
    f.Fake.QuestionAnswers = {replace};
    QTemporaryDir ours, theirs;
    const QByteArray content = RandomBytes(1024);
    for (const auto& [dir, bytes] :
         {std::pair{&theirs, content}, std::pair{&ours, QByteArray("old")}}) {
        QFile file(dir->filePath(QStringLiteral("data.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    LrzszOnPty target(f.Pty.MasterFd(), theirs.path(), protocol == u"XMODEM" ? "sx" : "sb",
                      {theirs.filePath(QStringLiteral("data.bin"))});
    QTimer driver;
    driver.callOnTimeout([&] {
        if (auto* receive = qobject_cast<TReceiveFileDlg*>(QApplication::activeModalWidget())) {
            ChooseProtocol(receive->ProtocolBox, protocol);
            receive->FolderEdit->setText(ours.path());
            receive->NameEdit->setText(QStringLiteral("data.bin"));
            receive->ReceiveBtn->click();
        }
    });
    driver.start(20);
    f.Window->ReceiveFileClick();
    driver.stop();
    QCOMPARE(f.Fake.Prompts.constFirst().Kind, QStringLiteral("question"));
    QCOMPARE(ReadFile(ours.filePath(QStringLiteral("data.bin"))),
             replace ? content : QByteArray("old"));
    QCOMPARE(f.Fake.WarningTexts().size(), replace ? 0 : 1);
    QCOMPARE(SerialPort().LineOwner(), TLineUser::Keys);
}

void TestFileTransfer::transferEndsEarlyAndSaysWhy_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("result");
    QTest::newRow("cancel in the progress dialog") << "cancel"
                                                   << " cancelled: ";
    QTest::newRow("window closes") << "close"
                                   << " cancelled: ";
    QTest::newRow("line lost") << "hang up"
                               << " line lost: ";
}

// A transfer cut short: Cancel or a closing window send the cancel sequence
// and the other side stops; a line that goes away ends it with that reason.
// The line is handed back to the keys and the recording says how it ended.
void TestFileTransfer::transferEndsEarlyAndSaysWhy() {
    QFETCH(QString, how);
    QFETCH(QString, result);
    AppWindowFixture f;
    QVERIFY(f.Show());
    const QString log = f.Dir.Path() + QStringLiteral("session.log");
    f.Window->Console()->SetLogFile(log);
    QTemporaryDir ours, theirs;
    const QString source = ours.filePath(QStringLiteral("big.bin"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(RandomBytes(8 << 20)) > 0);
    file.close();
    auto target = std::make_unique<LrzszOnPty>(f.Pty.MasterFd(), theirs.path(),
                                               QStringLiteral("rb"), QStringList());

    bool acted = false;
    QTimer driver;
    driver.callOnTimeout([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* send = qobject_cast<TSendFileDlg*>(modal)) {
            ChooseProtocol(send->ProtocolBox, QStringLiteral("YMODEM"));
            send->FileEdit->setText(source);
            send->SendBtn->click();
        } else if (auto* progress = qobject_cast<TTransferProgressDlg*>(modal);
                   progress && !acted && progress->Bar->value() > 0) {
            acted = true;
            if (how == u"cancel") {
                progress->CancelBtn->click();
            } else if (how == u"close") {
                f.Window->close();
            } else {
                target.reset();
                f.Pty.CloseSlaveKeeper();
                f.Pty.CloseMaster();
            }
        }
    });
    driver.start(20);
    f.Window->SendFileClick();
    driver.stop();
    QVERIFY(acted);
    if (target)
        QVERIFY(target->Finish() != 0);
    QCOMPARE(SerialPort().LineOwner(), TLineUser::Keys);
    if (how == u"hang up") {
        QCOMPARE(f.Fake.WarningTexts().size(), 1);
        QVERIFY(f.Fake.WarningTexts().constFirst().contains(u"line was lost"));
    } else {
        QVERIFY(f.Fake.WarningTexts().isEmpty());
    }
    if (how == u"cancel")
        QVERIFY(SerialPort().Send("after", TLineUser::Keys));
    f.Window->Console()->SetRecording(false);
    const QByteArray recording = ReadFile(log);
    QVERIFY2(recording.contains("--- Transfer: YMODEM big.bin ") &&
                 recording.contains(result.toUtf8()),
             recording.right(400).constData());
}

QTEST_MAIN(TestFileTransfer)
#include "test_file_transfer.moc"
