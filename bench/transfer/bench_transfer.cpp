// File transfers at 115200 baud: YMODEM-1K into lrzsz's rb, XMODEM-CRC into
// rx and a raw send, each as a fraction of the line rate. A relay thread
// passes our bytes to the receiver no faster than the line would (one byte
// per 10 bit times); the receiver's answers come back at once.
#include "transfer/TFdChannel.h"
#include "transfer/TRawSender.h"
#include "transfer/TXmodemSender.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr double LineBytesPerSecond = 115200.0 / 10.0;
constexpr qsizetype FileSize = 256 * 1024;

// Copies From to To at the line's pace until From ends.
void PacedRelay(int from, int to, std::atomic<qint64>& relayed) {
    const auto start = std::chrono::steady_clock::now();
    char buffer[256];
    for (;;) {
        pollfd p{from, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0) {
            // A line's latency (a USB adapter's frame, about 1 ms) after a
            // pause: lrzsz flushes its input right after each answer, and
            // on a pseudo-terminal without it the next block would be
            // flushed with it.
            if (::poll(&p, 1, 200) == 0)
                continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const ssize_t n = ::read(from, buffer, 64);
        if (n <= 0)
            return;
        const auto due = start + std::chrono::duration<double>((relayed + n) / LineBytesPerSecond);
        std::this_thread::sleep_until(due);
        if (::write(to, buffer, size_t(n)) != n)
            return;
        relayed += n;
    }
}

// One run: the fraction of the line rate, or -1 when the transfer failed.
double Run(const QString& mode, const QString& file, const QString& folder) {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return -1;
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    int toRelay[2], answers[2];
    if (::pipe2(toRelay, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0)
        return -1;
    QProcess peer;
    peer.setWorkingDirectory(folder);
    peer.setStandardInputFile(QStringLiteral("/proc/self/fd/%1").arg(slave));
    peer.setStandardOutputFile(QStringLiteral("/proc/self/fd/%1").arg(answers[1]));
    const bool raw_ = mode == u"raw";
    if (raw_) {
        // A reader that takes everything, as a target's shell would.
        peer.setStandardOutputFile(QProcess::nullDevice());
        peer.start(QStandardPaths::findExecutable(QStringLiteral("cat")), {});
    } else {
        peer.start(QStandardPaths::findExecutable(mode == u"ymodem" ? "rb" : "rx"),
                   mode == u"ymodem" ? QStringList() : QStringList{"-c", "out.bin"});
    }
    ::close(answers[1]);
    std::atomic<qint64> relayed{0};
    std::thread relay(PacedRelay, toRelay[0], master, std::ref(relayed));
    TFdChannel channel(answers[0], toRelay[1]);
    QElapsedTimer clock;
    clock.start();
    TTransferResult result;
    if (raw_) {
        TRawSender sender(channel, file);
        result = sender.Run();
    } else {
        TXmodemSender sender(channel, mode == u"ymodem" ? TXmodemKind::Ymodem : TXmodemKind::Xmodem,
                             {file});
        result = sender.Run();
    }
    ::close(toRelay[1]);
    relay.join();
    // Raw is done once the line carried the last byte.
    const double seconds = clock.nsecsElapsed() / 1e9;
    peer.waitForFinished(5000);
    peer.kill();
    peer.waitForFinished();
    for (int fd : {toRelay[0], answers[0], master, slave})
        ::close(fd);
    if (!result.Ok())
        return -1;
    return FileSize / seconds / LineBytesPerSecond;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("image.bin"));
    QByteArray bytes(FileSize, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != FileSize)
        return 1;
    out.close();
    const bool haveLrzsz = !QStandardPaths::findExecutable(QStringLiteral("rb")).isEmpty();
    const QStringList only = app.arguments().mid(1);
    for (const char* mode : {"ymodem", "raw", "xmodem"}) {
        if (!only.isEmpty() && !only.contains(QLatin1String(mode)))
            continue;
        if (!haveLrzsz && QByteArray(mode) != "raw")
            continue;
        for (int run = 1; run <= 2; ++run) {
            QTemporaryDir into;
            const double fraction = Run(QString::fromLatin1(mode), file, into.path());
            std::printf("transfer_%s_115200_run%d: %.3f of_line_rate\n",
                        mode == QByteArray("ymodem")   ? "ymodem_1k"
                        : mode == QByteArray("xmodem") ? "xmodem_crc"
                                                       : "raw",
                        run, fraction);
            std::fflush(stdout);
        }
    }
    return 0;
}
