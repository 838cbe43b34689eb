#include "platform/TLineCounters.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

TLineErrorCounts TLineErrorCounts::operator-(const TLineErrorCounts& earlier) const {
    return {Frame - earlier.Frame, Overrun - earlier.Overrun, Parity - earlier.Parity,
            Break - earlier.Break, BufferOverrun - earlier.BufferOverrun};
}

bool TLineCounters::InputLinesDiffer(const TLineCounters& other) const {
    return Cts != other.Cts || Dsr != other.Dsr || Dcd != other.Dcd || Ring != other.Ring;
}

std::optional<TLineCounters> ReadLineCounters(int fd) {
    serial_icounter_struct counters{};
    if (::ioctl(fd, TIOCGICOUNT, &counters) != 0)
        return std::nullopt;
    return TLineCounters{
        counters.cts,
        counters.dsr,
        counters.dcd,
        counters.rng,
        {counters.frame, counters.overrun, counters.parity, counters.brk, counters.buf_overrun}};
}
