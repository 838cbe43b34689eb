// The window's Send File and Receive File commands driving real transfers
// against lrzsz, a peer written elsewhere, on the other end of the
// pseudo-terminal the window's port opens.
#include "app/QuitSignals.h"
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
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <functional>
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
        if (box->itemText(i).section(u' ', 0, 0) == name)
            box->setCurrentIndex(i);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// Runs Send File (Path: the file) or Receive File (Path: the folder, the
// XMODEM name "data.bin") from the window, filling in its dialog;
// OnProgress sees the progress dialog while the transfer runs.
void RunCommand(AppWindowFixture& f, bool sending, const QString& protocol, const QString& path,
                const std::function<void(TTransferProgressDlg&)>& onProgress = {}) {
    QTimer driver;
    driver.callOnTimeout([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* send = qobject_cast<TSendFileDlg*>(modal)) {
            ChooseProtocol(send->ProtocolBox, protocol);
            send->FileEdit->setText(path);
            send->SendBtn->click();
        } else if (auto* receive = qobject_cast<TReceiveFileDlg*>(modal)) {
            ChooseProtocol(receive->ProtocolBox, protocol);
            receive->FolderEdit->setText(path);
            receive->NameEdit->setText(QStringLiteral("data.bin"));
            receive->ReceiveBtn->click();
        } else if (auto* progress = qobject_cast<TTransferProgressDlg*>(modal);
                   progress && onProgress) {
            onProgress(*progress);
        }
    });
    driver.start(20);
    if (sending)
        f.Window->SendFileClick();
    else
        f.Window->ReceiveFileClick();
}

} // namespace

class TestFileTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void commandsAreInThePopupUnderTheirNames();
    void windowTransfersFileWithLrzsz_data();
    void windowTransfersFileWithLrzsz();
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

// Screen readers find the two commands in the pane's popup by these names.
void TestFileTransfer::commandsAreInThePopupUnderTheirNames() {
    AppWindowFixture f;
    QVERIFY(f.Show());
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(f.Window->ConsoleMenu);
    QVERIFY(menu);
    QStringList names;
    for (int i = 0; i < menu->childCount(); ++i)
        names << menu->child(i)->text(QAccessible::Name);
    QVERIFY2(names.contains(QStringLiteral("Send File...")) &&
                 names.contains(QStringLiteral("Receive File...")),
             qPrintable(names.join(u'|')));
}

void TestFileTransfer::windowTransfersFileWithLrzsz_data() {
    QTest::addColumn<bool>("sending");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("existing"); // the file is there: the user says replace it
    QTest::newRow("send XMODEM") << true << "XMODEM"
                                 << "rx" << 1000 << false;
    QTest::newRow("send YMODEM") << true << "YMODEM"
                                 << "rb" << 70000 << false;
    QTest::newRow("send ZMODEM") << true << "ZMODEM"
                                 << "rz" << 70000 << false;
    QTest::newRow("send Raw") << true << "Raw"
                              << "" << 5000 << false;
    QTest::newRow("receive XMODEM") << false << "XMODEM"
                                    << "sx" << 1000 << false;
    QTest::newRow("receive YMODEM") << false << "YMODEM"
                                    << "sb" << 70000 << false;
    QTest::newRow("receive ZMODEM") << false << "ZMODEM"
                                    << "sz" << 70000 << false;
    QTest::newRow("receive YMODEM over a file") << false << "YMODEM"
                                                << "sb" << 1000 << true;
}

void TestFileTransfer::windowTransfersFileWithLrzsz() {
    QFETCH(bool, sending);
    QFETCH(QString, protocol);
    QFETCH(QString, peer);
    QFETCH(int, size);
    QFETCH(bool, existing);
    AppWindowFixture f;
    QVERIFY(f.Show());
    f.Fake.QuestionAnswers = {true};
    const QString log = f.Dir.Path() + QStringLiteral("session.log");
    f.Window->Console()->SetLogFile(log);
    QTemporaryDir ours, theirs;
    const QByteArray content = RandomBytes(size);
    const QString source = (sending ? ours : theirs).filePath(QStringLiteral("data.bin"));
    WriteFile(source, content);
    if (existing)
        WriteFile(ours.filePath(QStringLiteral("data.bin")), "old");
    QStringList args;
    if (peer == u"rx")
        args << QStringLiteral("-c") << QStringLiteral("data.bin");
    else if (!sending)
        args << source;
    LrzszOnPty target(f.Pty.MasterFd(), theirs.path(), peer, args);
    RunCommand(f, sending, protocol, sending ? source : ours.path());
    // The receiver's question went through the window (from its thread).
    QCOMPARE(f.Fake.Prompts.size(), existing ? 1 : 0);
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

void TestFileTransfer::transferEndsEarlyAndSaysWhy_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("result");
    QTest::newRow("cancel in the progress dialog") << "cancel"
                                                   << " cancelled: ";
    QTest::newRow("window closes") << "close"
                                   << " cancelled: ";
    QTest::newRow("line lost") << "hang up"
                               << " line lost: ";
    // Last: the first quit signal ends every event loop of the process.
    QTest::newRow("quit signal") << "quit"
                                 << " cancelled: ";
}

// A transfer cut short: Cancel, a closing window or a quit signal send the
// cancel sequence and the other side stops; a line that goes away ends it
// with that reason. The line is handed back to the keys and the recording
// says how it ended.
void TestFileTransfer::transferEndsEarlyAndSaysWhy() {
    QFETCH(QString, how);
    QFETCH(QString, result);
    AppWindowFixture f;
    QVERIFY(f.Show());
    const QString log = f.Dir.Path() + QStringLiteral("session.log");
    f.Window->Console()->SetLogFile(log);
    QTemporaryDir ours, theirs;
    const QString source = ours.filePath(QStringLiteral("big.bin"));
    WriteFile(source, RandomBytes(8 << 20));
    auto target = std::make_unique<LrzszOnPty>(f.Pty.MasterFd(), theirs.path(),
                                               QStringLiteral("rb"), QStringList());

    bool acted = false;
    RunCommand(f, true, QStringLiteral("YMODEM"), source, [&](TTransferProgressDlg& progress) {
        if (acted || progress.Bar->value() <= 0)
            return;
        acted = true;
        if (how == u"cancel") {
            progress.CancelBtn->click();
        } else if (how == u"close") {
            f.Window->close();
        } else if (how == u"quit") {
            InstallQuitSignals();
            ::kill(::getpid(), SIGTERM);
        } else {
            target.reset();
            f.Pty.CloseSlaveKeeper();
            f.Pty.CloseMaster();
        }
    });
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
