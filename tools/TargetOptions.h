#pragma once

#include "tools/FloodStream.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

enum class TargetAction { Serve, Help, MakeSRecord, MakeIntelHex };

// What the command line of qx-target asks for.
struct TargetOptions {
    TargetAction Action = TargetAction::Serve;

    bool Echo = false;
    bool Vt = false; // boot log and line editor for a VT terminal

    bool Loader = false;
    std::string LoaderAnswer; // decoded bytes
    std::set<long long> DropLines;

    bool Flood = false;
    FloodKind FloodType = FloodKind::Text;
    double FloodRate = 0;      // bytes per second, 0 = as fast as possible
    long long FloodBytes = -1; // -1 = until stopped
    std::uint64_t FloodSeed = 1;
    int FloodDelayMs = 0;
    bool FloodOnInput = false;

    long Baud = 0; // 0 = no pacing
    int ChunkMs = 5;

    std::string LinkPath;  // a symbolic link kept pointing at the terminal
    int UnplugEveryMs = 0; // 0 = never
    int UnplugForMs = 3000;

    int ExitAfterIdleMs = 0;      // 0 = never
    long long ExitAfterLines = 0; // 0 = never

    long long MakeRecords = 0;
    std::string MakePath;
};

// Parses the arguments (without the program name). False with a message in
// Error when they are not usable.
bool ParseTargetOptions(const std::vector<std::string>& args, TargetOptions& options,
                        std::string& error);

// The text that --help prints.
const char* TargetUsageText();
