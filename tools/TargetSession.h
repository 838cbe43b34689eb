#pragma once

#include "tools/BootLoader.h"
#include "tools/Crc32.h"
#include "tools/FloodStream.h"
#include "tools/LineSplitter.h"
#include "tools/PtyMaster.h"
#include "tools/RatePacer.h"
#include "tools/TargetOptions.h"
#include "tools/VtShell.h"

#include <chrono>
#include <optional>
#include <poll.h>
#include <string>

// Runs the simulated device on a pseudo-terminal until a signal, an idle
// time or a line count ends it, then prints the summary on stdout.
class TargetSession {
public:
    explicit TargetSession(const TargetOptions& options);
    ~TargetSession();
    TargetSession(const TargetSession&) = delete;
    TargetSession& operator=(const TargetSession&) = delete;
    // Returns the exit status.
    int Run();

private:
    using Clock = std::chrono::steady_clock;
    enum class StopReason { None, Signal, Idle, Lines };

    bool SetUp(std::string& error);
    void Step();
    void WaitForClient();
    bool LinkTerminal(std::string& error);
    bool UnplugDue(Clock::time_point now) const;
    void Unplug();
    void OnClientConnected(Clock::time_point now);
    void OnClientGone();
    bool InputWanted(Clock::time_point now);
    void RefillFlood(Clock::time_point now);
    std::optional<Clock::time_point> NextWakeUp(Clock::time_point now, bool inputWanted);
    bool Poll(short events, std::optional<Clock::time_point> wakeUp, short& revents);
    void ReadInput(Clock::time_point now, bool hangUp);
    void HandleInput(const char* bytes, std::size_t count, Clock::time_point now);
    void ReleaseHeldAnswer();
    void SendFromShell(const std::string& bytes, Clock::time_point now);
    std::string AnswerLine(const std::string& line);
    void WriteOutput(Clock::time_point now);
    void CheckIdle(Clock::time_point now);
    void FinishOutput();
    void WaitUntilClientRead(Clock::time_point deadline);
    void ReportFloodIfComplete();
    void PrintSummary();
    std::size_t PendingOutput() const { return FOutput.size() - FOutputHead; }
    bool FloodSending() const;

    TargetOptions FOptions;
    PtyMaster FPty;
    int FSignalFd = -1;
    StopReason FStop = StopReason::None;

    bool FConnected = false;
    long long FConnections = 0;
    long long FUnplugs = 0;
    Clock::duration FBackoff;
    Clock::time_point FConnectedAt;
    Clock::time_point FLastActivity;

    std::optional<RatePacer> FReadPacer;
    std::optional<RatePacer> FWritePacer;
    std::optional<RatePacer> FFloodPacer;

    std::string FOutput;
    std::size_t FOutputHead = 0;
    long long FReceived = 0;
    long long FSent = 0;

    std::optional<BootLoader> FLoader;
    LineSplitter FSplitter;
    bool FAnswerHeld = false;
    Clock::time_point FAnswerHeldSince;
    bool FStopAfterAnswer = false;

    std::optional<VtShell> FShell;
    std::optional<Clock::time_point> FWidthAskedAt;

    std::optional<FloodStream> FFlood;
    bool FInputSeen = false;
    Crc32 FFloodCrc;
    long long FFloodSent = 0;
    bool FFloodReported = false;
};
