// The Send File and Receive File dialogs: what they let through and what
// they say about the line and the programs ZMODEM needs.
#include "tests/support/FakeInteraction.h"
#include "transfer/TReceiveFileDlg.h"
#include "transfer/TSendFileDlg.h"

#include <QComboBox>
#include <QDialog>
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
    void noteSaysWhatTheLineOrProgramsLack_data();
    void noteSaysWhatTheLineOrProgramsLack();
    void dialogsRefuseWhatCannotGo_data();
    void dialogsRefuseWhatCannotGo();
};

void TestTransferDialogs::noteSaysWhatTheLineOrProgramsLack_data() {
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<QString>("note");
    QTest::newRow("YMODEM, no flow control") << int(TTransferProtocol::Ymodem) << false << "";
    QTest::newRow("YMODEM over XON/XOFF")
        << int(TTransferProtocol::Ymodem) << true << "needs an 8-bit clean line";
    QTest::newRow("ZMODEM over XON/XOFF") << int(TTransferProtocol::Zmodem) << true << "";
    QTest::newRow("ZMODEM without lrzsz")
        << int(TTransferProtocol::Zmodem) << false << "sudo apt-get install lrzsz";
}

void TestTransferDialogs::noteSaysWhatTheLineOrProgramsLack() {
    QFETCH(int, protocol);
    QFETCH(bool, xonXoff);
    QFETCH(QString, note);
    const QByteArray path = qgetenv("PATH");
    if (note.contains(u"lrzsz")) // sz and rz are nowhere
        qputenv("PATH", "/nonexistent");
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

// <dir> stands for an empty folder holding the files a and b.
void TestTransferDialogs::dialogsRefuseWhatCannotGo_data() {
    QTest::addColumn<bool>("sending");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("path"); // the files to send, or the folder
    QTest::addColumn<QString>("name"); // XMODEM's file name when receiving
    QTest::addColumn<QString>("problem");
    const int x = int(TTransferProtocol::Xmodem), y = int(TTransferProtocol::Ymodem);
    QTest::newRow("send: no file") << true << y << ""
                                   << ""
                                   << "Name the file";
    QTest::newRow("send: XMODEM batch") << true << x << R"("<dir>/a" "<dir>/b")"
                                        << ""
                                        << "one file at a time";
    QTest::newRow("send: missing file") << true << y << R"("<dir>/a" "<dir>/c")"
                                        << ""
                                        << "Unable to read";
    QTest::newRow("send: a folder") << true << y << "<dir>"
                                    << ""
                                    << "Unable to read";
    QTest::newRow("send: YMODEM batch") << true << y << R"("<dir>/a" "<dir>/b")"
                                        << ""
                                        << "";
    QTest::newRow("receive: no such folder") << false << y << "<dir>/c"
                                             << ""
                                             << "folder";
    QTest::newRow("receive: XMODEM without name") << false << x << "<dir>"
                                                  << ""
                                                  << "plain name";
    QTest::newRow("receive: XMODEM name leaving the folder") << false << x << "<dir>"
                                                             << "../x.bin"
                                                             << "plain name";
    QTest::newRow("receive: XMODEM") << false << x << "<dir>"
                                     << "x.bin"
                                     << "";
    QTest::newRow("receive: YMODEM") << false << y << "<dir>"
                                     << ""
                                     << "";
}

void TestTransferDialogs::dialogsRefuseWhatCannotGo() {
    QFETCH(bool, sending);
    QFETCH(int, protocol);
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, problem);
    FakeInteraction fake;
    QTemporaryDir dir;
    for (const char* file : {"a", "b"})
        QVERIFY(QFile(dir.filePath(QString::fromLatin1(file))).open(QIODevice::WriteOnly));
    path.replace(QStringLiteral("<dir>"), dir.path());
    TSendFileDlg send(nullptr, false);
    TReceiveFileDlg receive(nullptr, false);
    QDialog& dialog = sending ? static_cast<QDialog&>(send) : receive;
    Choose(sending ? send.ProtocolBox : receive.ProtocolBox, TTransferProtocol(protocol));
    send.FileEdit->setText(path);
    receive.FolderEdit->setText(path);
    receive.NameEdit->setText(name);
    dialog.accept();
    QCOMPARE(dialog.result() == QDialog::Accepted, problem.isEmpty());
    QVERIFY2(fake.WarningTexts().size() == (problem.isEmpty() ? 0 : 1) &&
                 fake.WarningTexts().join(u'|').contains(problem),
             qPrintable(fake.WarningTexts().join(u'|')));
}

QTEST_MAIN(TestTransferDialogs)
#include "test_transfer_dialogs.moc"
