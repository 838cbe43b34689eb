// Receive throughput of the serial port (bytes announced by OnReceive and
// read by the handler) against a plain read loop on the same pty, and the
// time from a target's answer to WaitForSequence() seeing it.
#include "serial/TQxComPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr qint64 StreamBytes = 32 * 1024 * 1024;
// Rounds alternate both readers; medians damp a noisy machine.
constexpr int Rounds = 5;
constexpr int LatencySamples = 300;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double MegabytesPerSecond(qint64 bytes, Clock::duration duration) {
    return double(bytes) / 1e6 / Seconds(duration);
}

// The target: pours Bytes into the master side as fast as the pty takes them.
std::thread StartStream(int master, qint64 bytes) {
    return std::thread([master, bytes] {
        std::vector<char> block(65536, 'x');
        qint64 sent = 0;
        while (sent < bytes) {
            const ssize_t n =
                ::write(master, block.data(), size_t(std::min<qint64>(block.size(), bytes - sent)));
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EINTR)
                break;
        }
    });
}

double RawPtyRate(PtyPair& pty) {
    const int fd = ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDONLY | O_NOCTTY);
    std::vector<char> buffer(65536);
    const Clock::time_point start = Clock::now();
    std::thread target = StartStream(pty.MasterFd(), StreamBytes);
    qint64 received = 0;
    while (received < StreamBytes) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        received += n;
    }
    const Clock::duration elapsed = Clock::now() - start;
    target.join();
    ::close(fd);
    return MegabytesPerSecond(received, elapsed);
}

double SerialPortRate(PtyPair& pty) {
    TQxComPort port;
    std::vector<char> buffer(65536);
    qint64 received = 0;
    QEventLoop loop;
    port.OnReceive = [&](quint16 count) {
        received += port.ReadBuffer(buffer.data(), count);
        if (received >= StreamBytes)
            loop.quit();
    };
    if (!port.OpenPort(true))
        return 0;
    const Clock::time_point start = Clock::now();
    std::thread target = StartStream(pty.MasterFd(), StreamBytes);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    const Clock::duration elapsed = Clock::now() - start;
    target.join();
    port.ClosePort();
    return MegabytesPerSecond(received, elapsed);
}

// The target answers "OK" to every "?" and notes when it wrote the answer.
double MedianWaitLatencyMs(PtyPair& pty) {
    TQxComPort port;
    if (!port.OpenPort(true))
        return -1;
    std::atomic<bool> stop{false};
    std::atomic<qint64> answeredAt{0};
    std::thread target([&] {
        char request = 0;
        while (!stop.load()) {
            pollfd p{pty.MasterFd(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            if (::read(pty.MasterFd(), &request, 1) != 1)
                break;
            answeredAt.store(Clock::now().time_since_epoch().count());
            [[maybe_unused]] const ssize_t n = ::write(pty.MasterFd(), "OK", 2);
        }
    });
    std::vector<double> samples;
    for (int i = 0; i < LatencySamples; ++i) {
        port.WriteString("?");
        if (!port.WaitForSequence("OK", 1000))
            continue;
        const Clock::time_point done = Clock::now();
        const Clock::time_point answered{Clock::duration(answeredAt.load())};
        samples.push_back(std::chrono::duration<double, std::milli>(done - answered).count());
    }
    stop.store(true);
    target.join();
    port.ClosePort();
    return samples.empty() ? -1 : Median(samples);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    TempAppDir appDir;
    PtyPair pty;
    if (!pty.IsValid()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    appDir.MapDevice(1, pty.SlavePath());

    std::vector<double> raw;
    std::vector<double> serial;
    std::vector<double> ratio;
    for (int round = 0; round < Rounds; ++round) {
        raw.push_back(RawPtyRate(pty));
        serial.push_back(SerialPortRate(pty));
        ratio.push_back(raw.back() > 0 ? serial.back() / raw.back() : 0.0);
    }
    std::printf("serial_rx_mb_s: %.1f MB/s\n", Median(serial));
    std::printf("raw_pty_rx_mb_s: %.1f MB/s\n", Median(raw));
    std::printf("serial_rx_ratio: %.2f ratio\n", Median(ratio));
    std::printf("wait_sequence_latency_ms: %.3f ms\n", MedianWaitLatencyMs(pty));
    return 0;
}
