// The Send File and Receive File dialogs: what they let through and what
// they say about the line and the programs ZMODEM needs.
#include "tests/support/FakeInteraction.h"
#include "transfer/TReceiveFileDlg.h"
#include "transfer/TSendFileDlg.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {
void Choose(QComboBox* box, TTransferProtocol protocol) {
    box->setCurrentIndex(box->findData(int(protocol)));
}
} // namespace

class TestTransferDialogs : public QObject {
    Q_OBJECT
private slots:
    void fileListTakesQuotedNames_data();
    void fileListTakesQuotedNames();
    void noteSaysWhatTheLineOrProgramsLack_data();
    void noteSaysWhatTheLineOrProgramsLack();
    void sendRefusesWhatCannotGo_data();
    void sendRefusesWhatCannotGo();
    void receiveRefusesUnusableTargets_data();
    void receiveRefusesUnusableTargets();
};

void TestTransferDialogs::fileListTakesQuotedNames_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("empty") << "  " << QStringList();
    QTest::newRow("one name with spaces") << " /a b/c.bin " << QStringList{"/a b/c.bin"};
    QTest::newRow("two quoted") << R"("/x/a.bin" "/y/b c.bin")"
                                << QStringList{"/x/a.bin", "/y/b c.bin"};
    QTest::newRow("blank and unclosed quotes") << R"("a" "" "b)" << QStringList{"a", "b"};
}

void TestTransferDialogs::fileListTakesQuotedNames() {
    QFETCH(QString, text);
    QFETCH(QStringList, files);
    QCOMPARE(ParseFileList(text), files);
    if (!files.isEmpty())
        QCOMPARE(ParseFileList(JoinFileList(files)), files);
}

void TestTransferDialogs::noteSaysWhatTheLineOrProgramsLack_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<bool>("lrzsz");
    QTest::addColumn<QString>("note");
    QTest::newRow("YMODEM, no flow control")
        << int(TTransferProtocol::Ymodem) << false << true << "";
    QTest::newRow("YMODEM over XON/XOFF")
        << int(TTransferProtocol::Ymodem) << true << true << "needs an 8-bit clean line";
    QTest::newRow("XMODEM over XON/XOFF")
        << int(TTransferProtocol::Xmodem) << true << true << "needs an 8-bit clean line";
    QTest::newRow("ZMODEM over XON/XOFF") << int(TTransferProtocol::Zmodem) << true << true << "";
    QTest::newRow("ZMODEM without lrzsz")
        << int(TTransferProtocol::Zmodem) << false << false << "sudo apt-get install lrzsz";
}

void TestTransferDialogs::noteSaysWhatTheLineOrProgramsLack() {
    QFETCH(int, protocol);
    QFETCH(bool, xonXoff);
    QFETCH(bool, lrzsz);
    QFETCH(QString, note);
    const QByteArray path = qgetenv("PATH");
    QTemporaryDir empty;
    if (!lrzsz)
        qputenv("PATH", empty.path().toLocal8Bit());
    TSendFileDlg send(nullptr, xonXoff);
    TReceiveFileDlg receive(nullptr, xonXoff);
    Choose(send.ProtocolBox, TTransferProtocol(protocol));
    Choose(receive.ProtocolBox, TTransferProtocol(protocol));
    qputenv("PATH", path);
    for (const QLabel* label : {send.NoteLabel, receive.NoteLabel}) {
        QCOMPARE(label->text().isEmpty(), note.isEmpty());
        QVERIFY2(label->text().contains(note), qPrintable(label->text()));
    }
}

void TestTransferDialogs::sendRefusesWhatCannotGo_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("files");
    QTest::addColumn<QString>("problem");
    QTest::newRow("no file") << int(TTransferProtocol::Ymodem) << ""
                             << "Name the file";
    QTest::newRow("XMODEM batch") << int(TTransferProtocol::Xmodem) << R"("<a>" "<b>")"
                                  << "one file at a time";
    QTest::newRow("missing file") << int(TTransferProtocol::Ymodem) << R"("<a>" "<none>")"
                                  << "Unable to read";
    QTest::newRow("a folder") << int(TTransferProtocol::Raw) << "<dir>"
                              << "Unable to read";
    QTest::newRow("YMODEM batch") << int(TTransferProtocol::Ymodem) << R"("<a>" "<b>")"
                                  << "";
}

void TestTransferDialogs::sendRefusesWhatCannotGo() {
    QFETCH(int, protocol);
    QFETCH(QString, files);
    QFETCH(QString, problem);
    FakeInteraction fake;
    QTemporaryDir dir;
    for (const char* name : {"a", "b"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    files.replace(QStringLiteral("<dir>"), dir.path())
        .replace(QStringLiteral("<a>"), dir.filePath(QStringLiteral("a")))
        .replace(QStringLiteral("<b>"), dir.filePath(QStringLiteral("b")))
        .replace(QStringLiteral("<none>"), dir.filePath(QStringLiteral("none")));
    TSendFileDlg dialog(nullptr, false);
    Choose(dialog.ProtocolBox, TTransferProtocol(protocol));
    dialog.FileEdit->setText(files);
    dialog.accept();
    QCOMPARE(dialog.result(), problem.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(fake.WarningTexts().size(), problem.isEmpty() ? 0 : 1);
    if (!problem.isEmpty())
        QVERIFY2(fake.WarningTexts().constFirst().contains(problem),
                 qPrintable(fake.WarningTexts().constFirst()));
}

void TestTransferDialogs::receiveRefusesUnusableTargets_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("YMODEM into the folder") << int(TTransferProtocol::Ymodem) << "<dir>"
                                            << "" << true;
    QTest::newRow("no such folder") << int(TTransferProtocol::Ymodem) << "<dir>/none"
                                    << "" << false;
    QTest::newRow("XMODEM without a name") << int(TTransferProtocol::Xmodem) << "<dir>"
                                           << "" << false;
    QTest::newRow("XMODEM name leaving the folder") << int(TTransferProtocol::Xmodem) << "<dir>"
                                                    << "../x.bin" << false;
    QTest::newRow("XMODEM with a name") << int(TTransferProtocol::Xmodem) << "<dir>"
                                        << "x.bin" << true;
}

void TestTransferDialogs::receiveRefusesUnusableTargets() {
    QFETCH(int, protocol);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    FakeInteraction fake;
    QTemporaryDir dir;
    TReceiveFileDlg dialog(nullptr, false);
    Choose(dialog.ProtocolBox, TTransferProtocol(protocol));
    dialog.FolderEdit->setText(folder.replace(QStringLiteral("<dir>"), dir.path()));
    dialog.NameEdit->setText(name);
    dialog.accept();
    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    QCOMPARE(fake.WarningTexts().isEmpty(), accepted);
}

QTEST_MAIN(TestTransferDialogs)
#include "test_transfer_dialogs.moc"
