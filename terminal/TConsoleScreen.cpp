#include "terminal/TConsoleScreen.h"

#include "platform/Cp1252.h"
#include "terminal/SaveLines.h"
#include "terminal/TScreenListener.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The two digits of each byte value, stored together in one go.
constexpr std::array<std::array<char, 2>, 256> HexPairTable() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = {digits[byte >> 4], digits[byte & 15]};
    return table;
}
constexpr std::array<std::array<char, 2>, 256> HexPairs = HexPairTable();

// The bytes that ASCII intake interprets; every other byte is a character.
constexpr std::array<bool, 256> ControlTable() {
    std::array<bool, 256> table{};
    for (const int code : {4, 5, 7, 8, 10, 12, 13, 26, 27})
        table[code] = true;
    return table;
}
constexpr std::array<bool, 256> IsControl = ControlTable();

// The local date in the short format and the time in the long format, as
// the system's regional settings write them; a time of 0:00:00 is left out.
QByteArray MarkerTime() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    QString text = locale.toString(now.date(), QLocale::ShortFormat);
    const QTime time = now.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += QLatin1Char(' ') + locale.toString(time, QLocale::LongFormat);
    return StringToCp1252(text, TUnmappable::Question);
}

// Letters of the Western code page to lower case, for finding without
// regard to case.
constexpr std::array<uchar, 256> FoldTable() {
    std::array<uchar, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = static_cast<uchar>(byte);
    for (int byte = 'A'; byte <= 'Z'; ++byte)
        table[byte] = static_cast<uchar>(byte + 32);
    for (int byte = 0xC0; byte <= 0xDE; ++byte) {
        if (byte != 0xD7)
            table[byte] = static_cast<uchar>(byte + 32);
    }
    table[0x8A] = 0x9A; // S caron
    table[0x8C] = 0x9C; // OE
    table[0x8E] = 0x9E; // Z caron
    table[0x9F] = 0xFF; // Y diaeresis
    return table;
}
constexpr std::array<uchar, 256> Fold = FoldTable();

void FoldInto(const QByteArray& text, QByteArray& folded) {
    folded.resize(text.size());
    const auto* from = reinterpret_cast<const uchar*>(text.constData());
    auto* to = reinterpret_cast<uchar*>(folded.data());
    for (qsizetype i = 0; i < text.size(); ++i)
        to[i] = Fold[from[i]];
}

QByteArray TrimmedRight(QByteArray text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == ' ')
        --end;
    text.truncate(end);
    return text;
}

const QByteArray& AsciiBlank() {
    static const QByteArray blank(TConsoleScreen::Columns, ' ');
    return blank;
}

const QByteArray& HexBlank() {
    static const QByteArray blank(TConsoleScreen::HexAreaWidth, ' ');
    return blank;
}

} // namespace

TConsoleScreen::TConsoleScreen() {
    Lines.append(AsciiBlank());
}

const QString TConsoleScreen::OpenFailedText =
    QStringLiteral("Can't open the selected file.\n\rPlease check, if the file is already in use.");
const QString TConsoleScreen::WriteFailedText =
    QStringLiteral("The logfile could not be written completely.\n\rThe recording has ended.");

TConsoleScreen::~TConsoleScreen() {
    try {
        StopRecording();
    } catch (...) {
        // Destroying the screen never fails because of its logfile.
    }
}

QByteArray TConsoleScreen::BlankLine() const {
    return HexEmulation ? HexBlank() : AsciiBlank();
}

QByteArray TConsoleScreen::NewBlankLine() {
    QByteArray line = std::move(FSpare);
    MakeBlank(line);
    return line;
}

// In the line's own memory where it has that alone and enough of it.
void TConsoleScreen::MakeBlank(QByteArray& line) const {
    const QByteArray& blank = HexEmulation ? HexBlank() : AsciiBlank();
    if (line.isDetached() && line.capacity() >= blank.size()) {
        line.resize(blank.size());
        std::memcpy(line.data(), blank.constData(), static_cast<size_t>(blank.size()));
    } else {
        line = blank;
    }
}

void TConsoleScreen::WriteText(const QByteArray& text) {
    if (!Displaying)
        return;
    RecordRaw(text);
    const TLineTimes::TBlock block(FTimes);
    const auto* next = reinterpret_cast<const uchar*>(text.constData());
    const uchar* end = next + text.size();
    if (HexEmulation)
        HexIntake(next, end);
    else
        AsciiIntake(next, end);
    FlushLog();
}

// Edits go straight into Lines (there is no separate working copy), so a
// scroll or a clear always sees, and records, every character on the screen.
// StoreLine reports the current row as changed.
void TConsoleScreen::StoreLine() {
    if (FListener)
        FListener->RowChanged(Row);
}

char* TConsoleScreen::CurrentCells() {
    return Lines[Row].data();
}

void TConsoleScreen::AsciiIntake(const uchar* next, const uchar* end) {
    while (next < end) {
        if (EscState != 0 && EscapeConsumes(*next)) {
            ++next;
        } else if (IsControl[*next]) {
            AsciiControl(*next);
            ++next;
        } else {
            next = AsciiPrintableRun(next, end);
        }
    }
    StoreLine();
    if (FListener)
        FListener->CursorChanged();
}

// Copies a run of characters up to the end of the line in one go; the
// character written into the last column wraps the cursor at once.
const uchar* TConsoleScreen::AsciiPrintableRun(const uchar* next, const uchar* end) {
    const qsizetype room = Columns - Col + 1;
    const uchar* limit = end - next > room ? next + room : end;
    const uchar* stop = next + 1;
    while (stop < limit && !IsControl[*stop])
        ++stop;
    StampRow();
    std::memcpy(CurrentCells() + Col - 1, next, static_cast<size_t>(stop - next));
    Col += static_cast<int>(stop - next);
    if (Col > Columns)
        Wrap();
    return stop;
}

// ESC "P" row column. A byte that ends the sequence early (anything but "P"
// after ESC) is not consumed: it is then handled as an ordinary byte.
bool TConsoleScreen::EscapeConsumes(uchar byte) {
    switch (EscState) {
    case 1:
        EscState = byte == 'P' ? 2 : 0;
        return EscState == 2;
    case 2:
        EscState = 3;
        MoveToRow(std::max(byte - '0', 0));
        return true;
    case 3:
        Col = byte < '0' ? 1 : std::min(byte - '0' + 1, static_cast<int>(Columns));
        EscState = 0;
        return true;
    default:
        return false;
    }
}

void TConsoleScreen::AsciiControl(uchar byte) {
    switch (byte) {
    case 4: // EOT
        CursorOn = true;
        break;
    case 5: // ENQ
        CursorOn = false;
        break;
    case 7: // BEL
        if (FListener)
            FListener->Beep();
        break;
    case 8: // BS: destructive, never into the previous line
        if (Col > 1) {
            --Col;
            CurrentCells()[Col - 1] = ' ';
        }
        break;
    case 10: // LF: straight down, column kept (back to column 1 with LFIn)
        NewLine();
        if (LFIn)
            Col = 1;
        break;
    case 12: // FF
    case 26: // SUB
        StoreLine();
        ClearScreen();
        break;
    case 13: // CR
        Col = 1;
        if (CRLFIn)
            NewLine();
        break;
    case 27: // ESC
        StoreLine();
        EscState = 1;
        break;
    default:
        break;
    }
}

void TConsoleScreen::NewLine() {
    StoreLine();
    MoveToRow(Row + 1);
}

void TConsoleScreen::Wrap() {
    NewLine();
    Col = 1;
}

// Puts the cursor on Row, adding blank lines only where the buffer ends, so
// that the buffer never holds more than the screen's rows (plus rows left
// below a window made lower), then scrolls until the row is on screen.
void TConsoleScreen::MoveToRow(int row) {
    Row = row;
    while (Lines.size() <= Row)
        Lines.append(NewBlankLine());
    const int lastRow = std::max(MaxRow, 1);
    while (Row > lastRow)
        ScrollUp();
}

void TConsoleScreen::HexIntake(const uchar* next, const uchar* end) {
    while (next < end)
        next = HexFillLine(next, end);
    StoreLine();
}

// Places as many bytes as fit into the current line: the digit pair in the
// hexadecimal area and the character (a full stop for control codes) at the
// end of the text column. A full line moves the cursor to the next row.
const uchar* TConsoleScreen::HexFillLine(const uchar* next, const uchar* end) {
    const int placed = std::clamp((Col - 1) / 3, 0, HexBytesPerLine - 1);
    const int take = static_cast<int>(std::min<qsizetype>(HexBytesPerLine - placed, end - next));
    StampRow();
    QByteArray& line = Lines[Row];
    const int textStart = HexAreaWidth + placed;
    if (line.size() != textStart)
        line = line.leftJustified(textStart, ' ', true);
    line.reserve(HexAreaWidth + HexBytesPerLine); // one allocation for the whole line
    line.resize(textStart + take);
    char* cells = line.data();
    for (int i = 0; i < take; ++i) {
        const uchar byte = next[i];
        std::memcpy(cells + 3 * (placed + i), HexPairs[byte].data(), 2);
        cells[textStart + i] = byte < 32 ? '.' : static_cast<char>(byte);
    }
    Col = 3 * (placed + take) + 1;
    if (placed + take == HexBytesPerLine) {
        NewLine();
        Col = 1;
    }
    return next + take;
}

void TConsoleScreen::ScrollUp() {
    if (Lines.size() < 2) {
        ClearScreen();
        return;
    }
    if (FListener)
        FListener->ScrolledUp();
    if (Log.Active)
        LogLine(Lines.first(), RowTime(0));
    ++FScrolled;
    if (FScrollbackLimit > 0) {
        FHistory.append(std::move(Lines.first()));
        if (FHistory.size() > FScrollbackLimit) {
            // The oldest row's memory becomes the next new row: a flood
            // then needs no allocation per row.
            FSpare = std::move(FHistory.first());
            FHistory.removeFirst();
        }
    }
    Lines.removeFirst();
    FTimes.DropBefore(FirstLine());
    --Row;
}

// The history stays: only the screen is emptied.
void TConsoleScreen::ClearScreen() {
    if (Log.Active)
        LogScreen();
    FlushLog();
    // The rows' memory is kept for the blank first row and the next new
    // one: random bytes clear the screen every few hundred bytes.
    if (Lines.size() > 1 && !FSpare.isDetached())
        FSpare = std::move(Lines.last());
    Lines.resize(1);
    MakeBlank(Lines.first());
    FTimes.DropFrom(FScrolled);
    Row = 0;
    Col = 1;
    if (FListener) {
        FListener->Cleared();
        FListener->CursorChanged();
    }
}

void TConsoleScreen::SetScrollbackLimit(int lines) {
    FScrollbackLimit = std::max(lines, 0);
    if (FHistory.size() > FScrollbackLimit)
        FHistory.remove(0, FHistory.size() - FScrollbackLimit);
    FTimes.DropBefore(FirstLine());
}

void TConsoleScreen::ClearScrollback() {
    FHistory.clear();
    FHistory.squeeze();
    FTimes.DropBefore(FirstLine());
    if (FListener)
        FListener->Cleared();
}

const QByteArray& TConsoleScreen::LineText(qint64 line) const {
    if (line >= FScrolled)
        return Lines.at(line - FScrolled);
    return FHistory.at(line - FirstLine());
}

std::optional<TTextPos> TConsoleScreen::Find(const QByteArray& needle, bool matchCase,
                                             TTextPos from, bool backwards) const {
    const qint64 first = FirstLine();
    const qint64 count = EndLine() - first;
    if (needle.isEmpty() || count <= 0)
        return std::nullopt;
    QByteArray key = needle;
    if (!matchCase)
        FoldInto(needle, key);
    from.Line = std::clamp(from.Line, first, first + count - 1);
    QByteArray folded;
    // The line of From comes twice: first the part after (or before) From,
    // at the end of the round the rest of it.
    for (qint64 step = 0; step <= count; ++step) {
        const qint64 offset = (from.Line - first + (backwards ? count - step : step)) % count;
        const qint64 line = first + offset;
        const QByteArray* text = &LineText(line);
        if (!matchCase) {
            FoldInto(*text, folded);
            text = &folded;
        }
        qsizetype at = -1;
        if (!backwards) {
            at = text->indexOf(key, step == 0 ? from.Col : 0);
            if (step == count && at >= from.Col)
                at = -1;
        } else if (step == 0) {
            at = from.Col > 0 ? text->lastIndexOf(key, from.Col - 1) : -1;
        } else {
            at = text->lastIndexOf(key);
            if (step == count && at < from.Col)
                at = -1;
        }
        if (at >= 0)
            return TTextPos{line, static_cast<int>(at)};
    }
    return std::nullopt;
}

qsizetype TConsoleScreen::IndexIn(const QByteArray& text, const QByteArray& needle, bool matchCase,
                                  qsizetype from) {
    if (matchCase)
        return text.indexOf(needle, from);
    QByteArray foldedText;
    QByteArray foldedNeedle;
    FoldInto(text, foldedText);
    FoldInto(needle, foldedNeedle);
    return foldedText.indexOf(foldedNeedle, from);
}

QList<QByteArray> TConsoleScreen::TextBetween(TTextPos from, TTextPos to) const {
    QList<QByteArray> lines;
    if (to < from)
        std::swap(from, to);
    from.Line = std::max(from.Line, FirstLine());
    if (to.Line >= EndLine())
        to = TTextPos{EndLine() - 1, static_cast<int>(LineText(EndLine() - 1).size())};
    if (to.Col == 0 && to.Line > from.Line) {
        // A selection that ends where a line begins holds none of that line.
        --to.Line;
        to.Col = static_cast<int>(LineText(to.Line).size());
    }
    for (qint64 line = from.Line; line <= to.Line; ++line) {
        const QByteArray& text = LineText(line);
        const qsizetype begin = line == from.Line ? from.Col : 0;
        const qsizetype end = line == to.Line ? to.Col : text.size();
        lines.append(TrimmedRight(text.mid(begin, std::max<qsizetype>(end - begin, 0))));
    }
    return lines;
}

bool TConsoleScreen::SaveText(const QString& fileName, QString& error, bool withTimes) const {
    return SaveLines(
        fileName, FirstLine(), EndLine(),
        [this, withTimes](qint64 line) {
            const QByteArray& text = LineText(line);
            return withTimes ? TLineTimes::Format(FTimes.At(line)).toLatin1() + ' ' + text : text;
        },
        error);
}

void TConsoleScreen::SetCursorOn(bool on) {
    if (on == CursorOn)
        return;
    CursorOn = on;
    if (FListener)
        FListener->CursorChanged();
}

void TConsoleScreen::SetHexEmulation(bool on) {
    if (on == HexEmulation)
        return;
    HexEmulation = on;
    // The history goes with the screen; the clear reports both.
    FHistory.clear();
    FHistory.squeeze();
    FTimes.DropBefore(FirstLine());
    ClearScreen();
}

void TConsoleScreen::SetLogFile(const QString& fileName) {
    if (fileName.isEmpty()) {
        StopRecording();
        return;
    }
    Log.FileName = fileName;
    StartRecording();
}

void TConsoleScreen::SetRecording(bool on) {
    if (!on)
        StopRecording();
    else if (!Log.FileName.isEmpty())
        StartRecording();
}

void TConsoleScreen::StartRecording() {
    StopRecording();
    if (!Log.Open()) {
        Warn(OpenFailedText, Log.Error());
        return;
    }
    Log.Active = true;
    // The marker goes to the disk at once: a file that cannot take it ends
    // the recording now, not lines later.
    if ((!RawLog && !Log.WriteLine("\r\n--- Start of recording: " + MarkerTime() + " ---")) ||
        !Log.Flush())
        EndFailedRecording();
}

// Writes the screen and the end marker, then closes the file. A recording
// whose file cannot be finished still ends (and its file is closed); the
// error is shown afterwards.
void TConsoleScreen::StopRecording() {
    if (!Log.Active)
        return;
    // Close reports the first error of these writes.
    if (!RawLog) {
        if (ScreenTextForLog) {
            for (const QByteArray& line : ScreenTextForLog())
                Log.WriteLine(Stamped(line, 0));
        } else {
            for (int row = 0; row < Lines.size(); ++row)
                Log.WriteLine(Stamped(Lines.at(row), RowTime(row)));
        }
        Log.WriteLine("--- End of recording: " + MarkerTime() + " ---");
    }
    FLogPending = false;
    const bool closed = Log.Close();
    Log.Active = false;
    if (!closed)
        Warn(WriteFailedText, Log.FileName + QStringLiteral(": ") + Log.Error());
}

void TConsoleScreen::RecordEvent(const QByteArray& event) {
    if (!Log.Active || RawLog)
        return;
    Log.WriteLine("--- " + event + ": " + MarkerTime() + " ---");
    // What was recorded so far reaches the disk now.
    if (Log.LogFile)
        Log.LogFile->flush();
}

void TConsoleScreen::LogScreen() {
    if (ScreenTextForLog) {
        for (const QByteArray& line : ScreenTextForLog())
            LogLine(line, 0);
        return;
    }
    for (int row = 0; row < Lines.size(); ++row)
        LogLine(Lines.at(row), RowTime(row));
}

// With timestamps a line starts with the time its first byte arrived; a
// line that never received one carries the time it is written.
void TConsoleScreen::LogLine(const QByteArray& line, qint64 time) {
    if (!Log.Active || RawLog)
        return;
    FLogPending = true;
    if (!Log.WriteLine(Stamped(line, time)))
        EndFailedRecording();
}

void TConsoleScreen::RecordLine(const QByteArray& line, qint64 time) {
    LogLine(line, time);
}

void TConsoleScreen::RecordRaw(const QByteArray& bytes) {
    if (!Log.Active || !RawLog || bytes.isEmpty())
        return;
    FLogPending = true;
    if (!Log.LogFile || Log.LogFile->write(bytes) != bytes.size())
        EndFailedRecording();
}

QByteArray TConsoleScreen::Stamped(const QByteArray& line, qint64 time) const {
    if (!Timestamps)
        return line;
    return TLineTimes::Format(time > 0 ? time : TLineTimes::SystemNow()).toLatin1() + ' ' + line;
}

// Completed lines reach the file after every block of intake and every
// clear, so a running recording is on disk as it happens.
void TConsoleScreen::FlushLog() {
    if (!FLogPending)
        return;
    FLogPending = false;
    if (Log.Active && !Log.Flush())
        EndFailedRecording();
}

qint64 TConsoleScreen::RowTime(int row) const {
    return FTimes.At(FScrolled + row);
}

// The first write the file refuses ends the recording, so that the user
// learns of it while the lines are still on the screen.
void TConsoleScreen::EndFailedRecording() {
    const QString detail = Log.FileName + QStringLiteral(": ") + Log.Error();
    Log.Close();
    Log.Active = false;
    if (FListener)
        FListener->RecordingFailed(WriteFailedText, detail);
}

void TConsoleScreen::Warn(const QString& text, const QString& detail) {
    if (FListener)
        FListener->Warning(text, detail);
}
