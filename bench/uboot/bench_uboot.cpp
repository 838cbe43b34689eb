// YMODEM into a real U-Boot (u-boot-qemu on QEMU's arm virt machine, its
// UART on a pseudo-terminal): 1 MB of random bytes into loady through this
// program's sender, against lrzsz's sb (1 KB blocks, as ours) on the same
// machine. Every run must leave memory whose crc32 equals the file's.
#include "tests/support/TUBootMachine.h"
#include "tools/Crc32.h"
#include "transfer/TFdChannel.h"
#include "transfer/TXmodemSender.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Rounds = 2;
constexpr int LoadTimeoutMs = 30 * 60 * 1000;

quint32 Crc32Of(const QByteArray& bytes) {
    Crc32 crc;
    crc.Update(bytes.constData(), std::size_t(bytes.size()));
    return crc.Value();
}

// lrzsz's YMODEM sender with 1 KB blocks on the UART's terminal.
bool SendWithSb(const TUBootMachine& machine, const QString& file) {
    QProcess sb;
    sb.setStandardInputFile(machine.PtyPath());
    sb.setStandardOutputFile(machine.PtyPath());
    sb.setStandardErrorFile(QProcess::nullDevice());
    sb.start(QStringLiteral("sb"), {QStringLiteral("-k"), file});
    return sb.waitForFinished(LoadTimeoutMs) && sb.exitStatus() == QProcess::NormalExit &&
           sb.exitCode() == 0;
}

bool SendWithOurs(const TUBootMachine& machine, const QString& file) {
    TFdChannel channel(machine.Fd());
    TXmodemSender sender(channel, TXmodemKind::Ymodem, {file});
    int retries = 0;
    sender.OnProgress = [&retries](const TTransferProgress& progress) {
        retries = progress.Retries;
    };
    const TTransferResult result = sender.Run();
    if (!result.Ok())
        std::fprintf(stderr, "our sender: %s\n", qPrintable(result.Text));
    if (retries > 0)
        std::fprintf(stderr, "our sender: %d blocks sent again\n", retries);
    return result.Ok();
}

// Seconds from the start of the sender to U-Boot's report of the load; -1
// when the load failed or the memory differs from the file.
double Load(TUBootMachine& machine, const QString& file, const QByteArray& image,
            const std::function<bool(const TUBootMachine&, const QString&)>& send) {
    const QByteArray address = QByteArray::number(TUBootMachine::LoadAddress, 16);
    if (!machine.Send("loady " + address, "## Ready for binary"))
        return -1;
    const Clock::time_point start = Clock::now();
    const bool sent = send(machine, file);
    const std::optional<QByteArray> answer = machine.Answer(LoadTimeoutMs);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!sent || !answer)
        return -1;
    return machine.Crc32(TUBootMachine::LoadAddress, image.size()) == Crc32Of(image) ? seconds : -1;
}

// The fastest run that counted: what the other programs on a shared machine
// took from QEMU's threads only ever slows a run down.
double Fastest(const std::vector<double>& values) {
    double best = -1;
    for (const double value : values) {
        if (value > 0 && (best < 0 || value < best))
            best = value;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const qsizetype size = qEnvironmentVariableIsSet("QX_BENCH_UBOOT_BYTES")
                               ? qEnvironmentVariableIntValue("QX_BENCH_UBOOT_BYTES")
                               : 1000000;
    if (QStandardPaths::findExecutable(QStringLiteral("sb")).isEmpty()) {
        std::fprintf(stderr, "uboot_ymodem: lrzsz's sb is not installed, skipped\n");
        return 0;
    }
    TUBootMachine machine;
    if (const QString why = machine.Start(); !why.isEmpty()) {
        std::fprintf(stderr, "uboot_ymodem: skipped: %s\n", qPrintable(why));
        return 0;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("image.bin"));
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& byte : image)
        byte = char(random.bounded(256));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size())
        return 1;
    out.close();

    std::vector<double> ours;
    std::vector<double> sb;
    for (int round = 0; round < Rounds; ++round) {
        ours.push_back(Load(machine, file, image, SendWithOurs));
        sb.push_back(Load(machine, file, image, SendWithSb));
        std::fprintf(stderr, "round %d: ours %.1f s, sb %.1f s\n", round + 1, ours.back(),
                     sb.back());
    }
    const double oursS = Fastest(ours);
    const double sbS = Fastest(sb);
    std::printf("uboot_ymodem_1mb_s: %.1f s\n", oursS);
    std::printf("uboot_sb_1mb_s: %.1f s\n", sbS);
    std::printf("uboot_ymodem_over_sb: %.3f ratio\n", oursS > 0 && sbS > 0 ? oursS / sbS : -1);
    return 0;
}
