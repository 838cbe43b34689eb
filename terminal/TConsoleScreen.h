#pragma once

#include "terminal/TLogDesc.h"

#include <QByteArray>
#include <QList>

class TScreenListener;

// The terminal screen: a buffer of 80-column rows, the cursor and the byte
// interpretation of the ASCII and HEX emulations. It needs no window; it
// reports every change to its listener, which paints.
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

    // The texts shown when a logfile cannot be opened or finished.
    static const QString OpenFailedText;
    static const QString WriteFailedText;

    // The blank line a new row starts with in the current emulation.
    QByteArray BlankLine() const;

    QList<QByteArray> Lines;
    TLogDesc Log;
    int EscState = 0;
    bool Displaying = true;
    bool CursorOn = true;
    bool LocalEcho = false;
    bool HexEmulation = false; // change it through SetHexEmulation
    bool CRLFIn = false;
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
    void LogLine(const QByteArray& line);
    void EndFailedRecording();
    void Warn(const QString& text, const QString& detail);

    TScreenListener* FListener = nullptr;
};
