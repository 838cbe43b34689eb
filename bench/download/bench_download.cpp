// Download speed through the dialog and its task: lines per second with no
// synchronisation and with a handshake per line, the share of a 115200 baud
// line a download keeps busy, and the memory a 100,000-line file takes.
#include "download/TQxLoadTask.h"
#include "download/TQxLoaderDlg.h"
#include "serial/TQxComPort.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2netServer.h"
#include "tests/support/TempAppDir.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int NoneLines = 20000;
constexpr int AckLines = 5000;
constexpr int MemoryLines = 100000;
constexpr double LineBytesPerSecond = 11520; // 115200 baud, 10 bits a byte
constexpr int PacedSeconds = 10;
constexpr int Rounds = 3;

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// An S-Record data line of 16 bytes, as boot loaders get them (44 bytes).
QByteArray Record(int index) {
    const QByteArray address = QByteArray::number(index * 16 % 0x10000, 16).rightJustified(4, '0');
    const QByteArray data = QByteArray::number(qulonglong(index) * 2654435761u, 16)
                                .rightJustified(16, '0')
                                .repeated(2)
                                .toUpper();
    return "S113" + address.toUpper() + data + "5A";
}

QByteArray RecordFile(int lines) {
    QByteArray content;
    content.reserve(qsizetype(lines) * 46);
    for (int i = 0; i < lines; ++i)
        content += Record(i) + "\r\n";
    return content;
}

// The target: reads the master side in its own thread, either as fast as it
// can, answering "*" after each line end when asked to, or at the pace of a
// serial line.
class TBenchTarget {
public:
    enum class TMode { Drain, Answer, Paced };

    TBenchTarget(int master, TMode mode) : FMaster(master), FMode(mode) {
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        FThread = std::thread([this] { FMode == TMode::Paced ? RunPaced() : RunFree(); });
    }
    ~TBenchTarget() {
        FStop = true;
        FThread.join();
    }
    // Call after the download: the bytes and when the last arrived.
    const QByteArray& Received() const { return FReceived; }
    qint64 BytesSoFar() const { return FCount.load(); }
    Clock::time_point LastByteAt() const { return FLastByte; }

private:
    void Note(const char* bytes, ssize_t n) {
        FReceived.append(bytes, n);
        FLastByte = Clock::now();
        FCount.store(FReceived.size());
    }

    void RunFree() {
        std::vector<char> buffer(65536);
        while (!FStop.load()) {
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(FMaster, buffer.data(), buffer.size());
            if (n <= 0)
                continue;
            Note(buffer.data(), n);
            if (FMode == TMode::Answer) {
                for (ssize_t i = 0; i < n; ++i) {
                    if (buffer[size_t(i)] == '\n') [[maybe_unused]]
                        const ssize_t w = ::write(FMaster, "*", 1);
                }
            }
        }
    }

    // A line that moves LineBytesPerSecond: every tick it may take the bytes
    // of one tick; what the sender did not offer in time is lost line time.
    void RunPaced() {
        constexpr auto Tick = std::chrono::milliseconds(2);
        const double perTick = LineBytesPerSecond * std::chrono::duration<double>(Tick).count();
        std::vector<char> buffer(4096);
        double credit = 0;
        Clock::time_point next = Clock::now();
        while (!FStop.load()) {
            next += Tick;
            std::this_thread::sleep_until(next);
            credit += perTick;
            const auto want = size_t(credit);
            ssize_t n = ::read(FMaster, buffer.data(), want);
            if (n < 0)
                n = 0;
            if (n > 0)
                Note(buffer.data(), n);
            credit -= double(want); // unused line time is gone
        }
    }

    const int FMaster;
    const TMode FMode;
    QByteArray FReceived;
    std::atomic<qint64> FCount{0};
    Clock::time_point FLastByte;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// Downloads File through the dialog; the time from the click until the
// dialog closed, or a negative value when it failed.
double Download(TQxComPort& port, const QString& file, int mode) {
    TTransferSync sync;
    sync.Mode = TSyncMode(mode);
    sync.Sequence = "#42";
    TQxLoaderDlg dialog;
    dialog.SetComPort(&port);
    dialog.SetSyncSettings(sync);
    dialog.show();
    dialog.HexFileEdit->setText(file);
    const Clock::time_point start = Clock::now();
    dialog.LoadBtn->click();
    while (dialog.isVisible())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double elapsed = Seconds(Clock::now() - start);
    return dialog.ProgressBar->value() == dialog.ProgressBar->maximum() ? elapsed : -1;
}

double LinesPerSecond(PtyPair& pty, TQxComPort& port, const QString& file, int lines, int mode,
                      TBenchTarget::TMode targetMode) {
    TBenchTarget target(pty.MasterFd(), targetMode);
    const double seconds = Download(port, file, mode);
    const qint64 expected = QFile(file).size();
    while (target.BytesSoFar() < expected)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return seconds > 0 ? lines / seconds : 0;
}

// Bytes carried over what the line could carry from the click to the last
// byte; 0 unless every line arrived intact and in order.
double LineEfficiency(PtyPair& pty, TQxComPort& port, const QString& file) {
    QFile source(file);
    source.open(QIODevice::ReadOnly);
    const QByteArray expected = source.readAll();
    TBenchTarget target(pty.MasterFd(), TBenchTarget::TMode::Paced);
    const Clock::time_point start = Clock::now();
    if (Download(port, file, 0) < 0)
        return 0;
    while (target.BytesSoFar() < expected.size() &&
           Clock::now() - start < std::chrono::seconds(PacedSeconds * 3))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const Clock::time_point last = target.LastByteAt();
    if (target.Received() != expected)
        return 0;
    return double(expected.size()) / (LineBytesPerSecond * Seconds(last - start));
}

qint64 StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::string(field).size()));
    }
    return -1;
}

// The peak memory that creating a download task for File adds (its lines
// held), in bytes; -1 when the peak cannot be reset.
qint64 LoadPeakBytes(TQxComPort& port, const QString& file) {
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
        if (!reset)
            return -1;
    }
    const qint64 before = StatusKilobytes("VmHWM:");
    auto* task = new TQxLoadTask(port, file);
    const qint64 peak = StatusKilobytes("VmHWM:");
    delete task; // never started
    return (peak - before) * 1024;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // A message box would wait for a click that never comes: record them.
    FakeInteraction interaction;
    TempAppDir appDir;
    PtyPair pty;
    if (!pty.IsValid()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    appDir.MapDevice(1, pty.SlavePath());
    TQxComPort port;
    port.OpenPort(true);

    appDir.WriteFile("memory.s19", RecordFile(MemoryLines));
    const QString memoryFile = appDir.Path() + "memory.s19";
    const qint64 peak = LoadPeakBytes(port, memoryFile);
    const double fileSize = double(QFile(memoryFile).size());

    appDir.WriteFile("none.s19", RecordFile(NoneLines));
    appDir.WriteFile("ack.s19", RecordFile(AckLines));
    const int pacedLines = int(LineBytesPerSecond * PacedSeconds / 46);
    appDir.WriteFile("paced.s19", RecordFile(pacedLines));

    std::vector<double> none;
    std::vector<double> ack;
    for (int round = 0; round < Rounds; ++round) {
        none.push_back(LinesPerSecond(pty, port, appDir.Path() + "none.s19", NoneLines, 0,
                                      TBenchTarget::TMode::Drain));
        ack.push_back(LinesPerSecond(pty, port, appDir.Path() + "ack.s19", AckLines, 2,
                                     TBenchTarget::TMode::Answer));
    }
    const double efficiency = LineEfficiency(pty, port, appDir.Path() + "paced.s19");
    port.ClosePort();

    // The same acknowledged download to a board behind ser2net on this
    // machine (RFC 2217 over loopback, onto the same pseudo-terminal).
    double rfc2217 = -1;
    Ser2netServer server(pty.SlavePath(), QStringLiteral("telnet(rfc2217),tcp"));
    if (!Ser2netServer::Installed()) {
        std::fprintf(stderr, "download_rfc2217_ack_lines_s: ser2net is not installed, skipped\n");
    } else if (server.Start()) {
        appDir.MapDevice(1, server.Url());
        port.SetRequests(0);
        if (port.OpenPort(true)) {
            std::vector<double> viaSer2net;
            for (int round = 0; round < Rounds; ++round)
                viaSer2net.push_back(LinesPerSecond(pty, port, appDir.Path() + "ack.s19",
                                                    AckLines, 2, TBenchTarget::TMode::Answer));
            rfc2217 = Median(viaSer2net);
        }
    }

    std::printf("download_none_lines_s: %.0f lines/s\n", Median(none));
    std::printf("download_ack_lines_s: %.0f lines/s\n", Median(ack));
    if (Ser2netServer::Installed())
        std::printf("download_rfc2217_ack_lines_s: %.0f lines/s\n", rfc2217);
    std::printf("download_115200_efficiency: %.4f ratio\n", efficiency);
    std::printf("download_100k_file_mb: %.2f MB\n", fileSize / 1e6);
    std::printf("download_100k_peak_rss_mb: %.2f MB\n", double(peak) / 1e6);
    std::printf("download_100k_memory_ratio: %.2f ratio\n",
                peak < 0 ? -1.0 : double(peak) / fileSize);
    port.ClosePort();
    server.Stop();
    for (const QString& warning : interaction.WarningTexts())
        std::fprintf(stderr, "warning shown: %s\n", qPrintable(warning));
    return interaction.WarningTexts().isEmpty() ? 0 : 1;
}
