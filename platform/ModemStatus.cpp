#include "platform/ModemStatus.h"

#include <atomic>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

class TDriverModemStatus : public TModemStatusSource {
public:
    std::optional<int> Read(int fd) override {
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) != 0)
            return std::nullopt;
        return bits;
    }
};

std::atomic<TModemStatusSource*> installed{nullptr};

} // namespace

bool TModemStatusSource::SetLines(int fd, int bits, bool on) {
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool TModemStatusSource::SendBreak(int fd) {
    return ::tcsendbreak(fd, 0) == 0;
}

TModemStatusSource& ModemStatusSource() {
    static TDriverModemStatus driver;
    TModemStatusSource* source = installed.load();
    return source ? *source : driver;
}

void SetModemStatusSource(TModemStatusSource* source) {
    installed.store(source);
}
