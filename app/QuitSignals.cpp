#include "app/QuitSignals.h"

#include "serial/TQxComPort.h"

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
std::atomic<int> SignalsSeen{0};

// Only async-signal-safe calls here: the event loop does the real work.
void OnQuitSignal(int signal) {
    if (SignalsSeen.fetch_add(1) > 0)
        ::_exit(128 + signal);
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

// A window that refuses to close (a busy dialog) must not keep the program
// alive: the loops are ended whatever the windows said.
void QuitAsIfClosed() {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(SignalPipe[0], &byte, 1);
    EndLineWork();
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

} // namespace

bool EndLineWork(int timeoutMs) {
    TQxComPort& port = SerialPort();
    if (!port.CancelLineOwner())
        return true;
    // The owner reports its end through the event loop (and may need it to
    // get there), so the loop runs while it is awaited.
    QEventLoop loop;
    QTimer poll;
    poll.callOnTimeout(&loop, [&loop, &port] {
        if (port.LineOwner() == TLineUser::Keys)
            loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return port.LineOwner() == TLineUser::Keys;
}

void InstallQuitSignals() {
    if (SignalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, SignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, &QuitAsIfClosed);
    struct sigaction action = {};
    action.sa_handler = &OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
