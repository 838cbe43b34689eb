#pragma once

#include "terminal/TConsoleScreen.h"
#include "terminal/TLineTimes.h"
#include "terminal/TVtEngine.h"
#include "terminal/TVtLine.h"

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class TScreenListener;

// The screen of the VT emulation: VT100/VT220 with the common xterm
// extensions, received text in UTF-8. The engine (TVtEngine) parses and
// keeps the cells of the screen (received text is decoded as UTF-8, each
// invalid part shown as one U+FFFD); this class keeps the history of rows
// that scrolled off the top (with their colours), tells its listener what
// changed, and turns keys into the bytes a VT terminal sends. The engine answers only DA1, DA2 and DSR 5 and 6.
// Qt Core only; it reports changes to its listener as TConsoleScreen does.
class TVtScreen {
public:
    // A wide character must fit in a row.
    static constexpr int MinColumns = 2;

    TVtScreen(int columns, int rows);
    ~TVtScreen();
    TVtScreen(const TVtScreen&) = delete;
    TVtScreen& operator=(const TVtScreen&) = delete;

    void SetListener(TScreenListener* listener) { FListener = listener; }

    // Received bytes, split anywhere.
    void WriteText(const QByteArray& bytes);
    // Keeps what is on the screen, cut or padded; at least MinColumns wide.
    void Resize(int columns, int rows);
    int Columns() const { return FColumns; }
    int Rows() const { return FRows; }
    // Back to the power-on state: an empty screen, no history.
    void Reset();

    // One string per screen row, trailing blanks cut.
    QStringList VisibleText() const;
    // x = column, y = row, 0-based.
    QPoint Cursor() const;
    bool CursorVisible() const { return FCursorVisible; }
    bool AltScreen() const { return FAltScreen; }
    // The title the target set last (OSC 0 or 2).
    QString Title() const { return FTitle; }

    // The bytes to send back to the target (DA1, DA2, DSR 5 and 6).
    std::function<void(const QByteArray&)> OnAnswer;
    // The target set a new title.
    std::function<void(const QString&)> OnTitle;
    // A row of the main screen left its top (for the recording).
    std::function<void(const TVtLine&)> OnRowScrolledOff;

    // A received LF also returns to column 1.
    void SetBareLfReturns(bool on) { FEngine.BareLfReturns = on; }
    bool BareLfReturns() const { return FEngine.BareLfReturns; }
    // A received CR also feeds a line.
    void SetCrFeedsLine(bool on) { FEngine.CrFeedsLine = on; }
    bool CrFeedsLine() const { return FEngine.CrFeedsLine; }
    // Backspace sends BS (8) instead of DEL (127).
    bool BackspaceSendsBs = false;

    // The bytes a key sends in the VT emulation (cursor and editing keys,
    // F1-F12, Backspace, Escape, Tab, Ctrl+letter, Alt+key as ESC and the
    // key), following the target's cursor and keypad modes; empty for a key
    // the caller handles itself (Enter, the macro keys Shift+Ctrl+A-Z, keys
    // with no text).
    QByteArray KeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text);
    // Pasted text as UTF-8, bracketed when the target asked for that.
    QByteArray PasteBytes(const QByteArray& utf8);

    // The history: rows that scrolled off the top of the main screen,
    // oldest first, at most ScrollbackLimit of them.
    void SetScrollbackLimit(int lines);
    int ScrollbackLimit() const { return FScrollbackLimit; }
    int HistorySize() const { return static_cast<int>(FHistory.size()); }
    void ClearScrollback();
    // Line numbers of history and screen as TConsoleScreen counts them.
    qint64 FirstLine() const { return FScrolled - static_cast<qint64>(FHistory.size()); }
    qint64 ScreenLine() const { return FScrolled; }
    qint64 EndLine() const { return FScrolled + FRows; }
    // A line between FirstLine() and EndLine() (a blank one outside).
    TVtLine Line(qint64 line) const;
    // Its text, trailing blanks cut.
    QString LineText(qint64 line) const { return Line(line).Text(); }
    // The text from From up to To (exclusive; columns are cells), lines
    // joined by LF, trailing blanks cut.
    QString TextBetween(TTextPos from, TTextPos to) const;
    // The next place at or after From (before it, when Backwards) where
    // Needle occurs, wrapping around.
    std::optional<TTextPos> Find(const QString& needle, bool matchCase, TTextPos from,
                                 bool backwards) const;
    // Writes history and screen as UTF-8 lines ending in CR LF, WithTimes
    // each after its time.
    bool SaveText(const QString& fileName, QString& error, bool withTimes = false) const;
    // When each line of history and screen was first written (the rows of
    // the main screen while the alternate one is shown).
    const TLineTimes& Times() const { return FTimes; }
    TLineTimes& Times() { return FTimes; }

private:
    void RowOff(TVtLine& row);
    void StampLine(qint64 line, const TVtLine& row);
    void Flush();
    void Trim();

    TVtEngine FEngine;
    TScreenListener* FListener = nullptr;
    int FColumns;
    int FRows;
    std::deque<TVtLine> FHistory;
    TLineTimes FTimes;
    int FScrollbackLimit = TConsoleScreen::DefaultScrollback;
    qint64 FScrolled = 0;
    bool FCursorVisible = true;
    bool FAltScreen = false;
    QString FTitle;
    // Where the cursor was shown last.
    QPoint FShownCursor;
};
