#include "terminal/TVtEngine.h"

#include "terminal/TVtCharWidth.h"

#include <algorithm>

namespace {

constexpr int TabWidth = 8;
// REP repeats at most a screenful.
constexpr int MaxRepeat = 500 * 500;
constexpr int MaxTitle = 256;

// The DEC special graphics set for 0x5F to 0x7E.
constexpr char16_t DecGraphics[] = {
    0x00A0, 0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B,
    0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C,
    0x2524, 0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};

char32_t DecGraphic(char ch) {
    return ch >= 0x5F && ch <= 0x7E ? DecGraphics[ch - 0x5F] : char32_t(uchar(ch));
}

// The combining marks that are also wide (U+302A to U+302F, U+3099,
// U+309A) do not join the cell before them: the two kana sound marks show
// as their spacing forms, the tone marks as U+FFFD.
char32_t SpacingForm(char32_t ch) {
    if (ch >= 0x302A && ch <= 0x302F)
        return 0xFFFD;
    if (ch == 0x3099 || ch == 0x309A)
        return ch + 2;
    return ch;
}

} // namespace

TVtEngine::TVtEngine(int columns, int rows) : FMain(columns, rows), FAlt(columns, rows) {
    FBottom = rows - 1;
    ResetTabs(0);
}

void TVtEngine::Reset() {
    FParser.Reset();
    FGrid = &FMain;
    FMain.EraseRows(0, Rows(), TVtCell());
    FAlt.EraseRows(0, Rows(), TVtCell());
    SoftReset();
    FX = FY = 0;
    FSaved[0] = FSaved[1] = TSavedCursor();
    FNewLine = FBracketedPaste = false;
    FCursorStyle = 0;
    FLastChar = 0;
    FTabs.clear();
    ResetTabs(0);
    DamageRows(0, Rows());
}

// DECSTR: modes, margins, pen and character sets as at power-on; the
// screen stays.
void TVtEngine::SoftReset() {
    FWrapPending = false;
    FPen = TVtCell();
    FTop = 0;
    FBottom = Rows() - 1;
    FOrigin = FInsert = false;
    FAutoWrap = FCursorVisible = true;
    FCursorKeysApp = FKeypadApp = false;
    FCharsets[0] = FCharsets[1] = 'B';
    FShift = 0;
}

void TVtEngine::ResetTabs(int from) {
    FTabs.resize(static_cast<size_t>(Columns()));
    for (int col = from; col < Columns(); ++col)
        FTabs[static_cast<size_t>(col)] = col % TabWidth == 0 && col > 0;
}

void TVtEngine::Resize(int columns, int rows) {
    const int oldColumns = Columns();
    // Rows cut off above the cursor go to the history (main screen).
    const int drop = std::max(FY - (rows - 1), 0);
    if (FGrid == &FMain) {
        for (int row = 0; row < drop; ++row) {
            if (OnRowOff)
                OnRowOff(FMain.Row(row));
            ++FRowsOff;
        }
    }
    FMain.Resize(columns, rows, FGrid == &FMain ? drop : 0);
    FAlt.Resize(columns, rows, FGrid == &FAlt ? drop : 0);
    FTabs.resize(static_cast<size_t>(columns));
    if (columns > oldColumns)
        ResetTabs(oldColumns);
    FTop = 0;
    FBottom = rows - 1;
    FWrapPending = false;
    FX = std::min(FX, columns - 1);
    FY = std::clamp(FY - drop, 0, rows - 1);
    for (TSavedCursor& saved : FSaved) {
        saved.X = std::min(saved.X, columns - 1);
        saved.Y = std::min(saved.Y, rows - 1);
    }
    DamageRows(0, rows);
}

std::pair<qint64, qint64> TVtEngine::TakeDamage() {
    const std::pair<qint64, qint64> damage{FDamageFirst, FDamageLast};
    FDamageFirst = 1;
    FDamageLast = 0;
    return damage;
}

void TVtEngine::Damage(int row) {
    const qint64 line = FRowsOff + row;
    if (FDamageFirst > FDamageLast) {
        FDamageFirst = FDamageLast = line;
        return;
    }
    FDamageFirst = std::min(FDamageFirst, line);
    FDamageLast = std::max(FDamageLast, line);
}

void TVtEngine::DamageRows(int first, int end) {
    if (first < end) {
        Damage(first);
        Damage(end - 1);
    }
}

// --- Text ----------------------------------------------------------------

void TVtEngine::PrintAscii(const char* text, qsizetype length) {
    if (FCharsets[FShift] == '0') {
        PutGraphics(text, length);
        return;
    }
    const int columns = Columns();
    while (length > 0) {
        WrapIfPending();
        qsizetype take = std::min<qsizetype>(length, columns - FX);
        if (!FAutoWrap && length > take) {
            // Without wrapping, the last character of the run ends up in
            // the last column.
            if (take > 1)
                PrintAscii(text, take - 1);
            FX = columns - 1;
            text += length - 1;
            length = take = 1;
        }
        if (FInsert)
            FGrid->InsertCells(FY, FX, static_cast<int>(take), Blank());
        TVtCell* cells = FGrid->Row(FY).Cells.data();
        FGrid->SplitWide(cells, FX, FX + static_cast<int>(take));
        cells += FX;
        for (qsizetype i = 0; i < take; ++i) {
            cells[i] = FPen;
            cells[i].Char = static_cast<uchar>(text[i]);
        }
        FLastChar = static_cast<uchar>(text[take - 1]);
        Damage(FY);
        FX += static_cast<int>(take);
        text += take;
        length -= take;
        if (FX >= columns) {
            FX = columns - 1;
            FWrapPending = FAutoWrap;
        }
    }
}

void TVtEngine::PutGraphics(const char* text, qsizetype length) {
    for (qsizetype i = 0; i < length; ++i)
        PutCell(DecGraphic(text[i]), 1);
}

void TVtEngine::PrintChar(char32_t ch) {
    ch = SpacingForm(ch);
    const int width = CharWidth(ch);
    if (width == 0)
        AddMark(ch);
    else
        PutCell(ch, width);
}

void TVtEngine::WrapIfPending() {
    if (!FWrapPending)
        return;
    FWrapPending = false;
    FX = 0;
    Index();
}

void TVtEngine::PutCell(char32_t ch, int width) {
    const int columns = Columns();
    WrapIfPending();
    if (width == 2 && FX == columns - 1) {
        if (FAutoWrap) {
            FWrapPending = true;
            WrapIfPending();
        } else {
            FX = columns - 2;
        }
    }
    if (FInsert)
        FGrid->InsertCells(FY, FX, width, Blank());
    TVtCell* cells = FGrid->Row(FY).Cells.data();
    FGrid->SplitWide(cells, FX, FX + width);
    cells += FX;
    cells[0] = FPen;
    cells[0].Char = ch;
    if (width == 2) {
        cells[0].Flags |= TVtCell::Wide;
        cells[1] = FPen;
        cells[1].Flags |= TVtCell::WideRight;
    }
    FLastChar = ch;
    Damage(FY);
    FX += width;
    if (FX >= columns) {
        FX = columns - 1;
        FWrapPending = FAutoWrap;
    }
}

// A combining mark joins the character before the cursor.
void TVtEngine::AddMark(char32_t mark) {
    int col = FWrapPending ? FX : FX - 1;
    if (col < 0)
        return;
    if ((FGrid->Row(FY).Cells.at(col).Flags & TVtCell::WideRight) && col > 0)
        --col;
    FGrid->AddMark(FY, col, mark);
    Damage(FY);
}

// --- Controls --------------------------------------------------------------

void TVtEngine::Execute(char control) {
    switch (control) {
    case '\a':
        if (OnBell)
            OnBell();
        break;
    case '\b':
        FWrapPending = false;
        FX = std::max(FX - 1, 0);
        break;
    case '\t':
        Tab(1);
        break;
    case '\n':
    case '\v':
    case '\f':
        FWrapPending = false;
        Index();
        if (FNewLine || BareLfReturns)
            FX = 0;
        break;
    case '\r':
        FWrapPending = false;
        FX = 0;
        if (CrFeedsLine)
            Index();
        break;
    case 0x0E:
        FShift = 1;
        break;
    case 0x0F:
        FShift = 0;
        break;
    default:
        break;
    }
}

void TVtEngine::EscDispatch(const TVtSequence& seq) {
    const char first = seq.Intermediates[0];
    if (first == '(' || first == ')') {
        FCharsets[first == '(' ? 0 : 1] = seq.Final == '0' ? '0' : 'B';
        return;
    }
    if (first == '#' && seq.Final == '8') {
        AlignmentTest();
        return;
    }
    if (first != 0)
        return;
    switch (seq.Final) {
    case '7':
        SaveCursor();
        break;
    case '8':
        RestoreCursor();
        break;
    case 'D':
        FWrapPending = false;
        Index();
        break;
    case 'E':
        FWrapPending = false;
        FX = 0;
        Index();
        break;
    case 'H':
        FTabs[static_cast<size_t>(FX)] = true;
        break;
    case 'M':
        FWrapPending = false;
        ReverseIndex();
        break;
    case 'c':
        Reset();
        break;
    case '=':
        FKeypadApp = true;
        break;
    case '>':
        FKeypadApp = false;
        break;
    default:
        break;
    }
}

void TVtEngine::OscDispatch(QByteArrayView text) {
    const qsizetype semicolon = text.indexOf(';');
    if (semicolon < 0)
        return;
    const QByteArrayView command = text.first(semicolon);
    if (command != "0" && command != "2")
        return;
    const QString title = QString::fromUtf8(text.sliced(semicolon + 1)).left(MaxTitle);
    if (OnTitle)
        OnTitle(title);
}

// --- Cursor ------------------------------------------------------------------

void TVtEngine::MoveTo(int x, int y) {
    FWrapPending = false;
    FX = std::clamp(x, 0, Columns() - 1);
    FY = std::clamp(y, 0, Rows() - 1);
}

// CUP and VPA count from the top margin in origin mode, and stay inside
// the margins.
void TVtEngine::MoveToOrigin(int x, int y) {
    if (FOrigin)
        MoveTo(x, std::clamp(y + FTop, FTop, FBottom));
    else
        MoveTo(x, y);
}

void TVtEngine::MoveUp(int count) {
    const int limit = FY >= FTop ? FTop : 0;
    MoveTo(FX, std::max(FY - count, limit));
}

void TVtEngine::MoveDown(int count) {
    const int limit = FY <= FBottom ? FBottom : Rows() - 1;
    MoveTo(FX, std::min(FY + count, limit));
}

void TVtEngine::Tab(int count) {
    FWrapPending = false;
    while (count-- > 0 && FX < Columns() - 1) {
        ++FX;
        while (FX < Columns() - 1 && !FTabs[static_cast<size_t>(FX)])
            ++FX;
    }
}

void TVtEngine::BackTab(int count) {
    FWrapPending = false;
    while (count-- > 0 && FX > 0) {
        --FX;
        while (FX > 0 && !FTabs[static_cast<size_t>(FX)])
            --FX;
    }
}

void TVtEngine::Index() {
    if (FY == FBottom)
        ScrollUp(FTop, FBottom, 1);
    else if (FY < Rows() - 1)
        ++FY;
}

void TVtEngine::ReverseIndex() {
    if (FY == FTop)
        ScrollDown(FTop, FBottom, 1);
    else if (FY > 0)
        --FY;
}

void TVtEngine::SaveCursor() {
    TSavedCursor& saved = FSaved[AltScreen() ? 1 : 0];
    saved.X = FX;
    saved.Y = FY;
    saved.Pen = FPen;
    saved.Charsets[0] = FCharsets[0];
    saved.Charsets[1] = FCharsets[1];
    saved.Shift = FShift;
    saved.Origin = FOrigin;
}

void TVtEngine::RestoreCursor() {
    const TSavedCursor& saved = FSaved[AltScreen() ? 1 : 0];
    FPen = saved.Pen;
    FCharsets[0] = saved.Charsets[0];
    FCharsets[1] = saved.Charsets[1];
    FShift = saved.Shift;
    FOrigin = saved.Origin;
    MoveTo(saved.X, saved.Y);
}

// --- Editing -------------------------------------------------------------------

// Erased cells keep the background colour of the pen.
TVtCell TVtEngine::Blank() const {
    TVtCell blank;
    blank.Bg = FPen.Bg;
    return blank;
}

void TVtEngine::EraseDisplay(int mode) {
    switch (mode) {
    case 0:
        EraseLine(0);
        FGrid->EraseRows(FY + 1, Rows(), Blank());
        DamageRows(FY, Rows());
        break;
    case 1:
        EraseLine(1);
        FGrid->EraseRows(0, FY, Blank());
        DamageRows(0, FY + 1);
        break;
    case 2:
        FGrid->EraseRows(0, Rows(), Blank());
        DamageRows(0, Rows());
        break;
    default:
        // 3 would empty the history: a target may not wipe what was seen.
        break;
    }
}

void TVtEngine::EraseLine(int mode) {
    FWrapPending = false;
    switch (mode) {
    case 0:
        FGrid->Erase(FY, FX, Columns(), Blank());
        break;
    case 1:
        FGrid->Erase(FY, 0, FX + 1, Blank());
        break;
    case 2:
        FGrid->Erase(FY, 0, Columns(), Blank());
        break;
    default:
        return;
    }
    Damage(FY);
}

// A scroll of the whole main screen moves its top rows into the history
// (the pane blits what moved); any other scroll repaints the region.
void TVtEngine::ScrollUp(int top, int bottom, int count) {
    count = std::min(count, bottom - top + 1);
    if (count <= 0)
        return;
    const bool toHistory = FGrid == &FMain && top == 0 && bottom == Rows() - 1;
    if (!toHistory) {
        MoveRows(top, bottom, count, true);
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (OnRowOff)
            OnRowOff(FMain.Row(0));
        ++FRowsOff;
        FMain.ScrollUp(0, bottom, 1, Blank());
    }
    DamageRows(bottom + 1 - count, bottom + 1);
}

void TVtEngine::ScrollDown(int top, int bottom, int count) {
    MoveRows(top, bottom, count, false);
}

// Rows Top to Bottom move Count rows up or down; the rows they leave are
// blank.
void TVtEngine::MoveRows(int top, int bottom, int count, bool up) {
    count = std::min(count, bottom - top + 1);
    if (count <= 0)
        return;
    if (up)
        FGrid->ScrollUp(top, bottom, count, Blank());
    else
        FGrid->ScrollDown(top, bottom, count, Blank());
    DamageRows(top, bottom + 1);
    const int moved = bottom - top + 1 - count;
    if (FGrid == &FMain && moved > 0 && OnRowsMoved)
        up ? OnRowsMoved(top, top + count, moved) : OnRowsMoved(top + count, top, moved);
}

void TVtEngine::InsertLines(int count) {
    if (FY < FTop || FY > FBottom)
        return;
    ScrollDown(FY, FBottom, count);
    MoveTo(0, FY);
}

void TVtEngine::DeleteLines(int count) {
    if (FY < FTop || FY > FBottom)
        return;
    MoveRows(FY, FBottom, count, true);
    MoveTo(0, FY);
}

// DECALN: the screen fills with E, margins and cursor go home.
void TVtEngine::AlignmentTest() {
    TVtCell cell;
    cell.Char = U'E';
    for (int row = 0; row < Rows(); ++row)
        FGrid->Row(row).Cells.fill(cell);
    FTop = 0;
    FBottom = Rows() - 1;
    FOrigin = false;
    MoveTo(0, 0);
    DamageRows(0, Rows());
}

// --- Control sequences ---------------------------------------------------------

void TVtEngine::CsiDispatch(const TVtSequence& seq) {
    const char inter = seq.Intermediates[0];
    if (inter == ' ' && seq.Final == 'q') {
        FCursorStyle = seq.Param(0, 0);
        return;
    }
    if (inter == '!' && seq.Final == 'p') {
        SoftReset();
        return;
    }
    if (inter != 0)
        return;
    if (seq.Marker == '?' || seq.Marker == '>') {
        if (seq.Final == 'h' || seq.Final == 'l')
            SetMode(seq, seq.Final == 'h');
        else if (seq.Final == 'c' && seq.Marker == '>')
            Report(seq);
        return;
    }
    if (seq.Marker != 0)
        return;
    const int n = seq.Count1(0);
    switch (seq.Final) {
    case '@':
        FWrapPending = false;
        FGrid->InsertCells(FY, FX, n, Blank());
        Damage(FY);
        break;
    case 'A':
        MoveUp(n);
        break;
    case 'B':
    case 'e':
        MoveDown(n);
        break;
    case 'C':
    case 'a':
        MoveTo(FX + n, FY);
        break;
    case 'D':
        MoveTo(FX - n, FY);
        break;
    case 'E':
        MoveDown(n);
        FX = 0;
        break;
    case 'F':
        MoveUp(n);
        FX = 0;
        break;
    case 'G':
    case '`':
        MoveTo(n - 1, FY);
        break;
    case 'H':
    case 'f':
        MoveToOrigin(seq.Count1(1) - 1, n - 1);
        break;
    case 'I':
        Tab(n);
        break;
    case 'J':
        EraseDisplay(seq.Param(0, 0));
        break;
    case 'K':
        EraseLine(seq.Param(0, 0));
        break;
    case 'L':
        InsertLines(n);
        break;
    case 'M':
        DeleteLines(n);
        break;
    case 'P':
        FWrapPending = false;
        FGrid->DeleteCells(FY, FX, n, Blank());
        Damage(FY);
        break;
    case 'S':
        MoveRows(FTop, FBottom, n, true);
        break;
    case 'T':
        if (seq.Count <= 1)
            ScrollDown(FTop, FBottom, n);
        break;
    case 'X':
        FWrapPending = false;
        FGrid->Erase(FY, FX, FX + n, Blank());
        Damage(FY);
        break;
    case 'Z':
        BackTab(n);
        break;
    case 'b':
        if (FLastChar != 0) {
            const char32_t ch = FLastChar;
            const int width = CharWidth(ch);
            for (int i = 0; i < std::min(n, MaxRepeat) && width > 0; ++i)
                PutCell(ch, width);
        }
        break;
    case 'c':
    case 'n':
        Report(seq);
        break;
    case 'd':
        MoveToOrigin(FX, n - 1);
        break;
    case 'g':
        if (seq.Param(0, 0) == 0)
            FTabs[static_cast<size_t>(FX)] = false;
        else if (seq.Param(0, 0) == 3)
            std::fill(FTabs.begin(), FTabs.end(), false);
        break;
    case 'h':
    case 'l':
        SetMode(seq, seq.Final == 'h');
        break;
    case 'm':
        SelectGraphicRendition(seq);
        break;
    case 'r':
        SetMargins(seq);
        break;
    case 's':
        SaveCursor();
        break;
    case 'u':
        RestoreCursor();
        break;
    default:
        break;
    }
}

// The only reports there are: DA1, DA2, DSR 5 and DSR 6.
void TVtEngine::Report(const TVtSequence& seq) {
    if (!OnAnswer)
        return;
    const int what = seq.Param(0, 0);
    if (seq.Final == 'c') {
        if (what == 0)
            OnAnswer(seq.Marker == '>' ? QByteArray("\x1b[>0;100;0c") : QByteArray("\x1b[?1;2c"));
    } else if (what == 5) {
        OnAnswer("\x1b[0n");
    } else if (what == 6) {
        const int row = FOrigin ? FY - FTop : FY;
        OnAnswer("\x1b[" + QByteArray::number(row + 1) + ';' + QByteArray::number(FX + 1) + 'R');
    }
}

void TVtEngine::SetMode(const TVtSequence& seq, bool on) {
    for (int i = 0; i < seq.Count; ++i) {
        const int mode = seq.Param(i, 0);
        if (seq.Marker == '?')
            SetPrivateMode(mode, on);
        else if (seq.Marker == 0 && mode == 4)
            FInsert = on;
        else if (seq.Marker == 0 && mode == 20)
            FNewLine = on;
    }
}

void TVtEngine::SetPrivateMode(int mode, bool on) {
    switch (mode) {
    case 1:
        FCursorKeysApp = on;
        break;
    case 6:
        FOrigin = on;
        MoveToOrigin(0, 0);
        break;
    case 7:
        FAutoWrap = on;
        if (!on)
            FWrapPending = false;
        break;
    case 25:
        FCursorVisible = on;
        break;
    case 66:
        FKeypadApp = on;
        break;
    case 47:
    case 1047:
        SwitchScreen(on);
        break;
    case 1049:
        if (on) {
            if (!AltScreen())
                SaveCursor();
            SwitchScreen(true);
        } else if (AltScreen()) {
            SwitchScreen(false);
            RestoreCursor();
        }
        break;
    case 2004:
        FBracketedPaste = on;
        break;
    default:
        break;
    }
}

// The alternate screen comes up empty; the main one comes back as it was.
void TVtEngine::SwitchScreen(bool alternate) {
    if (alternate == AltScreen())
        return;
    FGrid = alternate ? &FAlt : &FMain;
    if (alternate)
        FAlt.EraseRows(0, Rows(), Blank());
    FWrapPending = false;
    DamageRows(0, Rows());
}

void TVtEngine::SetMargins(const TVtSequence& seq) {
    const int top = seq.Count1(0) - 1;
    const int bottom = std::min(seq.Param(1, 0) > 0 ? seq.Param(1, 0) : Rows(), Rows()) - 1;
    if (top >= bottom)
        return;
    FTop = top;
    FBottom = bottom;
    MoveToOrigin(0, 0);
}

// --- Graphic rendition -------------------------------------------------------

void TVtEngine::SelectGraphicRendition(const TVtSequence& seq) {
    if (seq.Count == 0) {
        FPen = TVtCell();
        return;
    }
    for (int i = 0; i < seq.Count; ++i) {
        const int value = seq.Param(i, 0);
        quint16& flags = FPen.Flags;
        if (value >= 30 && value <= 37) {
            FPen.Fg = TVtCell::Indexed(value - 30);
        } else if (value >= 40 && value <= 47) {
            FPen.Bg = TVtCell::Indexed(value - 40);
        } else if (value >= 90 && value <= 97) {
            FPen.Fg = TVtCell::Indexed(value - 90 + 8);
        } else if (value >= 100 && value <= 107) {
            FPen.Bg = TVtCell::Indexed(value - 100 + 8);
        } else if (value == 38 || value == 48 || value == 58) {
            quint32 colour = TVtCell::DefaultColour;
            const int used = ExtendedColour(seq, i, colour);
            if (used > 0 && value == 38)
                FPen.Fg = colour;
            else if (used > 0 && value == 48)
                FPen.Bg = colour;
            i += used;
        } else {
            switch (value) {
            case 0:
                FPen = TVtCell();
                break;
            case 1:
                flags |= TVtCell::Bold;
                break;
            case 2:
                flags |= TVtCell::Dim;
                break;
            case 3:
                flags |= TVtCell::Italic;
                break;
            case 4:
            case 21:
                // 4:0 is "no underline".
                if (value == 4 && seq.IsSub(i + 1) && seq.Param(i + 1, 1) == 0)
                    flags &= ~TVtCell::Underline;
                else
                    flags |= TVtCell::Underline;
                break;
            case 5:
            case 6:
                flags |= TVtCell::Blink;
                break;
            case 7:
                flags |= TVtCell::Reverse;
                break;
            case 8:
                flags |= TVtCell::Hidden;
                break;
            case 9:
                flags |= TVtCell::Strike;
                break;
            case 22:
                flags &= ~(TVtCell::Bold | TVtCell::Dim);
                break;
            case 23:
                flags &= ~TVtCell::Italic;
                break;
            case 24:
                flags &= ~TVtCell::Underline;
                break;
            case 25:
                flags &= ~TVtCell::Blink;
                break;
            case 27:
                flags &= ~TVtCell::Reverse;
                break;
            case 28:
                flags &= ~TVtCell::Hidden;
                break;
            case 29:
                flags &= ~TVtCell::Strike;
                break;
            case 39:
                FPen.Fg = TVtCell::DefaultColour;
                break;
            case 49:
                FPen.Bg = TVtCell::DefaultColour;
                break;
            default:
                break;
            }
        }
        // Sub-parameters of a value belong to it.
        while (seq.IsSub(i + 1))
            ++i;
    }
}

// The colour of 38/48/58 at At: "5;n", "2;r;g;b", or their ':' forms
// ("2:cs:r:g:b" with a colour space). Returns how many parameters after At
// it used.
int TVtEngine::ExtendedColour(const TVtSequence& seq, int at, quint32& colour) {
    const bool colon = seq.IsSub(at + 1);
    const int kind = seq.Param(at + 1, -1);
    if (kind == 5) {
        if (at + 2 >= seq.Count)
            return seq.Count - at - 1;
        colour = TVtCell::Indexed(std::min(seq.Param(at + 2, 0), 255));
        return 2;
    }
    if (kind != 2)
        return at + 1 < seq.Count ? 1 : 0;
    int first = at + 2;
    if (colon) {
        int subs = 0;
        while (seq.IsSub(at + 2 + subs))
            ++subs;
        if (subs >= 4)
            ++first; // a colour space comes first
    }
    if (first + 2 >= seq.Count)
        return seq.Count - at - 1;
    colour =
        TVtCell::Rgb(std::min(seq.Param(first, 0), 255), std::min(seq.Param(first + 1, 0), 255),
                     std::min(seq.Param(first + 2, 0), 255));
    return first + 2 - at;
}
