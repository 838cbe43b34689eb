#include "terminal/TVtScreen.h"

#include "terminal/SaveLines.h"
#include "terminal/TScreenListener.h"
#include "terminal/TVtKeys.h"

#include <algorithm>

TVtScreen::TVtScreen(int columns, int rows)
    : FEngine(std::max(columns, MinColumns), std::max(rows, 1)),
      FColumns(std::max(columns, MinColumns)), FRows(std::max(rows, 1)) {
    FEngine.OnRowOff = [this](TVtLine& row) { RowOff(row); };
    FEngine.OnBell = [this] {
        if (FListener)
            FListener->Beep();
    };
    FEngine.OnTitle = [this](const QString& title) {
        FTitle = title;
        if (OnTitle)
            OnTitle(FTitle);
    };
    FEngine.OnRowsMoved = [this](int to, int from, int count) {
        FTimes.Move(FScrolled + to, FScrolled + from, count);
    };
    FEngine.OnAnswer = [this](const QByteArray& answer) {
        if (OnAnswer)
            OnAnswer(answer);
    };
    FEngine.TakeDamage();
}

TVtScreen::~TVtScreen() = default;

void TVtScreen::WriteText(const QByteArray& bytes) {
    const TLineTimes::TBlock block(FTimes);
    FEngine.Write(bytes.constData(), bytes.size());
    Flush();
}

// Tells the listener the rows that changed and where the cursor went. Rows
// that only moved up with a scroll of the whole screen are not repainted:
// the listener heard ScrolledUp for each and blits them.
void TVtScreen::Flush() {
    const auto [first, last] = FEngine.TakeDamage();
    const QPoint cursor = Cursor();
    const bool cursorVisible = FEngine.CursorVisible();
    FAltScreen = FEngine.AltScreen();
    for (qint64 line = std::max(first, FScrolled); line <= last && line < FScrolled + FRows;
         ++line) {
        const int row = static_cast<int>(line - FScrolled);
        if (!FAltScreen)
            StampLine(line, FEngine.Row(row));
        if (FListener)
            FListener->RowChanged(row);
    }
    if (!FListener) {
        FCursorVisible = cursorVisible;
        return;
    }
    if (cursor != FShownCursor || cursorVisible != FCursorVisible) {
        FShownCursor = cursor;
        FCursorVisible = cursorVisible;
        FListener->CursorChanged();
    }
}

void TVtScreen::Resize(int columns, int rows) {
    columns = std::max(columns, MinColumns);
    rows = std::max(rows, 1);
    if (columns == FColumns && rows == FRows)
        return;
    FColumns = columns;
    FRows = rows;
    FEngine.Resize(columns, rows);
    FEngine.TakeDamage();
    // Rows cut off at the bottom must not lend their times to the rows that
    // come there later.
    FTimes.DropFrom(FScrolled + rows);
    FShownCursor = Cursor();
    if (FListener)
        FListener->Cleared();
}

void TVtScreen::Reset() {
    FEngine.Reset();
    FEngine.TakeDamage();
    FHistory.clear();
    FTimes.Clear();
    FCursorVisible = true;
    FAltScreen = false;
    FTitle.clear();
    FShownCursor = Cursor();
    if (FListener)
        FListener->Cleared();
}

QStringList TVtScreen::VisibleText() const {
    QStringList rows;
    for (int row = 0; row < FRows; ++row)
        rows.append(FEngine.Row(row).Text());
    return rows;
}

QPoint TVtScreen::Cursor() const {
    return QPoint(FEngine.CursorX(), FEngine.CursorY());
}

// A row of the main screen that shows text keeps the time it first did; a
// row that became blank loses its time, so the next text on it gets a new
// one. The alternate screen leaves the main screen's times alone.
void TVtScreen::StampLine(qint64 line, const TVtLine& row) {
    const bool blank = std::all_of(row.Cells.begin(), row.Cells.end(), [](const TVtCell& cell) {
        return cell.Char == 0 || cell.Char == U' ' || (cell.Flags & TVtCell::WideRight);
    });
    if (blank)
        FTimes.Unstamp(line);
    else
        FTimes.Stamp(line);
}

TVtLine TVtScreen::Line(qint64 line) const {
    if (line >= ScreenLine() && line < EndLine())
        return FEngine.Row(static_cast<int>(line - ScreenLine()));
    if (line >= FirstLine() && line < ScreenLine())
        return FHistory.at(static_cast<size_t>(line - FirstLine()));
    return TVtLine();
}

// A row left the top of the main screen: it goes to the history without
// its blank end. A full history hands its oldest row over for reuse.
void TVtScreen::RowOff(TVtLine& row) {
    StampLine(FScrolled, row);
    qsizetype end = row.Cells.size();
    while (end > 0 && row.Cells.at(end - 1).IsBlank() && row.Cells.at(end - 1).Marks == 0)
        --end;
    TVtLine line;
    if (FScrollbackLimit > 0 && HistorySize() >= FScrollbackLimit) {
        line = std::move(FHistory.front());
        FHistory.pop_front();
        line.Marks.clear();
    }
    if (end * 2 >= row.Cells.size()) {
        // A row at least half full goes to the history as it is, without a
        // copy of its cells; the screen gets the recycled row to blank.
        std::swap(line, row);
        line.Cells.resize(end);
    } else {
        // A short one is copied, so the history does not keep its blank end.
        line.Cells.resize(end);
        std::copy(row.Cells.constBegin(), row.Cells.constBegin() + end, line.Cells.begin());
        if (!row.Marks.isEmpty())
            line.Marks = row.Marks;
    }
    if (OnRowScrolledOff)
        OnRowScrolledOff(line);
    ++FScrolled;
    if (FScrollbackLimit > 0)
        FHistory.push_back(std::move(line));
    Trim();
    if (FListener)
        FListener->ScrolledUp();
}

// --- History -----------------------------------------------------------------

void TVtScreen::SetScrollbackLimit(int lines) {
    FScrollbackLimit = std::max(lines, 0);
    Trim();
}

void TVtScreen::Trim() {
    while (static_cast<int>(FHistory.size()) > FScrollbackLimit)
        FHistory.pop_front();
    FTimes.DropBefore(FirstLine());
}

void TVtScreen::ClearScrollback() {
    FHistory.clear();
    FTimes.DropBefore(FirstLine());
    if (FListener)
        FListener->Cleared();
}

QString TVtScreen::TextBetween(TTextPos from, TTextPos to) const {
    if (to < from)
        std::swap(from, to);
    QStringList lines;
    for (qint64 line = std::max(from.Line, FirstLine()); line <= to.Line && line < EndLine();
         ++line) {
        const int begin = line == from.Line ? from.Col : 0;
        const int end = line == to.Line ? to.Col : 1 << 30;
        if (line == to.Line && end == 0 && line != from.Line)
            break;
        lines.append(Line(line).Text(begin, end));
    }
    return lines.join(QLatin1Char('\n'));
}

std::optional<TTextPos> TVtScreen::Find(const QString& needle, bool matchCase, TTextPos from,
                                        bool backwards) const {
    const qint64 count = EndLine() - FirstLine();
    if (needle.isEmpty() || count <= 0)
        return std::nullopt;
    const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    qint64 line = std::clamp(from.Line, FirstLine(), EndLine() - 1);
    QList<int> columns;
    for (qint64 step = 0; step <= count; ++step) {
        const QString text = Line(line).Text(0, 1 << 30, &columns);
        qsizetype index = -1;
        if (!backwards) {
            qsizetype start = 0;
            if (step == 0)
                start =
                    std::lower_bound(columns.begin(), columns.end(), from.Col) - columns.begin();
            index = text.indexOf(needle, start, cs);
        } else {
            qsizetype start = -1;
            if (step == 0) {
                start = std::lower_bound(columns.begin(), columns.end(), from.Col) -
                        columns.begin() - 1;
                if (start < 0)
                    start = -1 - text.size() - 1; // nothing before From on this line
            }
            if (start >= -text.size())
                index = text.lastIndexOf(needle, start, cs);
        }
        if (index >= 0 && index < columns.size())
            return TTextPos{line, columns.at(index)};
        line = backwards ? (line == FirstLine() ? EndLine() - 1 : line - 1)
                         : (line + 1 == EndLine() ? FirstLine() : line + 1);
    }
    return std::nullopt;
}

bool TVtScreen::SaveText(const QString& fileName, QString& error, bool withTimes) const {
    return SaveLines(
        fileName, FirstLine(), EndLine(),
        [this, withTimes](qint64 line) {
            const QByteArray text = LineText(line).toUtf8();
            return withTimes ? TLineTimes::Format(FTimes.At(line)).toUtf8() + ' ' + text : text;
        },
        error);
}

// --- Keys ----------------------------------------------------------------------

QByteArray TVtScreen::KeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    TVtKeyModes modes;
    modes.CursorKeysApp = FEngine.CursorKeysApp();
    modes.KeypadApp = FEngine.KeypadApp();
    modes.BackspaceSendsBs = BackspaceSendsBs;
    return VtKeyBytes(key, modifiers, text, modes);
}

QByteArray TVtScreen::PasteBytes(const QByteArray& utf8) {
    if (!FEngine.BracketedPaste())
        return utf8;
    return "\x1b[200~" + utf8 + "\x1b[201~";
}
