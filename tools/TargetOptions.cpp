#include "tools/TargetOptions.h"

#include "platform/MacroText.h"

#include <charconv>
#include <limits>
#include <optional>

namespace {

constexpr long long MaxSampleRecords = 1000000;

std::optional<long long> ParseNumber(const std::string& text, long long min, long long max) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < min || value > max)
        return std::nullopt;
    return value;
}

class ArgumentReader {
public:
    ArgumentReader(const std::vector<std::string>& args, std::string& error)
        : FArgs(args), FError(error) {}

    bool AtEnd() const { return FIndex >= FArgs.size(); }
    const std::string& Next() { return FArgs[FIndex++]; }

    bool Value(const std::string& option, std::string& value) {
        if (AtEnd()) {
            FError = option + " needs a value";
            return false;
        }
        value = Next();
        return true;
    }

    template <typename T>
    bool Number(const std::string& option, T& target, long long min, long long max) {
        std::string text;
        if (!Value(option, text))
            return false;
        const auto value = ParseNumber(text, min, max);
        if (!value) {
            FError = option + ": '" + text + "' is not a number from " + std::to_string(min) +
                     " to " + std::to_string(max);
            return false;
        }
        target = static_cast<T>(*value);
        return true;
    }

private:
    const std::vector<std::string>& FArgs;
    std::string& FError;
    std::size_t FIndex = 0;
};

bool ParseFloodKind(const std::string& text, FloodKind& kind, std::string& error) {
    if (text == "text")
        kind = FloodKind::Text;
    else if (text == "binary")
        kind = FloodKind::Binary;
    else if (text == "colour")
        kind = FloodKind::Colour;
    else {
        error = "--flood: '" + text + "' is none of text, colour and binary";
        return false;
    }
    return true;
}

bool ParseRate(ArgumentReader& reader, TargetOptions& options, std::string& error) {
    std::string text;
    if (!reader.Value("--rate", text))
        return false;
    if (text == "max") {
        options.FloodRate = 0;
        return true;
    }
    const auto value = ParseNumber(text, 1, 1LL << 40);
    if (!value) {
        error = "--rate: '" + text + "' is neither a positive number of bytes per second nor max";
        return false;
    }
    options.FloodRate = static_cast<double>(*value);
    return true;
}

bool ParseMake(ArgumentReader& reader, const std::string& option, TargetOptions& options) {
    options.Action =
        option == "--make-srec" ? TargetAction::MakeSRecord : TargetAction::MakeIntelHex;
    return reader.Number(option, options.MakeRecords, 0, MaxSampleRecords) &&
           reader.Value(option, options.MakePath);
}

bool ParseOne(ArgumentReader& reader, const std::string& option, TargetOptions& options,
              std::string& error) {
    constexpr long long IntMax = std::numeric_limits<int>::max();
    constexpr long long Huge = std::numeric_limits<long long>::max();
    if (option == "--help" || option == "-h") {
        options.Action = TargetAction::Help;
        return true;
    }
    if (option == "--echo") {
        options.Echo = true;
        return true;
    }
    if (option == "--vt") {
        options.Vt = true;
        return true;
    }
    if (option == "--loader") {
        std::string sequence;
        if (!reader.Value(option, sequence))
            return false;
        options.Loader = true;
        options.LoaderAnswer = DecodeMacro(QByteArray::fromStdString(sequence)).toStdString();
        return true;
    }
    if (option == "--drop") {
        long long line = 0;
        if (!reader.Number(option, line, 1, Huge))
            return false;
        options.DropLines.insert(line);
        return true;
    }
    if (option == "--flood") {
        std::string kind;
        options.Flood = true;
        return reader.Value(option, kind) && ParseFloodKind(kind, options.FloodType, error);
    }
    if (option == "--rate")
        return ParseRate(reader, options, error);
    if (option == "--bytes")
        return reader.Number(option, options.FloodBytes, 0, Huge);
    if (option == "--seed")
        return reader.Number(option, options.FloodSeed, 0, Huge);
    if (option == "--flood-delay")
        return reader.Number(option, options.FloodDelayMs, 0, IntMax);
    if (option == "--flood-on-input") {
        options.FloodOnInput = true;
        return true;
    }
    if (option == "--baud")
        return reader.Number(option, options.Baud, 50, 100000000);
    if (option == "--chunk-ms")
        return reader.Number(option, options.ChunkMs, 1, 1000);
    if (option == "--link")
        return reader.Value(option, options.LinkPath);
    if (option == "--unplug-every")
        return reader.Number(option, options.UnplugEveryMs, 1, IntMax);
    if (option == "--unplug-for")
        return reader.Number(option, options.UnplugForMs, 1, IntMax);
    if (option == "--exit-after-idle")
        return reader.Number(option, options.ExitAfterIdleMs, 1, IntMax);
    if (option == "--lines")
        return reader.Number(option, options.ExitAfterLines, 1, Huge);
    if (option == "--make-srec" || option == "--make-ihex")
        return ParseMake(reader, option, options);
    error = "unknown option '" + option + "'";
    return false;
}

bool CheckCombination(const TargetOptions& options, std::string& error) {
    if (options.Action != TargetAction::Serve)
        return true;
    if (!options.Echo && !options.Loader && !options.Flood && !options.Vt) {
        error = "choose at least one of --echo, --loader SEQ, --vt and --flood KIND";
        return false;
    }
    if (options.Vt && (options.Echo || options.Flood)) {
        error = "--vt cannot be combined with --echo or --flood (its line editor echoes)";
        return false;
    }
    if (options.Flood && (options.Echo || options.Loader)) {
        error = "--flood cannot be combined with --echo or --loader";
        return false;
    }
    const bool floodDetail = options.FloodRate > 0 || options.FloodBytes >= 0 ||
                             options.FloodSeed != 1 || options.FloodDelayMs > 0 ||
                             options.FloodOnInput;
    if (floodDetail && !options.Flood) {
        error = "--rate, --bytes, --seed, --flood-delay and --flood-on-input need --flood";
        return false;
    }
    if (options.UnplugEveryMs > 0 && options.LinkPath.empty()) {
        error = "--unplug-every needs --link PATH (the link is what comes back)";
        return false;
    }
    if ((!options.DropLines.empty() || options.ExitAfterLines > 0) && !options.Loader) {
        error = "--drop and --lines need --loader";
        return false;
    }
    return true;
}

} // namespace

bool ParseTargetOptions(const std::vector<std::string>& args, TargetOptions& options,
                        std::string& error) {
    options = TargetOptions{};
    ArgumentReader reader(args, error);
    while (!reader.AtEnd()) {
        const std::string option = reader.Next();
        if (!ParseOne(reader, option, options, error))
            return false;
        if (options.Action == TargetAction::Help)
            return true;
    }
    return CheckCombination(options, error);
}

const char* TargetUsageText() {
    return R"(Usage: qx-target MODE... [OPTION...]
       qx-target --make-srec N FILE | --make-ihex N FILE

Plays a target device on a pseudo-terminal. The first line printed is the
path of the terminal's slave side (e.g. /dev/pts/7); open it like a serial
port. A summary of "name: value" lines follows when the target stops.

Modes (--echo or --vt combine with --loader; --flood stands alone):
  --echo                 send back every byte that arrives
  --vt                   a board's console on a VT terminal: when a client
                         opens the terminal, print a coloured boot log (UTF-8
                         text among it), ask the terminal for its width
                         (cursor far right, then ESC [ 6 n; 80 columns when
                         no answer comes within 500 ms) and offer a line
                         editor: Left/Right, Home/End, Backspace/Delete,
                         Up/Down for the history, Ctrl+A/E/U/K/L/C; the
                         command 'help' lists the commands; with --loader
                         every entered line goes to the loader as well
  --loader SEQ           act as a boot loader: after each received line
                         (ending in CR LF, CR or LF) send SEQ, given in macro
                         text form ("#" and up to three digits is one byte:
                         '#42' is "*"); check Intel Hex and S-Record lines;
                         with --echo, the answer to a line ended by CR
                         follows the LF after it (if one comes within 30 ms)
  --drop N               (with --loader, repeatable) leave line N (from 1)
                         unanswered the first time; a line equal to it that
                         follows at once is taken as the sender's repeat,
                         answered, and counted once
  --flood text|colour|binary
                         send a deterministic stream once a client has
                         opened the terminal: text lines of 70 printable
                         characters and CR LF (starting with an 8-digit line
                         number), the same as a colour log of 80-byte lines
                         (SGR colour, 67 characters, SGR 0, CR LF), or
                         pseudo-random bytes
  --rate BYTES_PER_S|max (with --flood) speed of the stream; default max
  --bytes N              (with --flood) length of the stream; default: until
                         stopped
  --seed N               (with --flood binary) start of the byte sequence;
                         default 1
  --flood-delay MS       (with --flood) wait MS after a client opened the
                         terminal before sending
  --flood-on-input       (with --flood) start when the first byte arrives

Line pacing:
  --baud RATE            move bytes no faster than a line of RATE baud with
                         10 bits per byte (8N1) would, in both directions;
                         input waits in the terminal meanwhile
  --chunk-ms MS          paced bytes move in chunks of at most MS of line
                         time; default 5

Unplugging (as a USB adapter pulled and plugged in again):
  --link PATH            keep a symbolic link PATH pointing at the terminal
                         (like /dev/serial/by-id/...); removed at the end
  --unplug-every MS      (with --link) MS after a client opened the terminal,
                         drop the line: remove the link and close the
                         terminal (the client sees a hang-up), then after
                         --unplug-for MS (default 3000) open a new terminal
                         and point the link at it; again and again

Ending:
  --exit-after-idle MS   stop when no byte moved for MS (counted from start)
  --lines N              (with --loader) stop after the answer to line N
  SIGINT, SIGTERM, SIGHUP stop at once; the summary is printed in every case

Sample files (no terminal is opened):
  --make-srec N FILE     write an S-Record file: S0 header, N data records of
                         16 bytes from address 0, end record (S1/S9 up to
                         64 KiB, S2/S8 up to 16 MiB, S3/S7 beyond)
  --make-ihex N FILE     write an Intel Hex file: N data records of 16 bytes,
                         type 04 records at 64 KiB steps, end-of-file record
  Both print lines:, records: and data_bytes:.

Summary lines: received_bytes, sent_bytes, connections; with --loader also
lines, answered, dropped, repeats, records, data_bytes, checksum_errors,
malformed_records; with --flood flood_bytes and flood_crc32 (CRC-32 as in
zlib of the bytes sent), printed as soon as the stream is complete (or
with the summary if it was cut short).

Exit status: 0 ok; 1 runtime failure (no pseudo-terminal, file not
written); 2 usage error; 3 the loader saw records with a bad checksum or a
malformed record.
)";
}
