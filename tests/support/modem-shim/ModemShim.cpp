// Preloaded (LD_PRELOAD) into a program under test: a pseudo-terminal then
// answers the modem-line calls a real UART answers, as a driver does. Only
// calls the kernel refuses are answered here; a real device is untouched.
//
// - TIOCMGET: DTR and RTS as last set, CTS, DSR and DCD on (until
//   QxModemShimSetInputLines() changes them).
// - TIOCMSET, TIOCMBIS, TIOCMBIC: set DTR and RTS.
// - TIOCGICOUNT: counters that never move.
// - TIOCMIWAIT: blocks until an input line of its mask changes (0), the
//   other side hangs up (EIO) or a signal interrupts it (EINTR), as a
//   driver's wait does.
// Linked into a test program instead of preloaded, the shim answers that
// program's calls, and the test plays the input lines with
// QxModemShimSetInputLines().
// QX_MODEM_SHIM_LOG=<file>: every answered call is appended to the file as
// one line ("TIOCMGET", "TIOCMBIS 6", ...), for tests that look at them.
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using IoctlFunction = int (*)(int, unsigned long, void*);

constexpr int InputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
std::atomic<int> lines{TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD};

// Written to at each change of the input lines; a wait watches it.
int* ChangePipe() {
    static int ends[2] = {-1, -1};
    static const bool made = ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0;
    (void)made;
    return ends;
}

int WaitForChange(int fd, int mask) {
    const int before = lines.load();
    const int changes = ChangePipe()[0];
    for (;;) {
        pollfd fds[2] = {{fd, 0, 0}, {changes, POLLIN, 0}};
        if (::ppoll(fds, 2, nullptr, nullptr) < 0)
            return -1; // EINTR
        if (fds[1].revents & POLLIN) {
            char drained[64];
            while (::read(changes, drained, sizeof drained) > 0) {
            }
        }
        if ((lines.load() ^ before) & mask)
            return 0;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            errno = EIO;
            return -1;
        }
    }
}

IoctlFunction RealIoctl() {
    static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

void Log(const char* call, long value = -1) {
    const char* path = std::getenv("QX_MODEM_SHIM_LOG");
    if (!path)
        return;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char line[64];
    const int length = value < 0 ? std::snprintf(line, sizeof line, "%s\n", call)
                                 : std::snprintf(line, sizeof line, "%s %ld\n", call, value);
    [[maybe_unused]] const ssize_t written = ::write(fd, line, size_t(length));
    ::close(fd);
}

bool IsModemCall(unsigned long request) {
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
           request == TIOCMBIC || request == TIOCGICOUNT || request == TIOCMIWAIT;
}

int Answer(int fd, unsigned long request, void* argument) {
    constexpr int Settable = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
    case TIOCMGET:
        Log("TIOCMGET");
        *static_cast<int*>(argument) = lines.load();
        return 0;
    case TIOCMSET: {
        const int bits = *static_cast<int*>(argument) & Settable;
        Log("TIOCMSET", bits);
        lines = (lines.load() & ~Settable) | bits;
        return 0;
    }
    case TIOCMBIS: {
        const int bits = *static_cast<int*>(argument) & Settable;
        Log("TIOCMBIS", bits);
        lines |= bits;
        return 0;
    }
    case TIOCMBIC: {
        const int bits = *static_cast<int*>(argument) & Settable;
        Log("TIOCMBIC", bits);
        lines &= ~bits;
        return 0;
    }
    case TIOCGICOUNT:
        Log("TIOCGICOUNT");
        *static_cast<serial_icounter_struct*>(argument) = serial_icounter_struct{};
        return 0;
    case TIOCMIWAIT:
        Log("TIOCMIWAIT");
        return WaitForChange(fd, int(reinterpret_cast<std::uintptr_t>(argument)) & InputLines);
    default:
        return -1;
    }
}

} // namespace

// Sets the input lines (CTS, DSR, DCD, RI) and wakes a waiting TIOCMIWAIT.
extern "C" void QxModemShimSetInputLines(int bits) {
    int expected = lines.load();
    while (!lines.compare_exchange_weak(expected, (expected & ~InputLines) | (bits & InputLines))) {
    }
    const char one = 1;
    [[maybe_unused]] const ssize_t written = ::write(ChangePipe()[1], &one, 1);
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const int result = RealIoctl()(fd, request, argument);
    if (result == 0 || !IsModemCall(request) || !::isatty(fd))
        return result;
    return Answer(fd, request, argument);
}
