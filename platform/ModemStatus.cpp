#include "platform/ModemStatus.h"

#include <atomic>

#include <sys/ioctl.h>

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

TModemStatusSource& ModemStatusSource() {
    static TDriverModemStatus driver;
    TModemStatusSource* source = installed.load();
    return source ? *source : driver;
}

void SetModemStatusSource(TModemStatusSource* source) {
    installed.store(source);
}
