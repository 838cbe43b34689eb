#include "tools/VtShell.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr char32_t Replacement = 0xFFFD;
constexpr const char* PromptText = "\x1b[1;32mqx>\x1b[0m ";
constexpr int PromptCells = 4;
constexpr int MinColumns = 20;
constexpr int MaxColumns = 1000;

// Moves the cursor far right and asks where it ended up: the column of the
// answer is the width.
constexpr const char* WidthQuestion = "\r\x1b[999C\x1b[6n";

// A boot log as small boards print it: level letter, milliseconds since
// reset, component, message, each line in the colour of its level.
constexpr const char* BootLog =
    "\x1b[0;32mI (29) boot: qx-target VT console, second stage loader\x1b[0m\r\n"
    "\x1b[0;32mI (31) boot: chip revision 3, 2 cores, 240 MHz\x1b[0m\r\n"
    "\x1b[0;32mI (48) boot.flash: 4 MB, quad I/O, 80 MHz\x1b[0m\r\n"
    "\x1b[0;33mW (112) clock: no 32 kHz crystal found, using the internal RC\x1b[0m\r\n"
    "\x1b[0;32mI (268) wifi: connected, channel 6, rssi -54 dBm\x1b[0m\r\n"
    "\x1b[0;32mI (312) sensor: temperature 25.4 \u00b0C, humidity 41 %\x1b[0m\r\n"
    "\x1b[0;31mE (405) spi: flash id mismatch, retrying\x1b[0m\r\n"
    "\x1b[0;32mI (520) display: \u4f60\u597d\uff0c\u4e16\u754c \u00b7 "
    "\u3053\u3093\u306b\u3061\u306f\x1b[0m\r\n"
    "\x1b[2mD (611) heap: 243 kB free, largest block 110 kB\x1b[0m\r\n"
    "\x1b[1mI (650) main: \x1b[4mready\x1b[24m, type \x1b[7m help \x1b[27m for the "
    "commands\x1b[0m\r\n";

constexpr const char* HelpText =
    "help     this list\r\n"
    "version  the firmware's version\r\n"
    "colors   the colour palette (16, 256 and 24-bit)\r\n"
    "size     ask the terminal for its width again\r\n"
    "boot     print the boot log again\r\n"
    "clear    clear the screen\r\n"
    "keys: Left/Right, Home/End, Backspace/Delete, Up/Down (history),\r\n"
    "      Ctrl+A/E/U/K/L/C\r\n";

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
           (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

int Cells(const std::u32string& text, std::size_t from, std::size_t to) {
    int cells = 0;
    for (std::size_t i = from; i < to; ++i)
        cells += CellWidth(text[i]);
    return cells;
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The palette in strips that fit the terminal's width.
std::string ColourTable(int columns) {
    const int strip = std::max(8, columns - 14);
    std::string out = "16 colours:   ";
    for (int i = 0; i < 16; ++i)
        out += "\x1b[" + std::to_string(i < 8 ? 40 + i : 100 + i - 8) + "m" +
               (strip >= 48 ? "   " : " ");
    out += "\x1b[0m\r\n256 colours:  ";
    for (int i = 0; i < strip; ++i)
        out += "\x1b[48;5;" + std::to_string(16 + i * 216 / strip) + "m ";
    out += "\x1b[0m\r\n24-bit:       ";
    for (int i = 0; i < strip; ++i) {
        const int level = i * 255 / std::max(1, strip - 1);
        out += "\x1b[48;2;" + std::to_string(level) + ";" + std::to_string(255 - level) + ";128m ";
    }
    out += "\x1b[0m\r\nstyles:       \x1b[1mbold\x1b[0m \x1b[2mdim\x1b[0m \x1b[3mitalic\x1b[0m "
           "\x1b[4munderline\x1b[0m \x1b[7mreverse\x1b[0m \x1b[9mstrike\x1b[0m\r\n";
    return out;
}

} // namespace

int CellWidth(char32_t character) {
    if (character >= 0x0300 && character <= 0x036F)
        return 0;
    return IsWide(character) ? 2 : 1;
}

std::string Utf8(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text)
        AppendUtf8(c, out);
    return out;
}

std::string VtShell::Start() {
    FLine.clear();
    FCursor = 0;
    FHistoryIndex = FHistory.size();
    FState = InputState::Text;
    FUtf8Left = 0;
    FAfterCr = false;
    FStarted = false;
    FWidthKnown = false;
    FAwaitingWidth = true;
    return std::string("\x1b[0m\r\n") + BootLog + WidthQuestion;
}

std::string VtShell::GiveUpWidthQuestion() {
    std::string out;
    if (!FAwaitingWidth)
        return out;
    FAwaitingWidth = false;
    out += "\r\x1b[K";
    Prompt(out);
    return out;
}

std::string VtShell::Line() const {
    return Utf8(FLine);
}

std::string VtShell::Feed(const char* bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        TakeByte(static_cast<unsigned char>(bytes[i]), out);
    return out;
}

void VtShell::TakeByte(unsigned char byte, std::string& out) {
    switch (FState) {
    case InputState::Text:
        TakeText(byte, out);
        return;
    case InputState::Escape:
        // ESC [ and ESC O start the keys' sequences; ESC with anything else
        // (Alt+key) is dropped.
        FState = byte == '[' ? InputState::Csi : byte == 'O' ? InputState::Ss3 : InputState::Text;
        FParams.clear();
        return;
    case InputState::Ss3:
        FState = InputState::Text;
        TakeCursorKey(static_cast<char>(byte), out);
        return;
    case InputState::Csi:
        if (byte >= 0x40 && byte <= 0x7E) {
            FState = InputState::Text;
            TakeCsi(static_cast<char>(byte), out);
        } else if (byte < 0x20 || FParams.size() >= 32) {
            FState = InputState::Text;
        } else {
            FParams += static_cast<char>(byte);
        }
        return;
    }
}

void VtShell::TakeText(unsigned char byte, std::string& out) {
    if (FUtf8Left > 0 && (byte & 0xC0) == 0x80) {
        FUtf8Value = (FUtf8Value << 6) | (byte & 0x3F);
        if (--FUtf8Left == 0)
            Insert(FUtf8Value, out);
        return;
    }
    if (FUtf8Left > 0) {
        FUtf8Left = 0;
        Insert(Replacement, out);
    }
    if (byte >= 0xC2 && byte <= 0xF4) {
        FUtf8Left = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
        FUtf8Value = byte & (byte >= 0xF0 ? 0x07 : byte >= 0xE0 ? 0x0F : 0x1F);
    } else if (byte >= 0x80) {
        Insert(Replacement, out);
    } else if (byte < 0x20 || byte == 0x7F) {
        TakeControl(byte, out);
    } else {
        Insert(byte, out);
    }
    FAfterCr = byte == '\r';
}

void VtShell::TakeControl(unsigned char byte, std::string& out) {
    switch (byte) {
    case 0x1B:
        FState = InputState::Escape;
        break;
    case '\r':
        Enter(out);
        break;
    case '\n':
        if (!FAfterCr)
            Enter(out);
        break;
    case 0x7F:
    case 0x08:
        Backspace(out);
        break;
    case 0x01: // Ctrl+A
        Move(0, out);
        break;
    case 0x05: // Ctrl+E
        Move(FLine.size(), out);
        break;
    case 0x0B: // Ctrl+K
        FLine.erase(FCursor);
        Refresh(out);
        break;
    case 0x15: // Ctrl+U
        FLine.erase(0, FCursor);
        FCursor = 0;
        Refresh(out);
        break;
    case 0x0C: // Ctrl+L
        out += "\x1b[H\x1b[2J";
        Refresh(out);
        break;
    case 0x03: // Ctrl+C
        out += "^C\r\n";
        FLine.clear();
        FCursor = 0;
        FHistoryIndex = FHistory.size();
        Prompt(out);
        break;
    default:
        break;
    }
}

void VtShell::TakeCsi(char final, std::string& out) {
    if (final == 'R') {
        TakeWidthAnswer(out);
        return;
    }
    if (final != '~') {
        TakeCursorKey(final, out);
        return;
    }
    const std::string key = FParams.substr(0, FParams.find(';'));
    if (key == "1" || key == "7")
        Move(0, out);
    else if (key == "4" || key == "8")
        Move(FLine.size(), out);
    else if (key == "3")
        Delete(out);
}

void VtShell::TakeCursorKey(char final, std::string& out) {
    switch (final) {
    case 'A':
        RecallHistory(-1, out);
        break;
    case 'B':
        RecallHistory(1, out);
        break;
    case 'C':
        Move(std::min(FCursor + 1, FLine.size()), out);
        break;
    case 'D':
        Move(FCursor > 0 ? FCursor - 1 : 0, out);
        break;
    case 'H':
        Move(0, out);
        break;
    case 'F':
        Move(FLine.size(), out);
        break;
    default:
        break;
    }
}

// The answer ESC [ row ; column R. Only an answer to our own question
// counts, a late one too (a slow line); a report nobody asked for is dropped.
void VtShell::TakeWidthAnswer(std::string& out) {
    const std::size_t separator = FParams.find(';');
    if ((!FAwaitingWidth && FWidthKnown) || separator == std::string::npos)
        return;
    int column = 0;
    const char* first = FParams.data() + separator + 1;
    const char* last = FParams.data() + FParams.size();
    const auto [stop, error] = std::from_chars(first, last, column);
    if (error != std::errc() || stop != last)
        return;
    FAwaitingWidth = false;
    FWidthKnown = true;
    FColumns = std::clamp(column, MinColumns, MaxColumns);
    out += "\r\x1b[K\x1b[1mconsole: " + std::to_string(FColumns) + " columns\x1b[0m\r\n";
    // A rule across the whole width: the last character fills the last
    // column, and the line end after it makes no empty line.
    std::u32string rule(static_cast<std::size_t>(FColumns), U'\u2500');
    out += "\x1b[36m" + Utf8(rule) + "\x1b[0m\r\n";
    Prompt(out);
}

void VtShell::Insert(char32_t character, std::string& out) {
    if (FAwaitingWidth || FLine.size() >= MaxLineLength || CellWidth(character) == 0)
        return;
    FLine.insert(FCursor, 1, character);
    ++FCursor;
    // Typing at the end of a line that still fits needs only the echo.
    if (FCursor == FLine.size() && Cells(FLine, 0, FLine.size()) <= AvailableCells())
        AppendUtf8(character, out);
    else
        Refresh(out);
}

void VtShell::Backspace(std::string& out) {
    if (FCursor == 0)
        return;
    FLine.erase(--FCursor, 1);
    Refresh(out);
}

void VtShell::Delete(std::string& out) {
    if (FCursor >= FLine.size())
        return;
    FLine.erase(FCursor, 1);
    Refresh(out);
}

void VtShell::Move(std::size_t cursor, std::string& out) {
    if (cursor == FCursor)
        return;
    FCursor = cursor;
    Refresh(out);
}

// Step -1 goes back in the history, +1 forward; past the newest entry the
// line typed before the first step comes back.
void VtShell::RecallHistory(int step, std::string& out) {
    if (step < 0 && FHistoryIndex == 0)
        return;
    if (step > 0 && FHistoryIndex >= FHistory.size())
        return;
    if (FHistoryIndex == FHistory.size())
        FDraft = FLine;
    FHistoryIndex = step < 0 ? FHistoryIndex - 1 : FHistoryIndex + 1;
    FLine = FHistoryIndex == FHistory.size() ? FDraft : FHistory[FHistoryIndex];
    FCursor = FLine.size();
    Refresh(out);
}

void VtShell::Enter(std::string& out) {
    if (FAwaitingWidth)
        return;
    const std::u32string line = FLine;
    out += "\r\n";
    if (!line.empty() && (FHistory.empty() || FHistory.back() != line)) {
        FHistory.push_back(line);
        if (FHistory.size() > MaxHistory)
            FHistory.erase(FHistory.begin());
    }
    FHistoryIndex = FHistory.size();
    FDraft.clear();
    FLine.clear();
    FCursor = 0;
    RunCommand(Utf8(line), out);
}

void VtShell::RunCommand(const std::string& line, std::string& out) {
    const std::string answer = OnLine ? OnLine(line) : std::string();
    if (line == "help") {
        out += HelpText;
    } else if (line == "version") {
        out += "qx-target VT console 1.0\r\n";
    } else if (line == "colors") {
        out += ColourTable(FColumns);
    } else if (line == "boot") {
        out += BootLog;
    } else if (line == "clear") {
        out += "\x1b[H\x1b[2J";
    } else if (line == "size") {
        out += answer + (answer.empty() ? "" : "\r\n") + WidthQuestion;
        FAwaitingWidth = true;
        FWidthKnown = false;
        return;
    } else if (!line.empty() && !OnLine) {
        out += "\x1b[31munknown command: " + line + "\x1b[0m (try help)\r\n";
    }
    if (!answer.empty())
        out += answer + "\r\n";
    Prompt(out);
}

void VtShell::Prompt(std::string& out) {
    FStarted = true;
    Refresh(out);
}

int VtShell::AvailableCells() const {
    return std::max(1, FColumns - PromptCells - 1);
}

// Redraws the line after the prompt. A line wider than the terminal scrolls
// sideways so that the cursor stays in view; nothing ever wraps.
void VtShell::Refresh(std::string& out) const {
    const int available = AvailableCells();
    std::size_t start = 0;
    while (Cells(FLine, start, FCursor) > available)
        ++start;
    std::size_t end = start;
    int cells = 0;
    while (end < FLine.size() && cells + CellWidth(FLine[end]) <= available)
        cells += CellWidth(FLine[end++]);
    out += "\r";
    out += PromptText;
    out += Utf8(FLine.substr(start, end - start));
    out += "\x1b[K\r\x1b[" + std::to_string(PromptCells + Cells(FLine, start, FCursor)) + "C";
}
