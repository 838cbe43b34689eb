#pragma once

#include "terminal/TVtGrid.h"
#include "terminal/TVtParser.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// The state of a VT100/VT220 terminal with the common xterm extensions:
// the main and the alternate screen, cursor, pen, modes, margins, tab stops
// and character sets, changed by what the parser finds in received bytes.
// It reports rows that leave the top of the main screen, the rows it
// changed (as line numbers that count those rows), bells, titles and
// answers; it never answers anything but DA1, DA2 and DSR 5 and 6.
class TVtEngine : private TVtParserSink {
public:
    TVtEngine(int columns, int rows);

    void Write(const char* bytes, qsizetype length) { FParser.Feed(bytes, length); }
    void Resize(int columns, int rows);
    // The power-on state (the history is the caller's).
    void Reset();

    int Columns() const { return FGrid->Columns(); }
    int Rows() const { return FGrid->Rows(); }
    const TVtLine& Row(int row) const { return FGrid->Row(row); }
    int CursorX() const { return FX; }
    int CursorY() const { return FY; }
    bool CursorVisible() const { return FCursorVisible; }
    bool AltScreen() const { return FGrid == &FAlt; }
    bool CursorKeysApp() const { return FCursorKeysApp; }
    bool KeypadApp() const { return FKeypadApp; }
    bool BracketedPaste() const { return FBracketedPaste; }
    // A received LF also returns to column 1.
    bool BareLfReturns = false;
    // A received CR also feeds a line.
    bool CrFeedsLine = false;

    // Rows that left the top of the main screen so far: row R of the
    // screen is line RowsOff() + R.
    qint64 RowsOff() const { return FRowsOff; }
    // The changed lines since TakeDamage last ran, as [First, Last]
    // (First > Last when none).
    std::pair<qint64, qint64> TakeDamage();

    // A row leaves the top of the main screen (before it is reused).
    // The handler may take the row's cells (swap in others of any width):
    // the row is blanked or dropped right after.
    std::function<void(TVtLine&)> OnRowOff;
    // Rows of the main screen moved inside it (a scroll region, inserted or
    // deleted lines): Count rows from row From on now start at row To.
    std::function<void(int to, int from, int count)> OnRowsMoved;
    std::function<void()> OnBell;
    std::function<void(const QString&)> OnTitle;
    std::function<void(const QByteArray&)> OnAnswer;

private:
    struct TSavedCursor {
        int X = 0;
        int Y = 0;
        TVtCell Pen;
        char Charsets[2] = {'B', 'B'};
        int Shift = 0;
        bool Origin = false;
    };

    // The parser's findings.
    void PrintAscii(const char* text, qsizetype length) override;
    void PrintChar(char32_t ch) override;
    void Execute(char control) override;
    void EscDispatch(const TVtSequence& seq) override;
    void CsiDispatch(const TVtSequence& seq) override;
    void OscDispatch(QByteArrayView text) override;

    // Text.
    void PutCell(char32_t ch, int width);
    void PutGraphics(const char* text, qsizetype length);
    void AddMark(char32_t mark);
    void WrapIfPending();
    // Cursor.
    void MoveTo(int x, int y);
    void MoveToOrigin(int x, int y);
    void MoveUp(int count);
    void MoveDown(int count);
    void Tab(int count);
    void BackTab(int count);
    void Index();
    void ReverseIndex();
    void SaveCursor();
    void RestoreCursor();
    // Editing.
    TVtCell Blank() const;
    void EraseDisplay(int mode);
    void EraseLine(int mode);
    void ScrollUp(int top, int bottom, int count);
    void ScrollDown(int top, int bottom, int count);
    void MoveRows(int top, int bottom, int count, bool up);
    void InsertLines(int count);
    void DeleteLines(int count);
    void AlignmentTest();
    // Modes and the rest.
    void SetMode(const TVtSequence& seq, bool on);
    void SetPrivateMode(int mode, bool on);
    void SwitchScreen(bool alternate);
    void SetMargins(const TVtSequence& seq);
    void SelectGraphicRendition(const TVtSequence& seq);
    int ExtendedColour(const TVtSequence& seq, int at, quint32& colour);
    void Report(const TVtSequence& seq);
    void SoftReset();
    void ResetTabs(int from);
    void Damage(int row);
    void DamageRows(int first, int end);

    TVtParser FParser{*this};
    TVtGrid FMain;
    TVtGrid FAlt;
    TVtGrid* FGrid = &FMain;
    int FX = 0;
    int FY = 0;
    // A character went into the last column: the next one wraps first.
    bool FWrapPending = false;
    TVtCell FPen;
    int FTop = 0;
    int FBottom = 0;
    bool FOrigin = false;
    bool FAutoWrap = true;
    bool FInsert = false;
    bool FNewLine = false;
    bool FCursorVisible = true;
    bool FCursorKeysApp = false;
    bool FKeypadApp = false;
    bool FBracketedPaste = false;
    int FCursorStyle = 0;
    std::vector<bool> FTabs;
    char FCharsets[2] = {'B', 'B'};
    int FShift = 0;
    // Per screen: main, alternate.
    TSavedCursor FSaved[2];
    // The last character printed, for REP.
    char32_t FLastChar = 0;
    qint64 FRowsOff = 0;
    qint64 FDamageFirst = 1;
    qint64 FDamageLast = 0;
};
