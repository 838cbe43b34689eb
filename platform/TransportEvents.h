#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

// The words the device layer and its transports share: line events, line
// errors, time-outs and what an input or output step found.

// Line events, as the bits of an event mask.
inline constexpr quint32 EV_RXCHAR = 0x0001;  // bytes wait in the receive queue
inline constexpr quint32 EV_TXEMPTY = 0x0004; // the transmit queue ran empty after a write
inline constexpr quint32 EV_CTS = 0x0008;     // the CTS line changed
inline constexpr quint32 EV_DSR = 0x0010;     // the DSR line changed
inline constexpr quint32 EV_ERR = 0x0080;     // a framing, overrun, parity or break error
// Any input line (CTS, DSR, DCD, RI) changed: the owner's notice to refresh
// what shows the lines, outside the order of the events above.
inline constexpr quint32 EV_MODEMLINES = 0x10000;

// Line errors, as returned by TSerialDevice::ClearErrors().
inline constexpr quint32 CE_RXOVER = 0x0001;
inline constexpr quint32 CE_OVERRUN = 0x0002;
inline constexpr quint32 CE_RXPARITY = 0x0004;
inline constexpr quint32 CE_FRAME = 0x0008;
inline constexpr quint32 CE_BREAK = 0x0010;

// Read and write time-outs in milliseconds. A read returns when all bytes
// arrived, when more than ReadIntervalTimeout passes between two bytes (0:
// no interval limit), or when ReadTotalTimeoutMultiplier * count +
// ReadTotalTimeoutConstant passed (both 0: no total limit). An interval of
// MaxTimeout with both totals 0 returns at once with what is there. The
// write values limit a write the same way; both 0 let a write block until
// the kernel has taken every byte.
struct TCommTimeouts {
    static constexpr quint32 MaxTimeout = 0xFFFFFFFF;
    quint32 ReadIntervalTimeout = 0;
    quint32 ReadTotalTimeoutMultiplier = 0;
    quint32 ReadTotalTimeoutConstant = 0;
    quint32 WriteTotalTimeoutMultiplier = 0;
    quint32 WriteTotalTimeoutConstant = 0;
};

using TransportClock = std::chrono::steady_clock;
// When a step gives up; nothing: it waits as long as it takes.
using TTransportDeadline = std::optional<TransportClock::time_point>;

// When a write of Count bytes gives up under the write time-outs; nothing
// when they set no limit.
inline TTransportDeadline WriteDeadline(const TCommTimeouts& timeouts, int count) {
    if (timeouts.WriteTotalTimeoutMultiplier == 0 && timeouts.WriteTotalTimeoutConstant == 0)
        return std::nullopt;
    return TransportClock::now() +
           std::chrono::milliseconds(qint64(timeouts.WriteTotalTimeoutMultiplier) * count +
                                     timeouts.WriteTotalTimeoutConstant);
}

// What one read or write of a transport did: the bytes it moved, and
// whether it found the line gone (hung up, connection ended), after which
// the device takes nothing more until it is closed.
struct TTransferStep {
    int Bytes = 0;
    bool LineGone = false;
};
