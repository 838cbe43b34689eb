#include "tests/support/TUBootMachine.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString Qemu = QStringLiteral("qemu-system-arm");
const QByteArray Prompt = "\n=> ";

} // namespace

TUBootMachine::TUBootMachine() = default;

TUBootMachine::~TUBootMachine() {
    Stop();
}

QString TUBootMachine::ImagePath() {
    return QStringLiteral("/usr/lib/u-boot/qemu_arm/u-boot.bin");
}

QString TUBootMachine::Missing() {
    if (QStandardPaths::findExecutable(Qemu).isEmpty())
        return QStringLiteral("qemu-system-arm is not installed (scripts/install-deps.sh)");
    if (!QFileInfo::exists(ImagePath()))
        return QStringLiteral("%1 is missing (package u-boot-qemu)").arg(ImagePath());
    return {};
}

QString TUBootMachine::Start() {
    if (const QString missing = Missing(); !missing.isEmpty())
        return missing;
    // No network card: its boot ROM is another package, and U-Boot needs none.
    FQemu.setProcessChannelMode(QProcess::MergedChannels);
    FQemu.start(Qemu, {"-M", "virt", "-nographic", "-nic", "none", "-bios", ImagePath(), "-chardev",
                       "pty,id=uart", "-serial", "chardev:uart", "-monitor", "none"});
    if (!FQemu.waitForStarted())
        return QStringLiteral("qemu-system-arm does not start: %1").arg(FQemu.errorString());
    static const QRegularExpression ptyName(QStringLiteral("redirected to (/dev/pts/\\d+)"));
    QByteArray said;
    QDeadlineTimer named(10000);
    while (FPtyPath.isEmpty() && !named.hasExpired() && FQemu.waitForReadyRead(500)) {
        said += FQemu.readAll();
        FPtyPath = ptyName.match(QString::fromLocal8Bit(said)).captured(1);
    }
    if (FPtyPath.isEmpty())
        return QStringLiteral("QEMU named no pseudo-terminal: %1")
            .arg(QString::fromLocal8Bit(said));
    FFd = ::open(FPtyPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0)
        return QStringLiteral("cannot open %1").arg(FPtyPath);
    termios raw{};
    ::tcgetattr(FFd, &raw);
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B115200);
    ::tcsetattr(FFd, TCSANOW, &raw);
    // Any key stops the count-down; typed early, it waits in the UART.
    QDeadlineTimer booted(BootTimeoutMs);
    while (ReadUntil(Prompt, 0, 250) < 0) {
        if (booted.hasExpired())
            return QStringLiteral("U-Boot did not reach its prompt within %1 s on this machine "
                                  "(QEMU emulating without acceleration is too slow here)")
                .arg(BootTimeoutMs / 1000);
        Write(" ");
    }
    return Run("").has_value() ? QString() : QStringLiteral("U-Boot's prompt does not answer");
}

void TUBootMachine::Stop() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    if (FQemu.state() != QProcess::NotRunning) {
        FQemu.kill();
        FQemu.waitForFinished();
    }
}

std::optional<QByteArray> TUBootMachine::Run(const QByteArray& command, int timeoutMs) {
    Discard();
    if (!Write(command + '\r'))
        return std::nullopt;
    const QDeadlineTimer deadline(timeoutMs);
    const qsizetype echo = ReadUntil(command + "\r\n", 0, timeoutMs);
    if (echo < 0)
        return std::nullopt;
    const qsizetype from = echo + command.size() + 2;
    const qsizetype prompt = ReadUntil(Prompt, from - 1, int(deadline.remainingTime()));
    if (prompt < 0)
        return std::nullopt;
    return FSeen.mid(from, std::max<qsizetype>(prompt - from, 0)).trimmed();
}

bool TUBootMachine::Send(const QByteArray& command, const QByteArray& pattern, int timeoutMs) {
    Discard();
    return Write(command + '\r') && ReadUntil(pattern, 0, timeoutMs) >= 0;
}

std::optional<QByteArray> TUBootMachine::Answer(int timeoutMs) {
    const qsizetype prompt = ReadUntil(Prompt, 0, timeoutMs);
    if (prompt < 0)
        return std::nullopt;
    const QByteArray answer = FSeen.left(prompt).trimmed();
    FSeen.remove(0, prompt + Prompt.size());
    return answer;
}

std::optional<quint32> TUBootMachine::Crc32(quint32 address, qsizetype size, int timeoutMs) {
    const std::optional<QByteArray> answer = Run(
        "crc32 " + QByteArray::number(address, 16) + ' ' + QByteArray::number(size, 16), timeoutMs);
    // "crc32 for 40200000 ... 4020ffff ==> 1a2b3c4d"
    const qsizetype arrow = answer ? answer->lastIndexOf("==> ") : -1;
    if (arrow < 0)
        return std::nullopt;
    bool ok = false;
    const quint32 crc = answer->mid(arrow + 4, 8).toUInt(&ok, 16);
    return ok ? std::optional<quint32>(crc) : std::nullopt;
}

bool TUBootMachine::Write(const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(FFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd out{FFd, POLLOUT, 0};
            ::poll(&out, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

qsizetype TUBootMachine::ReadUntil(const QByteArray& pattern, qsizetype from, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (const qsizetype at = FSeen.indexOf(pattern, std::max<qsizetype>(from, 0)); at >= 0)
            return at;
        pollfd in{FFd, POLLIN, 0};
        if (::poll(&in, 1, int(deadline.remainingTime())) <= 0)
            return -1;
        std::array<char, 4096> buffer;
        const ssize_t n = ::read(FFd, buffer.data(), buffer.size());
        if (n > 0)
            FSeen.append(buffer.data(), n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return -1;
    }
}

// What U-Boot said before (the end of a load, a prompt) is of no interest.
void TUBootMachine::Discard() {
    ReadUntil(QByteArray(1, '\0'), 0, 100);
    FSeen.clear();
}
