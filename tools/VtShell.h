#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The console of a board as a VT terminal sees it: a coloured boot log and
// a small line editor (prompt, cursor keys, backspace, history). At the
// start it asks the terminal how wide it is the way line editors on boards
// do (cursor far right, then a cursor position report) and keeps the edited
// line within that width. Bytes in, bytes out: the session moves them.
class VtShell {
public:
    static constexpr int DefaultColumns = 80;
    static constexpr std::size_t MaxLineLength = 4096;
    static constexpr std::size_t MaxHistory = 100;

    // Called with each entered line (UTF-8); what it returns is sent after
    // the line's own output (the boot loader's answer).
    std::function<std::string(const std::string& line)> OnLine;

    // What a terminal gets when it connects (the board starts): the boot
    // log and the question for the width. Forgets the edited line.
    std::string Start();
    // Keys typed, and the terminal's answers; returns what goes back.
    std::string Feed(const char* bytes, std::size_t count);
    // The terminal did not answer the question for the width: the default
    // width holds, and the prompt appears.
    std::string GiveUpWidthQuestion();

    bool AwaitingWidth() const { return FAwaitingWidth; }
    int Columns() const { return FColumns; }
    // The edited line (UTF-8) and the cursor in characters from its start.
    std::string Line() const;
    std::size_t CursorIndex() const { return FCursor; }

private:
    enum class InputState { Text, Escape, Csi, Ss3 };

    void TakeByte(unsigned char byte, std::string& out);
    void TakeText(unsigned char byte, std::string& out);
    void TakeControl(unsigned char byte, std::string& out);
    void TakeCsi(char final, std::string& out);
    void TakeCursorKey(char final, std::string& out);
    void TakeWidthAnswer(std::string& out);
    void Insert(char32_t character, std::string& out);
    void Backspace(std::string& out);
    void Delete(std::string& out);
    void Move(std::size_t cursor, std::string& out);
    void RecallHistory(int step, std::string& out);
    void Enter(std::string& out);
    void RunCommand(const std::string& line, std::string& out);
    void Refresh(std::string& out) const;
    void Prompt(std::string& out);
    int AvailableCells() const;

    int FColumns = DefaultColumns;
    bool FAwaitingWidth = false;
    bool FWidthKnown = false;
    bool FStarted = false;
    std::u32string FLine;
    std::size_t FCursor = 0;
    std::vector<std::u32string> FHistory;
    std::size_t FHistoryIndex = 0;
    std::u32string FDraft;

    InputState FState = InputState::Text;
    std::string FParams;
    bool FAfterCr = false;
    char32_t FUtf8Value = 0;
    int FUtf8Left = 0;
};

// Cells a character takes on a terminal: 2 for East Asian wide ones, 0 for
// combining marks, 1 otherwise.
int CellWidth(char32_t character);
std::string Utf8(const std::u32string& text);
