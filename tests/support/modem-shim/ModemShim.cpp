// Preloaded (LD_PRELOAD) into a program under test: a pseudo-terminal then
// answers the modem-line calls a real UART answers, as a driver does. Only
// calls the kernel refuses are answered here; a real device is untouched.
//
// - TIOCMGET: DTR and RTS as last set, CTS, DSR and DCD on.
// - TIOCMSET, TIOCMBIS, TIOCMBIC: set DTR and RTS.
// - TIOCGICOUNT: counters that never move.
// - TIOCMIWAIT: blocks until a signal interrupts it (the lines never
//   change), as a driver's wait does on a quiet line.
// QX_MODEM_SHIM_LOG=<file>: every answered call is appended to the file as
// one line ("TIOCMGET", "TIOCMBIS 6", ...), for tests that look at them.
#include <atomic>
#include <cerrno>
#include <cstdarg>
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

std::atomic<int> lines{TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD};

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

int Answer(unsigned long request, void* argument) {
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
        // Sleeps until a signal arrives, like a wait for a change that
        // never comes.
        ::ppoll(nullptr, 0, nullptr, nullptr);
        errno = EINTR;
        return -1;
    default:
        return -1;
    }
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const int result = RealIoctl()(fd, request, argument);
    if (result == 0 || !IsModemCall(request) || !::isatty(fd))
        return result;
    return Answer(request, argument);
}
