#include "terminal/TVtScreen.h"

#include "terminal/SaveLines.h"
#include "terminal/TScreenListener.h"


#include <vterm.h>

#include <algorithm>

namespace {

quint32 CellColour(const VTermColor& colour, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&colour) : VTERM_COLOR_IS_DEFAULT_BG(&colour))
        return TVtCell::DefaultColour;
    if (VTERM_COLOR_IS_INDEXED(&colour))
        return TVtCell::Indexed(colour.indexed.idx);
    return TVtCell::Rgb(colour.rgb.red, colour.rgb.green, colour.rgb.blue);
}

// The engine's cell as ours; marks collects combining characters.
TVtCell ToCell(const VTermScreenCell& from, QStringList& marks) {
    TVtCell cell;
    if (from.chars[0] == 0xFFFFFFFF) {
        cell.Flags = TVtCell::WideRight;
    } else {
        cell.Char = from.chars[0];
        if (from.width == 2)
            cell.Flags = TVtCell::Wide;
        if (from.chars[0] != 0 && from.chars[1] != 0) {
            QString extra;
            for (int i = 1; i < VTERM_MAX_CHARS_PER_CELL && from.chars[i] != 0; ++i)
                extra.append(QChar::fromUcs4(from.chars[i]));
            marks.append(extra);
            cell.Marks = static_cast<quint16>(std::min<qsizetype>(marks.size(), 0xFFFF));
        }
    }
    cell.Fg = CellColour(from.fg, true);
    cell.Bg = CellColour(from.bg, false);
    const VTermScreenCellAttrs& attrs = from.attrs;
    cell.Flags |= (attrs.bold ? TVtCell::Bold : 0) | (attrs.italic ? TVtCell::Italic : 0) |
                  (attrs.underline ? TVtCell::Underline : 0) | (attrs.blink ? TVtCell::Blink : 0) |
                  (attrs.reverse ? TVtCell::Reverse : 0) | (attrs.strike ? TVtCell::Strike : 0);
    // The filter carries dim and hidden in the font number.
    if (attrs.font & TVtSequenceFilter::DimFont)
        cell.Flags |= TVtCell::Dim;
    if (attrs.font & TVtSequenceFilter::HiddenFont)
        cell.Flags |= TVtCell::Hidden;
    return cell;
}

// The only answers a target gets: DA1 (CSI ? ... c), DA2 (CSI > ... c), the
// operating status (CSI 0 n) and the cursor position (CSI row ; col R).
// Everything else the engine would say (mode and setting reports, ...) is
// dropped: a report that echoes text the target chose could type commands
// into its shell.
bool IsAllowedAnswer(const QByteArray& answer) {
    if (!answer.startsWith("\x1b["))
        return false;
    const QByteArray body = answer.mid(2);
    if (body.isEmpty())
        return false;
    const auto digitsAndSemicolons = [](QByteArrayView text) {
        return std::all_of(text.begin(), text.end(),
                           [](char ch) { return (ch >= '0' && ch <= '9') || ch == ';'; });
    };
    const char final = body.back();
    const QByteArrayView inner = QByteArrayView(body).chopped(1);
    if (final == 'c')
        return !inner.isEmpty() && (inner.front() == '?' || inner.front() == '>') &&
               digitsAndSemicolons(inner.sliced(1));
    if (final == 'n')
        return inner == "0";
    if (final == 'R')
        return !inner.isEmpty() && inner.count(';') == 1 && digitsAndSemicolons(inner);
    return false;
}

VTermModifier EngineModifiers(Qt::KeyboardModifiers modifiers) {
    int result = VTERM_MOD_NONE;
    if (modifiers & Qt::ShiftModifier)
        result |= VTERM_MOD_SHIFT;
    if (modifiers & Qt::AltModifier)
        result |= VTERM_MOD_ALT;
    if (modifiers & Qt::ControlModifier)
        result |= VTERM_MOD_CTRL;
    return static_cast<VTermModifier>(result);
}

VTermKey EngineKey(int key, Qt::KeyboardModifiers modifiers) {
    const bool keypad = modifiers & Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_Up:
        return VTERM_KEY_UP;
    case Qt::Key_Down:
        return VTERM_KEY_DOWN;
    case Qt::Key_Left:
        return VTERM_KEY_LEFT;
    case Qt::Key_Right:
        return VTERM_KEY_RIGHT;
    case Qt::Key_Home:
        return VTERM_KEY_HOME;
    case Qt::Key_End:
        return VTERM_KEY_END;
    case Qt::Key_Insert:
        return VTERM_KEY_INS;
    case Qt::Key_Delete:
        return VTERM_KEY_DEL;
    case Qt::Key_PageUp:
        return VTERM_KEY_PAGEUP;
    case Qt::Key_PageDown:
        return VTERM_KEY_PAGEDOWN;
    case Qt::Key_Tab:
        return VTERM_KEY_TAB;
    case Qt::Key_Backtab:
        return VTERM_KEY_TAB;
    case Qt::Key_Escape:
        return VTERM_KEY_ESCAPE;
    case Qt::Key_Enter:
        return keypad ? VTERM_KEY_KP_ENTER : VTERM_KEY_NONE;
    default:
        break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return static_cast<VTermKey>(VTERM_KEY_FUNCTION(key - Qt::Key_F1 + 1));
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return static_cast<VTermKey>(VTERM_KEY_KP_0 + (key - Qt::Key_0));
        switch (key) {
        case Qt::Key_Asterisk:
            return VTERM_KEY_KP_MULT;
        case Qt::Key_Plus:
            return VTERM_KEY_KP_PLUS;
        case Qt::Key_Comma:
            return VTERM_KEY_KP_COMMA;
        case Qt::Key_Minus:
            return VTERM_KEY_KP_MINUS;
        case Qt::Key_Period:
            return VTERM_KEY_KP_PERIOD;
        case Qt::Key_Slash:
            return VTERM_KEY_KP_DIVIDE;
        default:
            break;
        }
    }
    return VTERM_KEY_NONE;
}

} // namespace

// The trampolines from the engine's C callbacks to the screen.
struct TVtEngineCallbacks {
    static TVtScreen& Of(void* user) { return *static_cast<TVtScreen*>(user); }
    static int Damage(VTermRect rect, void* user) {
        Of(user).Damage(rect.start_row, rect.end_row);
        return 1;
    }
    static int MoveRect(VTermRect dest, VTermRect src, void* user) {
        TVtScreen& screen = Of(user);
        const bool fullWidth = dest.start_col == 0 && dest.end_col == screen.FColumns;
        screen.MoveRect(dest.start_row, src.start_row, dest.end_row, fullWidth);
        return 1;
    }
    static int MoveCursor(VTermPos, VTermPos, int, void* user) {
        if (Of(user).FListener)
            Of(user).FListener->CursorChanged();
        return 1;
    }
    static int SetTermProp(VTermProp prop, VTermValue* value, void* user) {
        Of(user).PropertyChanged(prop, value);
        return 1;
    }
    static int Bell(void* user) {
        if (Of(user).FListener)
            Of(user).FListener->Beep();
        return 1;
    }
    static int PushLine(int columns, const VTermScreenCell* cells, void* user) {
        Of(user).PushLine(columns, cells);
        return 1;
    }
    static int PopLine(int, VTermScreenCell*, void*) { return 0; }
    static void Output(const char* bytes, size_t length, void* user) {
        Of(user).Output(bytes, length);
    }
    static const VTermScreenCallbacks Screen;
};

const VTermScreenCallbacks TVtEngineCallbacks::Screen = {
    TVtEngineCallbacks::Damage,      TVtEngineCallbacks::MoveRect, TVtEngineCallbacks::MoveCursor,
    TVtEngineCallbacks::SetTermProp, TVtEngineCallbacks::Bell,     nullptr,
    TVtEngineCallbacks::PushLine,    TVtEngineCallbacks::PopLine,
};

TVtScreen::TVtScreen(int columns, int rows)
    : FColumns(std::max(columns, MinColumns)), FRows(std::max(rows, 1)) {
    FTerm = vterm_new(FRows, FColumns);
    vterm_set_utf8(FTerm, 1);
    vterm_output_set_callback(FTerm, TVtEngineCallbacks::Output, this);
    FScreen = vterm_obtain_screen(FTerm);
    vterm_screen_set_callbacks(FScreen, &TVtEngineCallbacks::Screen, this);
    vterm_screen_enable_altscreen(FScreen, 1);
    vterm_screen_set_damage_merge(FScreen, VTERM_DAMAGE_SCROLL);
    vterm_screen_reset(FScreen, 1);
}

TVtScreen::~TVtScreen() {
    vterm_free(FTerm);
}

void TVtScreen::WriteText(const QByteArray& bytes) {
    FFiltered.resize(0);
    if (FRepair.PassesUnchanged(bytes)) {
        FFilter.Filter(bytes.constData(), bytes.size(), FFiltered);
    } else {
        FRepaired.resize(0);
        FRepair.Repair(bytes, FRepaired);
        FFilter.Filter(FRepaired.constData(), FRepaired.size(), FFiltered);
    }
    Feed(FFiltered.constData(), FFiltered.size());
    vterm_screen_flush_damage(FScreen);
    FPushedSinceFlush = 0;
}

// In pieces: the engine fails on a single write of several megabytes.
void TVtScreen::Feed(const char* bytes, qsizetype length) {
    constexpr qsizetype Piece = 4096;
    for (qsizetype at = 0; at < length; at += Piece)
        vterm_input_write(FTerm, bytes + at, static_cast<size_t>(std::min(Piece, length - at)));
}

void TVtScreen::Resize(int columns, int rows) {
    columns = std::max(columns, MinColumns);
    rows = std::max(rows, 1);
    if (columns == FColumns && rows == FRows)
        return;
    const bool shrinks = columns < FColumns || rows < FRows;
    FColumns = columns;
    FRows = rows;
    vterm_set_size(FTerm, rows, columns);
    // Rows cut off at the bottom must not lend their times to the rows that
    // come there later.
    FTimes.DropFrom(FScrolled + rows);
    // The engine may leave the cursor, and keeps the saved one, outside a
    // smaller screen (it moves the cursor with the rows it pushes off the
    // top), and the next write would then go past its rows: the cursor is
    // put back on the screen and saved there.
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(FTerm), &pos);
    const int row = std::clamp(pos.row, 0, rows - 1);
    const int col = std::clamp(pos.col, 0, columns - 1);
    QByteArray fix;
    if (row != pos.row || col != pos.col)
        fix = "\x1b[" + QByteArray::number(row + 1) + ';' + QByteArray::number(col + 1) + 'H';
    if (shrinks)
        fix += "\x1b"
               "7";
    if (!fix.isEmpty())
        vterm_input_write(FTerm, fix.constData(), static_cast<size_t>(fix.size()));
    vterm_screen_flush_damage(FScreen);
    FPushedSinceFlush = 0;
    if (FListener)
        FListener->Cleared();
}

void TVtScreen::Reset() {
    vterm_screen_reset(FScreen, 1);
    vterm_screen_flush_damage(FScreen);
    FRepair.Reset();
    FFilter.Reset();
    FHistory.clear();
    FTimes.Clear();
    FCursorVisible = true;
    FAltScreen = false;
    FTitle.clear();
    if (FListener)
        FListener->Cleared();
}

QStringList TVtScreen::VisibleText() const {
    QStringList rows;
    for (int row = 0; row < FRows; ++row)
        rows.append(ScreenRow(row).Text());
    return rows;
}

QPoint TVtScreen::Cursor() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(FTerm), &pos);
    return QPoint(pos.col, pos.row);
}

TVtLine TVtScreen::ScreenRow(int row) const {
    TVtLine line;
    line.Cells.resize(FColumns);
    VTermScreenCell cell;
    for (int col = 0; col < FColumns; ++col) {
        if (vterm_screen_get_cell(FScreen, VTermPos{row, col}, &cell))
            line.Cells[col] = ToCell(cell, line.Marks);
    }
    return line;
}

TVtLine TVtScreen::Line(qint64 line) const {
    if (line >= ScreenLine() && line < EndLine())
        return ScreenRow(static_cast<int>(line - ScreenLine()));
    if (line >= FirstLine() && line < ScreenLine())
        return FHistory.at(static_cast<size_t>(line - FirstLine()));
    return TVtLine();
}

// --- Engine callbacks -------------------------------------------------------

void TVtScreen::Damage(int firstRow, int endRow) {
    StampRows(firstRow, endRow);
    if (!FListener)
        return;
    for (int row = std::max(firstRow, 0); row < std::min(endRow, FRows); ++row)
        FListener->RowChanged(row);
}

// A changed row that shows text keeps the time it first did; a row that
// became blank loses its time, so the next text on it gets a new one. The
// alternate screen leaves the times of the main screen's rows alone.
void TVtScreen::StampRows(int firstRow, int endRow) {
    if (FAltScreen)
        return;
    for (int row = std::max(firstRow, 0); row < std::min(endRow, FRows); ++row) {
        if (RowBlank(row))
            FTimes.Unstamp(FScrolled + row);
        else
            FTimes.Stamp(FScrolled + row);
    }
}

bool TVtScreen::RowBlank(int row) const {
    VTermScreenCell cell;
    for (int col = 0; col < FColumns; ++col) {
        if (vterm_screen_get_cell(FScreen, VTermPos{row, col}, &cell) && cell.chars[0] != 0 &&
            cell.chars[0] != ' ' && cell.chars[0] != 0xFFFFFFFF)
            return false;
    }
    return true;
}

// A scroll of the whole main screen by the rows just pushed into the
// history is the pane's blit; any other move repaints where it landed.
void TVtScreen::MoveRect(int destRow, int srcRow, int endRow, bool fullWidth) {
    const int up = srcRow - destRow;
    // Rows scrolled off the top took their line numbers, and so their
    // times, with them; the rows of any other scroll take theirs along.
    if (fullWidth && !FAltScreen && !(destRow == 0 && up > 0))
        FTimes.Move(FScrolled + destRow, FScrolled + srcRow, endRow - destRow);
    const bool blitted =
        fullWidth && destRow == 0 && up > 0 && up <= FPushedSinceFlush && endRow + up == FRows;
    if (!blitted)
        Damage(destRow, endRow);
}

void TVtScreen::PropertyChanged(int property, const void* value) {
    const auto* val = static_cast<const VTermValue*>(value);
    switch (property) {
    case VTERM_PROP_CURSORVISIBLE:
        FCursorVisible = val->boolean;
        if (FListener)
            FListener->CursorChanged();
        break;
    case VTERM_PROP_ALTSCREEN:
        FAltScreen = val->boolean;
        break;
    case VTERM_PROP_TITLE:
        FTitle = QString::fromUtf8(val->string ? val->string : "").left(256);
        if (OnTitle)
            OnTitle(FTitle);
        break;
    default:
        break;
    }
}

void TVtScreen::PushLine(int columns, const void* cells) {
    const auto* from = static_cast<const VTermScreenCell*>(cells);
    TVtLine line;
    line.Cells.resize(columns);
    for (int col = 0; col < columns; ++col)
        line.Cells[col] = ToCell(from[col], line.Marks);
    line.TrimBlankEnd();
    line.Cells.squeeze();
    if (OnRowScrolledOff)
        OnRowScrolledOff(line);
    ++FScrolled;
    ++FPushedSinceFlush;
    if (FScrollbackLimit > 0)
        FHistory.push_back(std::move(line));
    Trim();
    if (FListener)
        FListener->ScrolledUp();
}

void TVtScreen::Output(const char* bytes, size_t length) {
    if (FKeyOutput) {
        FKeyOutput->append(bytes, static_cast<qsizetype>(length));
        return;
    }
    QByteArray answer(bytes, static_cast<qsizetype>(length));
    // An answer in 8-bit form is sent in 7-bit form.
    if (answer.startsWith('\x9b'))
        answer.replace(0, 1, "\x1b[");
    if (IsAllowedAnswer(answer) && OnAnswer)
        OnAnswer(answer);
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
    const Qt::KeyboardModifiers chord =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool alt = chord & Qt::AltModifier;
    const QByteArray prefix = alt ? QByteArray("\x1b") : QByteArray();
    if (key >= Qt::Key_A && key <= Qt::Key_Z && (chord & Qt::ControlModifier)) {
        // Shift+Ctrl+letter belongs to the macros.
        if (chord & Qt::ShiftModifier)
            return QByteArray();
        return prefix + char(key - Qt::Key_A + 1);
    }
    if (key == Qt::Key_Backspace)
        return prefix + (BackspaceSendsBs ? '\b' : '\x7f');
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !(modifiers & Qt::KeypadModifier))
        return QByteArray();
    const VTermKey engineKey = EngineKey(key, modifiers);
    QByteArray bytes;
    FKeyOutput = &bytes;
    if (engineKey != VTERM_KEY_NONE) {
        vterm_keyboard_key(FTerm, engineKey, EngineModifiers(chord));
    } else if (!text.isEmpty() && (chord & Qt::ControlModifier) && text.size() == 1 &&
               text.at(0).unicode() < 0x20) {
        bytes = prefix + text.toLatin1(); // Ctrl+[ \ ] ^ _ and Ctrl+Space
    } else if (!text.isEmpty() && !text.at(0).isNull()) {
        bytes = prefix + text.toUtf8();
    }
    FKeyOutput = nullptr;
    return bytes;
}

QByteArray TVtScreen::PasteBytes(const QByteArray& utf8) {
    QByteArray bytes;
    FKeyOutput = &bytes;
    vterm_keyboard_start_paste(FTerm);
    FKeyOutput = nullptr;
    bytes += utf8;
    QByteArray end;
    FKeyOutput = &end;
    vterm_keyboard_end_paste(FTerm);
    FKeyOutput = nullptr;
    return bytes + end;
}
