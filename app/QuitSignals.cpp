#include "app/QuitSignals.h"

#include <QApplication>
#include <QSocketNotifier>

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

void QuitAsIfClosed() {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(SignalPipe[0], &byte, 1);
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

} // namespace

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
