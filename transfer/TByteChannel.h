#pragma once

#include <QString>
#include <QtGlobal>

// The line a file transfer talks over: reads and writes with deadlines, so
// that every wait of a protocol ends. The program's implementation sits on
// the serial port (TPortChannel), tests and tools use a plain descriptor
// (TFdChannel). Both calls belong to the transfer's own thread.
class TByteChannel {
public:
    virtual ~TByteChannel() = default;

    enum class TStatus { Ok, TimedOut, Lost };

    // Reads what has arrived, at most Count bytes, waiting up to TimeoutMs
    // for the first one; Got says how many came (0 when TimedOut).
    virtual TStatus Read(char* buffer, qsizetype count, qsizetype& got, int timeoutMs) = 0;
    // Writes every byte; TimedOut when the line took not all of them within
    // TimeoutMs (flow control holding it, a receiver that reads nothing).
    virtual TStatus Write(const char* data, qsizetype count, int timeoutMs) = 0;
    // Why the line was lost, in the system's words, after a Lost.
    virtual QString LostReason() const = 0;
};
