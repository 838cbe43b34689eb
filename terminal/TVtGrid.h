#pragma once

#include "terminal/TVtLine.h"

#include <vector>

// The cells of one screen buffer of the VT emulation (the main or the
// alternate screen): Rows rows of exactly Columns cells each, and the
// editing operations on them. Erased cells take Blank (its colours).
class TVtGrid {
public:
    TVtGrid(int columns, int rows);

    int Columns() const { return FColumns; }
    int Rows() const { return static_cast<int>(FLines.size()); }
    TVtLine& Row(int row) { return FLines[Index(row)]; }
    const TVtLine& Row(int row) const { return FLines[Index(row)]; }

    // Cells From up to To (exclusive) of Row become Blank.
    void Erase(int row, int from, int to, const TVtCell& blank);
    void EraseRows(int first, int end, const TVtCell& blank);
    // Count blank cells go in at Col, the cells after it move right (and
    // off the end); or Count cells at Col go, the rest move left.
    void InsertCells(int row, int col, int count, const TVtCell& blank);
    void DeleteCells(int row, int col, int count, const TVtCell& blank);
    // Rows Top..Bottom (inclusive) move up (or down) by Count; the rows
    // that come in are blank.
    void ScrollUp(int top, int bottom, int count, const TVtCell& blank);
    void ScrollDown(int top, int bottom, int count, const TVtCell& blank);
    // Before writing cells From up to To: a wide character cut in two by
    // the edges of the range loses its other half.
    void SplitWideAt(int row, int from, int to) { SplitWide(Row(row).Cells.data(), from, to); }
    void SplitWide(TVtCell* cells, int from, int to) const {
        if (from > 0 && from < FColumns && (cells[from].Flags & TVtCell::WideRight))
            cells[from - 1] = TVtCell{0, cells[from - 1].Fg, cells[from - 1].Bg, 0, 0};
        if (to > 0 && to < FColumns && (cells[to].Flags & TVtCell::WideRight))
            cells[to] = TVtCell{0, cells[to].Fg, cells[to].Bg, 0, 0};
    }
    // A combining mark joins the character in cell Col.
    void AddMark(int row, int col, char32_t mark);
    // Top rows dropped (DropTop), then cut or padded to the new size.
    void Resize(int columns, int rows, int dropTop);

private:
    size_t Index(int row) const {
        const int at = FFirst + row;
        return static_cast<size_t>(at < Rows() ? at : at - Rows());
    }
    // Makes row 0 the first of FLines again.
    void Unrotate();
    TVtLine BlankLine(const TVtCell& blank) const;
    static void CompactMarks(TVtLine& line);

    int FColumns;
    // A ring: screen row R is FLines[(FFirst + R) % rows], so that a scroll
    // of the whole grid moves no row.
    std::vector<TVtLine> FLines;
    int FFirst = 0;
};
