#pragma once

#include <optional>

// The driver's line error counters since the device was opened.
struct TLineErrorCounts {
    int Frame = 0;
    int Overrun = 0;
    int Parity = 0;
    int Break = 0;
    int BufferOverrun = 0;
    int Total() const { return Frame + Overrun + Parity + Break + BufferOverrun; }
    TLineErrorCounts operator-(const TLineErrorCounts& earlier) const;
    bool operator==(const TLineErrorCounts&) const = default;
};

// What a serial driver counts since the line was set up (TIOCGICOUNT):
// changes of the input lines and line errors. The kernel's own structure
// stays inside the platform layer.
struct TLineCounters {
    int Cts = 0;
    int Dsr = 0;
    int Dcd = 0;
    int Ring = 0;
    TLineErrorCounts Errors;
    // Whether any of the four input lines changed between the two readings.
    bool InputLinesDiffer(const TLineCounters& other) const;
};

// The counters of the tty Fd; nothing where the driver keeps none (a
// pseudo-terminal, many USB adapters).
std::optional<TLineCounters> ReadLineCounters(int fd);
