// Shows the main window sending a file with YMODEM to lrzsz's rb on a
// pseudo-terminal paced like a 115200 baud line, for looking at the
// progress dialog; not a test.
//   transfer_preview [--shot FILE]
// --shot FILE saves the progress dialog as a picture after a few seconds
// and ends.
#include "app/TQtInteraction.h"
#include "app/TQxConsoleWindow.h"
#include "platform/AppLocation.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "transfer/TSendFileDlg.h"
#include "transfer/TTransferProgressDlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int BytesPerSecond = 11520;

// Passes bytes between the line and the peer's pipes, the line's way
// paced at BytesPerSecond.
void Relay(int master, int toPeer, int fromPeer, const std::atomic<bool>& stop) {
    char buffer[512];
    while (!stop) {
        pollfd fds[2] = {{master, POLLIN, 0}, {fromPeer, POLLIN, 0}};
        if (::poll(fds, 2, 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(master, buffer, sizeof buffer);
            if (got <= 0)
                return;
            QThread::usleep(ulong(got * 1000000 / BytesPerSecond));
            if (::write(toPeer, buffer, size_t(got)) != got)
                return;
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t got = ::read(fromPeer, buffer, sizeof buffer);
            if (got <= 0 || ::write(master, buffer, size_t(got)) != got)
                return;
        }
    }
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(icons);
    QApplication::setApplicationName(QStringLiteral("Qx-Console"));
    TQtInteraction interaction;
    SetInteraction(&interaction);
    QTemporaryDir dir;
    SetApplicationDir(dir.path());

    int master = -1, slave = -1;
    char slavePath[256] = {};
    termios raw = {};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, slavePath, &raw, nullptr) != 0)
        qFatal("no pseudo-terminal");
    TProfileFile settings(SettingsFileName());
    if (!settings.WriteString("Devices", "COM1", slavePath) ||
        !settings.WriteString("COM-Device", "Baudrate", "115200"))
        qFatal("%s", qPrintable(settings.WriteError().Text()));
    const QString image = dir.filePath(QStringLiteral("firmware.bin"));
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(image));
    for (int i = 0; i < 256 * 1024; ++i)
        file.putChar(char(QRandomGenerator::global()->bounded(256)));
    file.close();

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        qFatal("no pipes");
    QProcess peer;
    peer.setWorkingDirectory(QDir::tempPath());
    peer.setStandardInputFile(QStringLiteral("/proc/self/fd/%1").arg(in[0]));
    peer.setStandardOutputFile(QStringLiteral("/proc/self/fd/%1").arg(out[1]));
    peer.start(QStandardPaths::findExecutable(QStringLiteral("rb")), {QStringLiteral("-D")});
    std::atomic<bool> stop{false};
    std::thread relay([&] { Relay(master, in[1], out[0], stop); });

    auto* window = new TQxConsoleWindow;
    window->show();
    QTimer driver;
    driver.callOnTimeout([&] {
        if (auto* send = qobject_cast<TSendFileDlg*>(QApplication::activeModalWidget())) {
            send->FileEdit->setText(image);
            send->SendBtn->click();
        }
    });
    driver.start(100);
    QTimer::singleShot(500, window, [window] { window->SendFileClick(); });
    const QStringList arguments = QApplication::arguments();
    const int shotAt = int(arguments.indexOf(QStringLiteral("--shot")));
    if (shotAt > 0 && shotAt + 1 < arguments.size())
        QTimer::singleShot(6000, window, [file = arguments[shotAt + 1]] {
            if (auto* progress =
                    qobject_cast<TTransferProgressDlg*>(QApplication::activeModalWidget())) {
                progress->grab().save(file);
                progress->CancelBtnClick();
            }
            QTimer::singleShot(3000, [] { QApplication::exit(0); });
        });
    const int result = QApplication::exec();
    delete window;
    DestroySerialPort();
    stop = true;
    relay.join();
    peer.kill();
    peer.waitForFinished();
    SetInteraction(nullptr);
    return result;
}
