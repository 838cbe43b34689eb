#include "tools/TargetSession.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr std::size_t ReadBlock = 65536;
// Echo output waiting beyond this stops the intake until the client reads.
constexpr std::size_t OutputHighWater = 256 * 1024;
constexpr std::size_t FloodQueueTarget = 64 * 1024;
constexpr auto FirstBackoff = std::chrono::milliseconds(5);
constexpr auto LongestBackoff = std::chrono::milliseconds(100);
constexpr auto FinishOutputLimit = std::chrono::seconds(10);
constexpr auto ClientReadLimit = std::chrono::seconds(3);
constexpr auto AnswerHoldTime = std::chrono::milliseconds(30);
// A terminal without a VT emulation never answers the question for its
// width; the console goes on with the default after this.
constexpr auto WidthAnswerWait = std::chrono::milliseconds(500);

std::size_t ChunkBytes(double bytesPerSecond, int chunkMs) {
    return std::max<std::size_t>(1, static_cast<std::size_t>(bytesPerSecond * chunkMs / 1000));
}

} // namespace

TargetSession::TargetSession(const TargetOptions& options)
    : FOptions(options), FBackoff(FirstBackoff) {}

TargetSession::~TargetSession() {
    if (FSignalFd >= 0)
        ::close(FSignalFd);
    if (!FOptions.LinkPath.empty())
        std::remove(FOptions.LinkPath.c_str());
}

bool TargetSession::SetUp(std::string& error) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    FSignalFd = ::signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (FSignalFd < 0) {
        error = std::string("cannot watch signals: ") + std::strerror(errno);
        return false;
    }
    if (!FPty.Open(error) || !LinkTerminal(error))
        return false;

    const auto now = Clock::now();
    FLastActivity = now;
    if (FOptions.Baud > 0) {
        const double bytesPerSecond = FOptions.Baud / 10.0;
        const std::size_t chunk = ChunkBytes(bytesPerSecond, FOptions.ChunkMs);
        FReadPacer.emplace(bytesPerSecond, chunk, now);
        FWritePacer.emplace(bytesPerSecond, chunk, now);
    }
    if (FOptions.Loader)
        FLoader.emplace(FOptions.LoaderAnswer, FOptions.DropLines);
    if (FOptions.Vt) {
        FShell.emplace();
        if (FLoader)
            FShell->OnLine = [this](const std::string& line) { return AnswerLine(line); };
    }
    if (FOptions.Flood) {
        FFlood.emplace(FOptions.FloodType, FOptions.FloodSeed);
        if (FOptions.FloodRate > 0)
            FFloodPacer.emplace(FOptions.FloodRate,
                                ChunkBytes(FOptions.FloodRate, FOptions.ChunkMs), now);
    }
    return true;
}

int TargetSession::Run() {
    std::string error;
    if (!SetUp(error)) {
        std::fprintf(stderr, "qx-target: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", FPty.SlavePath().c_str());
    std::fflush(stdout);

    while (FStop == StopReason::None)
        Step();
    if (FStop != StopReason::Signal)
        FinishOutput();
    PrintSummary();
    if (FLoader && FLoader->HasRecordErrors())
        return 3;
    return 0;
}

void TargetSession::Step() {
    if (UnplugDue(Clock::now())) {
        Unplug();
        return;
    }
    if (!FConnected) {
        if (!FPty.ClientPresent()) {
            WaitForClient();
            return;
        }
        OnClientConnected(Clock::now());
    }
    const auto now = Clock::now();
    RefillFlood(now);
    const bool inputWanted = InputWanted(now);
    short events = inputWanted ? POLLIN : 0;
    const std::size_t writable =
        FWritePacer ? std::min(PendingOutput(), FWritePacer->Available(now)) : PendingOutput();
    if (writable > 0)
        events |= POLLOUT;
    short revents = 0;
    if (!Poll(events, NextWakeUp(now, inputWanted), revents))
        return;
    const auto afterPoll = Clock::now();
    const bool hangUp = (revents & (POLLHUP | POLLERR)) != 0;
    if ((revents & POLLIN) || hangUp)
        ReadInput(afterPoll, hangUp);
    if (FConnected && (revents & POLLOUT))
        WriteOutput(afterPoll);
    if (FAnswerHeld && Clock::now() - FAnswerHeldSince >= AnswerHoldTime)
        ReleaseHeldAnswer();
    if (FWidthAskedAt && Clock::now() - *FWidthAskedAt >= WidthAnswerWait)
        SendFromShell(FShell->GiveUpWidthQuestion(), Clock::now());
    ReportFloodIfComplete();
    CheckIdle(Clock::now());
}

// Without a client the master reports a hang-up at once and all the time,
// so it is not polled; the wait grows up to LongestBackoff.
void TargetSession::WaitForClient() {
    short unused = 0;
    const auto now = Clock::now();
    Poll(-1, now + FBackoff, unused);
    FBackoff = std::min<Clock::duration>(FBackoff * 2, LongestBackoff);
    CheckIdle(Clock::now());
}

// The link is replaced in one step (a new link renamed over it), so a
// client never finds it half made.
bool TargetSession::LinkTerminal(std::string& error) {
    if (FOptions.LinkPath.empty())
        return true;
    const std::string fresh = FOptions.LinkPath + ".new";
    std::remove(fresh.c_str());
    if (::symlink(FPty.SlavePath().c_str(), fresh.c_str()) != 0 ||
        std::rename(fresh.c_str(), FOptions.LinkPath.c_str()) != 0) {
        error = "cannot link " + FOptions.LinkPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool TargetSession::UnplugDue(Clock::time_point now) const {
    return FOptions.UnplugEveryMs > 0 && FConnected &&
           now - FConnectedAt >= std::chrono::milliseconds(FOptions.UnplugEveryMs);
}

// Like an adapter pulled: the device node goes (link removed, master
// closed, the client hangs up), and after a while a new one appears.
void TargetSession::Unplug() {
    ++FUnplugs;
    std::remove(FOptions.LinkPath.c_str());
    OnClientGone();
    FPty.Close();
    short unused = 0;
    Poll(-1, Clock::now() + std::chrono::milliseconds(FOptions.UnplugForMs), unused);
    if (FStop != StopReason::None)
        return;
    std::string error;
    if (!FPty.Open(error) || !LinkTerminal(error)) {
        std::fprintf(stderr, "qx-target: %s\n", error.c_str());
        FStop = StopReason::Signal;
        return;
    }
    FLastActivity = Clock::now();
}

void TargetSession::OnClientConnected(Clock::time_point now) {
    FConnected = true;
    ++FConnections;
    FConnectedAt = now;
    FBackoff = FirstBackoff;
    if (FShell)
        SendFromShell(FShell->Start(), now);
}

// A device talking into a dead line loses what it says: the answers and
// echoes still waiting are dropped, and so is a partial line. A flood keeps
// its place and goes on when the next client comes.
void TargetSession::OnClientGone() {
    FConnected = false;
    FSplitter.Reset();
    FAnswerHeld = false;
    FWidthAskedAt.reset();
    if (!FFlood) {
        FOutput.clear();
        FOutputHead = 0;
    }
}

bool TargetSession::InputWanted(Clock::time_point now) {
    if (PendingOutput() >= OutputHighWater)
        return false;
    return !FReadPacer || FReadPacer->Available(now) > 0;
}

bool TargetSession::FloodSending() const {
    if (!FFlood || !FConnected)
        return false;
    if (FOptions.FloodOnInput && !FInputSeen)
        return false;
    if (FOptions.FloodBytes >= 0 &&
        static_cast<long long>(FFlood->Position()) >= FOptions.FloodBytes)
        return false;
    return Clock::now() - FConnectedAt >= std::chrono::milliseconds(FOptions.FloodDelayMs);
}

void TargetSession::RefillFlood(Clock::time_point now) {
    if (!FloodSending() || PendingOutput() >= FloodQueueTarget)
        return;
    std::size_t count = FloodQueueTarget - PendingOutput();
    if (FOptions.FloodBytes >= 0)
        count = std::min<std::size_t>(count, FOptions.FloodBytes - FFlood->Position());
    if (FFloodPacer)
        count = std::min(count, FFloodPacer->Available(now));
    if (count == 0)
        return;
    if (FOutputHead > 0) {
        FOutput.erase(0, FOutputHead);
        FOutputHead = 0;
    }
    const std::size_t start = FOutput.size();
    FOutput.resize(start + count);
    FFlood->Fill(FOutput.data() + start, count);
    if (FFloodPacer)
        FFloodPacer->Consume(count);
}

std::optional<TargetSession::Clock::time_point> TargetSession::NextWakeUp(Clock::time_point now,
                                                                          bool inputWanted) {
    std::optional<Clock::time_point> wakeUp;
    const auto consider = [&wakeUp](Clock::time_point at) {
        if (!wakeUp || at < *wakeUp)
            wakeUp = at;
    };
    if (!inputWanted && FReadPacer && PendingOutput() < OutputHighWater)
        consider(now + FReadPacer->WaitFor(FReadPacer->ChunkBytes(), now));
    if (PendingOutput() > 0 && FWritePacer && FWritePacer->Available(now) == 0)
        consider(now + FWritePacer->WaitFor(PendingOutput(), now));
    if (FFlood && FConnected && !(FOptions.FloodOnInput && !FInputSeen) &&
        PendingOutput() < FloodQueueTarget) {
        const auto floodStart = FConnectedAt + std::chrono::milliseconds(FOptions.FloodDelayMs);
        if (now < floodStart)
            consider(floodStart);
        else if (FloodSending() && FFloodPacer)
            consider(now + FFloodPacer->WaitFor(FFloodPacer->ChunkBytes(), now));
    }
    if (FAnswerHeld)
        consider(FAnswerHeldSince + AnswerHoldTime);
    if (FWidthAskedAt)
        consider(*FWidthAskedAt + WidthAnswerWait);
    if (FOptions.ExitAfterIdleMs > 0)
        consider(FLastActivity + std::chrono::milliseconds(FOptions.ExitAfterIdleMs));
    if (FOptions.UnplugEveryMs > 0 && FConnected)
        consider(FConnectedAt + std::chrono::milliseconds(FOptions.UnplugEveryMs));
    return wakeUp;
}

// Waits for Events on the master (none when Events is -1: signals only)
// until WakeUp; false when a stop signal came.
bool TargetSession::Poll(short events, std::optional<Clock::time_point> wakeUp, short& revents) {
    pollfd fds[2] = {{FSignalFd, POLLIN, 0}, {FPty.Fd(), events, 0}};
    const nfds_t count = events < 0 ? 1 : 2;
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wakeUp) {
        const auto left =
            std::max<Clock::duration>(*wakeUp - Clock::now(), Clock::duration::zero());
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
        timeout.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
        timeoutPointer = &timeout;
    }
    const int ready = ::ppoll(fds, count, timeoutPointer, nullptr);
    if (ready < 0 && errno != EINTR) {
        std::fprintf(stderr, "qx-target: poll failed: %s\n", std::strerror(errno));
        FStop = StopReason::Signal;
        return false;
    }
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        signalfd_siginfo info{};
        while (::read(FSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        FStop = StopReason::Signal;
        return false;
    }
    revents = count == 2 && ready > 0 ? fds[1].revents : 0;
    return true;
}

// Reads what the pacer allows; after a hang-up, what the client wrote
// before it closed is still taken, whatever the pace.
void TargetSession::ReadInput(Clock::time_point now, bool hangUp) {
    std::size_t allowed = ReadBlock;
    if (FReadPacer && !hangUp)
        allowed = std::min(allowed, FReadPacer->Available(now));
    if (allowed == 0)
        return;
    char buffer[ReadBlock];
    const ssize_t count = ::read(FPty.Fd(), buffer, allowed);
    if (count > 0) {
        if (FReadPacer)
            FReadPacer->Consume(std::min<std::size_t>(count, FReadPacer->Available(now)));
        FReceived += count;
        FLastActivity = now;
        HandleInput(buffer, static_cast<std::size_t>(count), now);
        return;
    }
    if (count == 0 || errno == EIO || hangUp)
        OnClientGone();
}

// With echo on, the answer to a line ended by CR waits for the LF that
// usually follows, so that the echoed line end comes before the answer (a
// terminal would otherwise show the answer over the start of the line).
void TargetSession::HandleInput(const char* bytes, std::size_t count, Clock::time_point now) {
    FInputSeen = true;
    if (FShell) {
        SendFromShell(FShell->Feed(bytes, count), now);
        return;
    }
    for (std::size_t i = 0; i < count && FStop == StopReason::None; ++i) {
        const char byte = bytes[i];
        const bool lfAfterHeldAnswer = FAnswerHeld && byte == '\n';
        if (FAnswerHeld && !lfAfterHeldAnswer)
            ReleaseHeldAnswer();
        if (FOptions.Echo)
            FOutput += byte;
        const bool lineEnded = FLoader && FSplitter.Push(byte);
        if (lfAfterHeldAnswer)
            ReleaseHeldAnswer();
        if (!lineEnded || !FLoader->HandleLine(FSplitter.Line()))
            continue;
        FStopAfterAnswer =
            FOptions.ExitAfterLines > 0 && FLoader->Stats().Lines >= FOptions.ExitAfterLines;
        if (FOptions.Echo && byte == '\r') {
            FAnswerHeld = true;
            FAnswerHeldSince = now;
        } else {
            ReleaseHeldAnswer();
        }
    }
}

void TargetSession::ReleaseHeldAnswer() {
    FAnswerHeld = false;
    FOutput += FLoader->Answer();
    if (FStopAfterAnswer)
        FStop = StopReason::Lines;
}

// The console's output; while it waits for the terminal's width the wait
// is timed from the question.
void TargetSession::SendFromShell(const std::string& bytes, Clock::time_point now) {
    FOutput += bytes;
    if (!FShell->AwaitingWidth())
        FWidthAskedAt.reset();
    else if (!FWidthAskedAt)
        FWidthAskedAt = now;
}

// A line entered on the console goes to the boot loader too; its answer
// follows the line's own output.
std::string TargetSession::AnswerLine(const std::string& line) {
    if (!FLoader->HandleLine(line))
        return {};
    if (FOptions.ExitAfterLines > 0 && FLoader->Stats().Lines >= FOptions.ExitAfterLines)
        FStop = StopReason::Lines;
    return FLoader->Answer();
}

void TargetSession::WriteOutput(Clock::time_point now) {
    std::size_t allowed = PendingOutput();
    if (FWritePacer)
        allowed = std::min(allowed, FWritePacer->Available(now));
    if (allowed == 0)
        return;
    const ssize_t count = ::write(FPty.Fd(), FOutput.data() + FOutputHead, allowed);
    if (count < 0) {
        if (errno == EIO)
            OnClientGone();
        return;
    }
    if (FWritePacer)
        FWritePacer->Consume(static_cast<std::size_t>(count));
    if (FFlood) {
        FFloodCrc.Update(FOutput.data() + FOutputHead, static_cast<std::size_t>(count));
        FFloodSent += count;
    }
    FSent += count;
    FLastActivity = now;
    FOutputHead += static_cast<std::size_t>(count);
    // Sent bytes are cut off once they make up most of the buffer, so that
    // it stays bounded while output never quite runs dry.
    if (FOutputHead == FOutput.size()) {
        FOutput.clear();
        FOutputHead = 0;
    } else if (FOutputHead >= ReadBlock && FOutputHead * 2 >= FOutput.size()) {
        FOutput.erase(0, FOutputHead);
        FOutputHead = 0;
    }
}

void TargetSession::CheckIdle(Clock::time_point now) {
    if (FStop == StopReason::None && FOptions.ExitAfterIdleMs > 0 &&
        now - FLastActivity >= std::chrono::milliseconds(FOptions.ExitAfterIdleMs))
        FStop = StopReason::Idle;
}

// Before the master closes, the output still queued is written (at the
// line's pace) and the client gets time to read it: closing the master
// discards whatever the client has not read.
void TargetSession::FinishOutput() {
    if (FAnswerHeld)
        ReleaseHeldAnswer();
    const auto deadline = Clock::now() + FinishOutputLimit;
    while (FConnected && PendingOutput() > 0 && Clock::now() < deadline) {
        const auto now = Clock::now();
        const bool paced = FWritePacer && FWritePacer->Available(now) == 0;
        short revents = 0;
        const auto wakeUp = paced ? now + FWritePacer->WaitFor(PendingOutput(), now) : deadline;
        if (!Poll(paced ? 0 : POLLOUT, wakeUp, revents))
            return;
        if (revents & (POLLHUP | POLLERR))
            OnClientGone();
        else if (revents & POLLOUT)
            WriteOutput(Clock::now());
    }
    ReportFloodIfComplete();
    if (FConnected && FSent > 0)
        WaitUntilClientRead(Clock::now() + ClientReadLimit);
}

void TargetSession::WaitUntilClientRead(Clock::time_point deadline) {
    int quietChecks = 0;
    short unused = 0;
    while (Clock::now() < deadline && FPty.ClientPresent()) {
        const int unread = FPty.UnreadByClient();
        if (unread == 0 && ++quietChecks >= 2)
            return;
        if (unread != 0)
            quietChecks = 0;
        if (unread < 0) {
            // Nothing to measure: give the client a moment and stop.
            Poll(-1, Clock::now() + std::chrono::milliseconds(250), unused);
            return;
        }
        if (!Poll(-1, Clock::now() + std::chrono::milliseconds(10), unused))
            return;
    }
}

void TargetSession::ReportFloodIfComplete() {
    if (!FFlood || FFloodReported || FOptions.FloodBytes < 0 || FFloodSent < FOptions.FloodBytes)
        return;
    std::printf("flood_bytes: %lld\nflood_crc32: 0x%08x\n", FFloodSent, FFloodCrc.Value());
    std::fflush(stdout);
    FFloodReported = true;
}

void TargetSession::PrintSummary() {
    std::printf("received_bytes: %lld\nsent_bytes: %lld\nconnections: %lld\n", FReceived, FSent,
                FConnections);
    if (FOptions.UnplugEveryMs > 0)
        std::printf("unplugs: %lld\n", FUnplugs);
    if (FLoader) {
        const BootLoaderStats& s = FLoader->Stats();
        std::printf("lines: %lld\nanswered: %lld\ndropped: %lld\nrepeats: %lld\n"
                    "records: %lld\ndata_bytes: %lld\nchecksum_errors: %lld\n"
                    "malformed_records: %lld\n",
                    s.Lines, s.Answered, s.Dropped, s.Repeats, s.Records, s.DataBytes,
                    s.ChecksumErrors, s.MalformedRecords);
    }
    if (FFlood && !FFloodReported)
        std::printf("flood_bytes: %lld\nflood_crc32: 0x%08x\n", FFloodSent, FFloodCrc.Value());
    std::fflush(stdout);
}
