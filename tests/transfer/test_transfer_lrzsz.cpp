// The transfer protocols against lrzsz, a peer written elsewhere, on the
// other end of a pseudo-terminal; and against a hand-played hostile sender.
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "transfer/TFdChannel.h"
#include "transfer/TRawSender.h"
#include "transfer/TXmodemReceiver.h"
#include "transfer/TXmodemSender.h"
#include "transfer/TZmodemSession.h"
#include "transfer/XmodemFrames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <thread>
#include <unistd.h>

namespace {

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// XMODEM has no size: the file arrives padded to whole blocks.
QByteArray Padded(const QByteArray& bytes) {
    return bytes + QByteArray((128 - bytes.size() % 128) % 128, Xmodem::PAD);
}

// Our end of the line to lrzsz. lrzsz flushes its input right after each
// answer; a real line's latency keeps our next block from arriving before
// that flush, here a short pause after every read does (without it the
// block is lost and found again only after lrzsz's time-out, which only
// costs time).
class LrzszChannel : public TFdChannel {
public:
    using TFdChannel::TFdChannel;
    TStatus Read(char* buffer, qsizetype count, qsizetype& got, int timeoutMs) override {
        const TStatus status = TFdChannel::Read(buffer, count, got, timeoutMs);
        FAnswered = FAnswered || got > 0;
        return status;
    }
    TStatus Write(const char* data, qsizetype count, int timeoutMs) override {
        if (std::exchange(FAnswered, false))
            QThread::msleep(2);
        return TFdChannel::Write(data, count, timeoutMs);
    }

private:
    bool FAnswered = false;
};

// An lrzsz program on the pseudo-terminal's slave side. What it sends us
// comes through a pipe (Ours() reads it): lrzsz flushes its terminal right
// after its last answer or its cancel, which on a pseudo-terminal (unlike a
// UART, where the drain before it sends the bytes) discards them unread.
struct LrzszPeer {
    QProcess Process;
    int Output[2] = {-1, -1};
    LrzszPeer(const PtyPair& pty, const QString& folder, const QString& program,
              const QStringList& arguments) {
        if (::pipe2(Output, O_CLOEXEC) != 0)
            Output[0] = Output[1] = -1;
        Process.setWorkingDirectory(folder);
        Process.setStandardInputFile(pty.SlavePath());
        Process.setStandardOutputFile(QStringLiteral("/proc/self/fd/%1").arg(Output[1]));
        Process.start(QStandardPaths::findExecutable(program), arguments);
        ::close(Output[1]);
        Output[1] = -1;
    }
    ~LrzszPeer() {
        if (Output[0] >= 0)
            ::close(Output[0]);
    }
    // Our end: reads what the peer sends, writes to its terminal.
    LrzszChannel Ours(const PtyPair& pty) const { return LrzszChannel(Output[0], pty.MasterFd()); }
    int Finish() {
        if (!Process.waitForFinished(30000))
            Process.kill();
        Process.waitForFinished();
        const int code = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
        if (code != 0)
            qWarning("%s", Process.readAllStandardError().constData());
        return code;
    }
};

} // namespace

class TestTransferLrzsz : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void fileArrivesByteIdentical_data();
    void fileArrivesByteIdentical();
    void cancelEndsTransferOnBothSides_data();
    void cancelEndsTransferOnBothSides();
    void silentPeerEndsWithNoAnswer_data();
    void silentPeerEndsWithNoAnswer();
    void hostileSenderIsRefusedOrCut_data();
    void hostileSenderIsRefusedOrCut();
    void existingFileIsReplacedOnlyWhenAllowed_data();
    void existingFileIsReplacedOnlyWhenAllowed();
    void rawSendsBytesAsTheyAre_data();
    void rawSendsBytesAsTheyAre();
    void zmodemCancelKeepsPartialFileAside();
};

void TestTransferLrzsz::initTestCase() {
    for (const char* program : {"rx", "rb", "sx", "sb"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP("lrzsz is not installed (scripts/install-deps.sh installs it)");
}

void TestTransferLrzsz::fileArrivesByteIdentical_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("size");
    const char* modes[] = {"send xmodem crc", "send xmodem sum", "send xmodem-1k",
                           "send ymodem",     "receive xmodem",  "receive ymodem"};
    for (const char* mode : modes)
        for (int size : {0, 1, 128, 1024, 1025, 1 << 20}) {
            const QByteArray name(mode);
            // A megabyte in 128-byte blocks costs 8192 answers: the long
            // blocks carry it. rb answers an empty file's header with a
            // cancel (it takes size 0 as nothing to fetch).
            if ((size == 1 << 20 && name.startsWith("send xmodem") && !name.endsWith("1k")) ||
                (size == 0 && name == "send ymodem"))
                continue;
            QTest::addRow("%s %d", mode, size) << QString::fromLatin1(mode) << size;
        }
}

void TestTransferLrzsz::fileArrivesByteIdentical() {
    QFETCH(QString, mode);
    QFETCH(int, size);
    PtyPair pty;
    QTemporaryDir ours, theirs;
    const QByteArray content = RandomBytes(size);
    const bool sending = mode.startsWith(u"send");
    const bool ymodem = mode.endsWith(u"ymodem");
    const QString source = (sending ? ours : theirs).filePath(QStringLiteral("data.bin"));
    WriteFile(source, content);

    QStringList peerArguments;
    QString program;
    if (sending) {
        program = ymodem ? QStringLiteral("rb") : QStringLiteral("rx");
        if (mode.endsWith(u"crc") || mode.endsWith(u"1k"))
            peerArguments << QStringLiteral("-c");
        if (!ymodem)
            peerArguments << QStringLiteral("data.bin");
    } else {
        program = ymodem ? QStringLiteral("sb") : QStringLiteral("sx");
        peerArguments << source;
    }
    LrzszPeer peer(pty, theirs.path(), program, peerArguments);
    LrzszChannel channel = peer.Ours(pty);
    std::unique_ptr<TTransferSession> session;
    if (sending) {
        const TXmodemKind kind = ymodem                 ? TXmodemKind::Ymodem
                                 : mode.endsWith(u"1k") ? TXmodemKind::Xmodem1K
                                                        : TXmodemKind::Xmodem;
        session = std::make_unique<TXmodemSender>(channel, kind, QStringList{source});
    } else {
        session = std::make_unique<TXmodemReceiver>(
            channel, ymodem, ymodem ? ours.path() : ours.filePath(QStringLiteral("data.bin")));
    }
    const TTransferResult result = session->Run();
    QCOMPARE(peer.Finish(), 0);
    QVERIFY2(result.Ok(), qPrintable(result.Text));
    const QString arrived = (sending ? theirs : ours).filePath(QStringLiteral("data.bin"));
    const QByteArray expected = ymodem ? content : Padded(content);
    QVERIFY(ReadFile(arrived) == expected);
    QCOMPARE(QDir(ours.path()).entryList({QStringLiteral("*.part")}, QDir::Files), QStringList());
}

void TestTransferLrzsz::cancelEndsTransferOnBothSides_data() {
    QTest::addColumn<bool>("sending");
    QTest::addColumn<bool>("weCancel");
    QTest::addColumn<int>("expected");
    QTest::newRow("we cancel our send") << true << true << int(TTransferError::Cancelled);
    QTest::newRow("we cancel our receive") << false << true << int(TTransferError::Cancelled);
    QTest::newRow("receiver cancels") << true << false << int(TTransferError::CancelledByPeer);
    QTest::newRow("sender cancels") << false << false << int(TTransferError::CancelledByPeer);
}

void TestTransferLrzsz::cancelEndsTransferOnBothSides() {
    QFETCH(bool, sending);
    QFETCH(bool, weCancel);
    QFETCH(int, expected);
    PtyPair pty;
    QTemporaryDir ours, theirs;
    const QString source = (sending ? ours : theirs).filePath(QStringLiteral("big.bin"));
    WriteFile(source, RandomBytes(8 << 20));
    LrzszPeer peer(pty, theirs.path(), sending ? QStringLiteral("rb") : QStringLiteral("sb"),
                   sending ? QStringList() : QStringList{source});
    LrzszChannel channel = peer.Ours(pty);
    std::unique_ptr<TTransferSession> session;
    if (sending)
        session =
            std::make_unique<TXmodemSender>(channel, TXmodemKind::Ymodem, QStringList{source});
    else
        session = std::make_unique<TXmodemReceiver>(channel, true, ours.path());
    const qint64 peerId = peer.Process.processId();
    std::atomic<bool> done{false};
    session->OnProgress = [&](const TTransferProgress& progress) {
        if (progress.Bytes < 64 * 1024 || done.exchange(true))
            return;
        if (weCancel)
            session->RequestCancel();
        else
            ::kill(pid_t(peerId), SIGTERM);
    };
    const TTransferResult result = session->Run();
    QCOMPARE(int(result.Error), expected);
    QVERIFY(peer.Finish() != 0);
    if (!sending) {
        QVERIFY(!QFile::exists(ours.filePath(QStringLiteral("big.bin"))));
        QCOMPARE(result.PartialFile, ours.filePath(QStringLiteral("big.bin.part")));
        QVERIFY(result.Text.contains(u".part"));
    }
}

void TestTransferLrzsz::silentPeerEndsWithNoAnswer_data() {
    QTest::addColumn<bool>("sending");
    QTest::newRow("receiver never asks") << true;
    QTest::newRow("sender never sends") << false;
}

void TestTransferLrzsz::silentPeerEndsWithNoAnswer() {
    QFETCH(bool, sending);
    PtyPair pty;
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("f.bin"));
    if (sending)
        WriteFile(file, "abc");
    TFdChannel channel(pty.MasterFd());
    std::unique_ptr<TTransferSession> session;
    if (sending)
        session = std::make_unique<TXmodemSender>(channel, TXmodemKind::Xmodem, QStringList{file});
    else
        session = std::make_unique<TXmodemReceiver>(channel, false, file);
    session->Timeouts.FirstAnswerMs = 1500;
    session->Timeouts.RequestEveryMs = 500;
    session->Timeouts.SettleMs = 100;
    const TTransferResult result = session->Run();
    QCOMPARE(result.Error, TTransferError::NoAnswer);
    if (!sending) { // it asked more than once, and with CRC
        const int slave = ::open(qPrintable(pty.SlavePath()), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        char asked[8] = {};
        QVERIFY(::read(slave, asked, sizeof asked) >= 2);
        ::close(slave);
        QCOMPARE(QByteArray(asked, 2), QByteArray("CC"));
    }
}

void TestTransferLrzsz::hostileSenderIsRefusedOrCut_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("flood");
    QTest::addColumn<QString>("landsAs"); // empty: refused
    QTest::addColumn<int>("error");
    const auto header = [](const QByteArray& name, const QByteArray& size) {
        return name + '\0' + size;
    };
    QTest::newRow("climbing path") << header("../../etc/passwd", "3") << false
                                   << QStringLiteral("passwd") << int(TTransferError::None);
    QTest::newRow("control characters") << header("a\x01\x1b[2Jb\x7f.txt", "3") << false
                                        << QStringLiteral("a[2Jb.txt") << int(TTransferError::None);
    QTest::newRow("name of 1000 bytes") << header(QByteArray(1000, 'n'), "3") << false
                                        << QString(250, u'n') << int(TTransferError::None);
    QTest::newRow("only dots") << header("../..", "3") << false << QString()
                               << int(TTransferError::BadName);
    QTest::newRow("size of 10^15") << header("big", "1000000000000000") << false << QString()
                                   << int(TTransferError::FileTooLarge);
    QTest::newRow("garbage flood")
        << QByteArray() << true << QString() << int(TTransferError::Garbage);
}

void TestTransferLrzsz::hostileSenderIsRefusedOrCut() {
    QFETCH(QByteArray, header);
    QFETCH(bool, flood);
    QFETCH(QString, landsAs);
    QFETCH(int, error);
    PtyPair pty;
    QTemporaryDir top;
    QVERIFY(QDir(top.path()).mkpath(QStringLiteral("a/b/in")));
    const QString folder = top.filePath(QStringLiteral("a/b/in"));
    const int slave =
        ::open(qPrintable(pty.SlavePath()), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    QVERIFY(slave >= 0);
    TFdChannel senderSide(slave);
    std::atomic<bool> stop{false};
    // The sender plays its part without looking at the answers beyond the
    // first request: a hostile one would not either.
    std::thread sender([&] {
        char byte = 0;
        qsizetype got = 0;
        senderSide.Read(&byte, 1, got, 5000);
        if (flood) {
            while (!stop)
                senderSide.Write(RandomBytes(4096).constData(), 4096, 1000);
            return;
        }
        QByteArray script =
            Xmodem::BuildBlock(0, header, header.size() > 128 ? 1024 : 128, true, '\0');
        script += Xmodem::BuildBlock(1, "xyz", 128, true) + Xmodem::EOT;
        script += Xmodem::BuildBlock(0, {}, 128, true, '\0');
        senderSide.Write(script.constData(), script.size(), 5000);
    });
    TFdChannel channel(pty.MasterFd());
    TXmodemReceiver receiver(channel, true, folder);
    receiver.Timeouts.FirstAnswerMs = 5000;
    receiver.Timeouts.SettleMs = 100;
    const TTransferResult result = receiver.Run();
    stop = true;
    sender.join();
    ::close(slave);
    QCOMPARE(int(result.Error), error);
    const QStringList written = QDir(folder).entryList(QDir::Files);
    QCOMPARE(written, landsAs.isEmpty() ? QStringList() : QStringList{landsAs});
    if (!landsAs.isEmpty())
        QCOMPARE(ReadFile(QDir(folder).filePath(landsAs)), QByteArray("xyz"));
    QCOMPARE(QDir(top.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(QDir(top.filePath(QStringLiteral("a"))).entryList(QDir::Files), QStringList());
}

void TestTransferLrzsz::existingFileIsReplacedOnlyWhenAllowed_data() {
    QTest::addColumn<bool>("allow");
    QTest::newRow("user says yes") << true;
    QTest::newRow("user says no") << false;
}

void TestTransferLrzsz::existingFileIsReplacedOnlyWhenAllowed() {
    QFETCH(bool, allow);
    FakeInteraction user;
    user.QuestionAnswers = {allow};
    PtyPair pty;
    QTemporaryDir ours, theirs;
    WriteFile(theirs.filePath(QStringLiteral("same.txt")), "new content");
    WriteFile(ours.filePath(QStringLiteral("same.txt")), "old content");
    LrzszPeer peer(pty, theirs.path(), QStringLiteral("sb"),
                   {theirs.filePath(QStringLiteral("same.txt"))});
    LrzszChannel channel = peer.Ours(pty);
    TXmodemReceiver receiver(channel, true, ours.path());
    const TTransferResult result = receiver.Run();
    peer.Finish();
    QCOMPARE(user.Prompts.size(), 1);
    QCOMPARE(result.Error, allow ? TTransferError::None : TTransferError::FileExists);
    QCOMPARE(ReadFile(ours.filePath(QStringLiteral("same.txt"))),
             allow ? QByteArray("new content") : QByteArray("old content"));
}

void TestTransferLrzsz::rawSendsBytesAsTheyAre_data() {
    QTest::addColumn<int>("pauseEvery");
    QTest::addColumn<bool>("pauseAfterLine");
    QTest::newRow("no pause") << 0 << false;
    QTest::newRow("pause every 1000 bytes") << 1000 << false;
    QTest::newRow("pause after lines") << 0 << true;
}

void TestTransferLrzsz::rawSendsBytesAsTheyAre() {
    QFETCH(int, pauseEvery);
    QFETCH(bool, pauseAfterLine);
    PtyPair pty;
    QTemporaryDir folder;
    QByteArray content = RandomBytes(5000).replace('\n', 'x');
    content[1000] = '\n';
    content[3000] = '\n';
    content.append(QByteArray(1, '\0') + "\n");
    const QString file = folder.filePath(QStringLiteral("raw.bin"));
    WriteFile(file, content);
    const int slave = ::open(qPrintable(pty.SlavePath()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    TFdChannel channel(slave);
    TRawSender sender(channel, file);
    sender.PauseEvery = pauseEvery;
    sender.PauseAfterLine = pauseAfterLine;
    sender.PauseMs = 20;
    int chunks = 0;
    sender.OnProgress = [&](const TTransferProgress& progress) { chunks += progress.Bytes > 0; };
    auto run = std::async(std::launch::async, [&] { return sender.Run(); });
    const QByteArray arrived = pty.Read(int(content.size()), 5000);
    const TTransferResult result = run.get();
    ::close(slave);
    QVERIFY2(result.Ok(), qPrintable(result.Text));
    QCOMPARE(result.Bytes, content.size());
    QVERIFY(arrived == content);
    // The pauses cut the stream where they were asked for.
    const int expectedChunks = pauseEvery ? 6 : pauseAfterLine ? 3 : 2;
    QCOMPARE(chunks, expectedChunks);
}

// rz is stopped and the cancel sequence sent; what it wrote (under a new
// name: the old one is taken) goes under a ".part" name, and the file that
// was there before stays as it was.
void TestTransferLrzsz::zmodemCancelKeepsPartialFileAside() {
    PtyPair pty;
    QTemporaryDir ours, theirs;
    const QString source = theirs.filePath(QStringLiteral("big.bin"));
    WriteFile(source, RandomBytes(8 << 20));
    WriteFile(ours.filePath(QStringLiteral("big.bin")), "old");
    LrzszPeer peer(pty, theirs.path(), QStringLiteral("sz"), {source});
    LrzszChannel channel = peer.Ours(pty);
    TZmodemSession session(channel, ours.path());
    session.OnProgress = [&session](const TTransferProgress& progress) {
        if (progress.Bytes >= 64 * 1024)
            session.RequestCancel();
    };
    const TTransferResult result = session.Run();
    QCOMPARE(int(result.Error), int(TTransferError::Cancelled));
    QVERIFY(peer.Finish() != 0);
    QCOMPARE(result.PartialFile, ours.filePath(QStringLiteral("big.bin.0.part")));
    QVERIFY(QFileInfo(result.PartialFile).size() > 0);
    QCOMPARE(ReadFile(ours.filePath(QStringLiteral("big.bin"))), QByteArray("old"));
}

QTEST_GUILESS_MAIN(TestTransferLrzsz)
#include "test_transfer_lrzsz.moc"
