#include "tools/BootLoader.h"

#include "tools/RecordCheck.h"

#include <utility>

BootLoader::BootLoader(std::string answer, std::set<long long> dropLines)
    : FAnswer(std::move(answer)), FDropLines(std::move(dropLines)) {}

bool BootLoader::HandleLine(const std::string& line) {
    if (FLastUnanswered && line == FLastLine) {
        FLastUnanswered = false;
        ++FStats.Repeats;
        ++FStats.Answered;
        return true;
    }
    ++FStats.Lines;
    CountRecord(line);
    if (FDropLines.count(FStats.Lines) != 0) {
        ++FStats.Dropped;
        FLastUnanswered = true;
        FLastLine = line;
        return false;
    }
    FLastUnanswered = false;
    ++FStats.Answered;
    return true;
}

void BootLoader::CountRecord(const std::string& line) {
    const RecordCheck check = CheckRecordLine(line);
    if (check.Format == RecordFormat::PlainText)
        return;
    ++FStats.Records;
    switch (check.Status) {
    case RecordStatus::Valid:
        FStats.DataBytes += check.DataBytes;
        break;
    case RecordStatus::BadChecksum:
        ++FStats.ChecksumErrors;
        break;
    case RecordStatus::Malformed:
        ++FStats.MalformedRecords;
        break;
    }
}
