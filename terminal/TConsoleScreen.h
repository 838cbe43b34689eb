#pragma once

#include "terminal/TLineTimes.h"
#include "terminal/TLogDesc.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

class TScreenListener;

// A place in the text of history and screen: a line by its number (counted
// from the first line that ever scrolled into the history, so it stays
// with its text while rows scroll) and a 0-based character index in it.
struct TTextPos {
    qint64 Line = 0;
    int Col = 0;
    auto operator<=>(const TTextPos&) const = default;
};

// The terminal screen: a buffer of 80-column rows, the cursor and the byte
// interpretation of the ASCII and HEX emulations, and the history of rows
// that scrolled off its top. It needs no window; it reports every change to
// its listener, which paints.
class TConsoleScreen {
public:
    static constexpr int Columns = 80;
    // HEX layout: 16 bytes as "XX " pairs, a blank, then 16 text characters.
    static constexpr int HexBytesPerLine = 16;
    static constexpr int HexAreaWidth = 49;
    static constexpr int HexLastCol = 3 * (HexBytesPerLine - 1) + 1;

    TConsoleScreen();
    ~TConsoleScreen();
    TConsoleScreen(const TConsoleScreen&) = delete;
    TConsoleScreen& operator=(const TConsoleScreen&) = delete;

    void SetListener(TScreenListener* listener) { FListener = listener; }

    // Interprets Text in the current emulation; drops it while paused.
    void WriteText(const QByteArray& text);
    void ClearScreen();
    // Moves every row up by one; the top row leaves the screen (into the
    // logfile while recording).
    void ScrollUp();
    void SetCursorOn(bool on);
    // Switching the emulation clears the screen; the same value does nothing.
    void SetHexEmulation(bool on);

    // Recording of the screen into a logfile: lines go there as they leave
    // the screen (scrolled off or cleared) and the whole screen at the stop.
    // An empty name stops; any other name is used exactly as given.
    void SetLogFile(const QString& fileName);
    // Stops, or starts again into the last file name (if there is one).
    void SetRecording(bool on);
    void StartRecording();
    void StopRecording();
    void LogScreen();
    // While recording: a line "--- <Event>: <date> <time> ---" in the style
    // of the start and end markers, written at once (e.g. "Connection lost").
    void RecordEvent(const QByteArray& event);
    // While recording lines: Line as a line of the recording (the VT
    // emulation's rows as they leave its screen).
    // Time: when its first byte arrived (0: now).
    void RecordLine(const QByteArray& line, qint64 time = 0);
    // While recording raw bytes: Bytes exactly as received.
    void RecordRaw(const QByteArray& bytes);
    // Flushes what the recording received to the file.
    void FlushRecording() { FlushLog(); }
    // Where the rows the recording ends with come from when set (the VT
    // emulation's screen); the rows of Lines otherwise.
    std::function<QList<QByteArray>()> ScreenTextForLog;
    // The recording holds the received bytes exactly, without markers, in
    // place of the lines.
    bool RawLog = false;

    // The texts shown when a logfile cannot be opened or finished.
    static const QString OpenFailedText;
    static const QString WriteFailedText;

    // The blank line a new row starts with in the current emulation.
    QByteArray BlankLine() const;

    // The history: rows that scrolled off the top, oldest first, at most
    // ScrollbackLimit of them (0 keeps none).
    static constexpr int DefaultScrollback = 10000;
    void SetScrollbackLimit(int lines);
    int ScrollbackLimit() const { return FScrollbackLimit; }
    const QList<QByteArray>& History() const { return FHistory; }
    void ClearScrollback();
    // Line numbers of history and screen together: the oldest history line
    // is FirstLine(), screen row r is ScreenLine() + r, and EndLine() is one
    // past the last row of the screen.
    qint64 FirstLine() const { return FScrolled - FHistory.size(); }
    qint64 ScreenLine() const { return FScrolled; }
    qint64 EndLine() const { return FScrolled + Lines.size(); }
    // The text of a line between FirstLine() and EndLine().
    const QByteArray& LineText(qint64 line) const;
    // The next place at or after From (before it, when Backwards) where
    // Needle occurs, searching history and screen and wrapping around at
    // their ends. Letters of the code page match either case unless
    // MatchCase is set.
    std::optional<TTextPos> Find(const QByteArray& needle, bool matchCase, TTextPos from,
                                 bool backwards) const;
    // Where Needle occurs in Text at or after From, or -1.
    static qsizetype IndexIn(const QByteArray& text, const QByteArray& needle, bool matchCase,
                             qsizetype from);
    // The lines from From up to To (exclusive), each without its trailing
    // blanks.
    QList<QByteArray> TextBetween(TTextPos from, TTextPos to) const;
    // Writes history and screen into FileName as the logfile holds lines
    // (bytes as stored, CR LF), WithTimes each after
    // its time; false with the reason in Error.
    bool SaveText(const QString& fileName, QString& error, bool withTimes = false) const;
    // When each line of history and screen received its first byte.
    const TLineTimes& Times() const { return FTimes; }
    TLineTimes& Times() { return FTimes; }

    // Each line of the recording starts with the local time its first byte
    // arrived ("hh:mm:ss.zzz ").
    bool Timestamps = false;

    QList<QByteArray> Lines;
    TLogDesc Log;
    int EscState = 0;
    bool Displaying = true;
    bool CursorOn = true;
    bool LocalEcho = false;
    bool HexEmulation = false; // change it through SetHexEmulation
    bool CRLFIn = false;
    // A received LF also returns to column 1.
    bool LFIn = false;
    bool CRLFOut = false;
    int Col = 1;
    int Row = 0;
    int MaxRow = 1;

private:
    void AsciiIntake(const uchar* next, const uchar* end);
    const uchar* AsciiPrintableRun(const uchar* next, const uchar* end);
    bool EscapeConsumes(uchar byte);
    void AsciiControl(uchar byte);
    void HexIntake(const uchar* next, const uchar* end);
    const uchar* HexFillLine(const uchar* next, const uchar* end);
    void StoreLine();
    void NewLine();
    void Wrap();
    void MoveToRow(int row);
    char* CurrentCells();
    void LogLine(const QByteArray& line, qint64 time);
    void EndFailedRecording();
    QByteArray Stamped(const QByteArray& line, qint64 time) const;
    void FlushLog();
    void Warn(const QString& text, const QString& detail);
    // Notes the arrival time of the current row's first byte.
    void StampRow() { FTimes.Stamp(FScrolled + Row); }
    QByteArray NewBlankLine();
    void MakeBlank(QByteArray& line) const;
    qint64 RowTime(int row) const;

    TScreenListener* FListener = nullptr;
    QList<QByteArray> FHistory;
    // The memory of the last row dropped from the history, for reuse.
    QByteArray FSpare;
    int FScrollbackLimit = DefaultScrollback;
    // Rows that ever scrolled off the top of the screen.
    qint64 FScrolled = 0;
    TLineTimes FTimes;
    // A line went to the logfile since the last flush.
    bool FLogPending = false;
};
