// qx-target: a simulated serial device on a pseudo-terminal, for trying
// and testing the terminal without hardware. See --help.

#include "tools/RecordFileMaker.h"
#include "tools/TargetOptions.h"
#include "tools/TargetSession.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int MakeSampleFile(const TargetOptions& options) {
    RecordFileSummary summary;
    const std::string text = options.Action == TargetAction::MakeSRecord
                                 ? MakeSRecordText(options.MakeRecords, &summary)
                                 : MakeIntelHexText(options.MakeRecords, &summary);
    std::string error;
    if (!WriteTextFile(options.MakePath, text, error)) {
        std::fprintf(stderr, "qx-target: cannot write %s: %s\n", options.MakePath.c_str(),
                     error.c_str());
        return 1;
    }
    std::printf("lines: %lld\nrecords: %lld\ndata_bytes: %lld\n", summary.Lines, summary.Records,
                summary.DataBytes);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    TargetOptions options;
    std::string error;
    if (!ParseTargetOptions(args, options, error)) {
        std::fprintf(stderr, "qx-target: %s\nTry 'qx-target --help'.\n", error.c_str());
        return 2;
    }
    switch (options.Action) {
    case TargetAction::Help:
        std::fputs(TargetUsageText(), stdout);
        return 0;
    case TargetAction::MakeSRecord:
    case TargetAction::MakeIntelHex:
        return MakeSampleFile(options);
    case TargetAction::Serve:
        break;
    }
    return TargetSession(options).Run();
}
