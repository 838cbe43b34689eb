#include "bench/e2e/VirtualDisplay.h"

#include "bench/e2e/Measure.h"

#include <QList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 20000;

} // namespace

VirtualDisplay::~VirtualDisplay() {
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(FPid, nullptr, WNOHANG) == FPid)
            return;
        ::usleep(10000);
    }
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
}

QByteArray VirtualDisplay::FindServer() {
    const char* path = std::getenv("PATH");
    const QByteArray dirs = path ? QByteArray(path) : QByteArray("/usr/bin:/bin");
    for (const QByteArray& dir : dirs.split(':')) {
        const QByteArray candidate = dir + "/Xvfb";
        if (::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool VirtualDisplay::Start(const QByteArray& server) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    FPid = ::fork();
    if (FPid == 0) {
        ::dup2(pipeFds[1], 3); // dup2 clears close-on-exec
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
        ::execl(server.constData(), "Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24",
                "-nolisten", "tcp", "-br", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (FPid < 0) {
        ::close(pipeFds[0]);
        return false;
    }
    QByteArray number;
    const qint64 deadline = MonotonicNs() + qint64(StartTimeoutMs) * 1000000;
    while (!number.endsWith('\n') && MonotonicNs() < deadline) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[32];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, n);
    }
    ::close(pipeFds[0]);
    number = number.trimmed();
    if (number.isEmpty())
        return false;
    Name = ":" + number;
    return true;
}

bool SetUpX11IfAsked(int& argc, char** argv, VirtualDisplay& display, bool& skip) {
    skip = false;
    int at = 1;
    while (at < argc && std::strcmp(argv[at], "--x11") != 0)
        ++at;
    if (at == argc)
        return true;
    for (int i = at; i + 1 < argc; ++i)
        argv[i] = argv[i + 1];
    --argc;
    const QByteArray server = VirtualDisplay::FindServer();
    if (server.isEmpty()) {
        std::fprintf(stderr,
                     "%s --x11: skipped, Xvfb is not installed "
                     "(scripts/install-deps.sh --with-display-tools)\n",
                     argv[0]);
        skip = true;
        return false;
    }
    if (!display.Start(server)) {
        std::fprintf(stderr, "%s --x11: Xvfb did not start\n", argv[0]);
        return false;
    }
    ::setenv("DISPLAY", display.Name.constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    SetReportSuffix("_x11");
    return true;
}
