#pragma once

#include <set>
#include <string>

struct BootLoaderStats {
    long long Lines = 0; // distinct lines (a repeat counts once)
    long long Answered = 0;
    long long Dropped = 0;
    long long Repeats = 0;
    long long Records = 0; // Intel Hex and S-Record lines, whatever their state
    long long DataBytes = 0;
    long long ChecksumErrors = 0;
    long long MalformedRecords = 0;
};

// The line logic of a simulated boot loader: checks each received line as a
// record, counts it, and says whether it is answered. Lines named in
// DropLines (1-based) are left unanswered the first time. A line equal to
// the one before it, when that one went unanswered, is taken as the
// sender's repeat of it: it is answered and counted once.
class BootLoader {
public:
    BootLoader(std::string answer, std::set<long long> dropLines);

    // Handles one line (without its line end); true when the answer is to
    // be sent.
    bool HandleLine(const std::string& line);

    const std::string& Answer() const { return FAnswer; }
    const BootLoaderStats& Stats() const { return FStats; }
    bool HasRecordErrors() const { return FStats.ChecksumErrors + FStats.MalformedRecords > 0; }

private:
    void CountRecord(const std::string& line);

    std::string FAnswer;
    std::set<long long> FDropLines;
    BootLoaderStats FStats;
    bool FLastUnanswered = false;
    std::string FLastLine;
};
