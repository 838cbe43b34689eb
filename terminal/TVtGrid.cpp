#include "terminal/TVtGrid.h"

#include <algorithm>

namespace {

// What one cell's marks may hold (a character with a few accents).
constexpr qsizetype MaxMarksPerCell = 16;

} // namespace

TVtGrid::TVtGrid(int columns, int rows) : FColumns(columns) {
    FLines.resize(static_cast<size_t>(rows), BlankLine(TVtCell()));
}

TVtLine TVtGrid::BlankLine(const TVtCell& blank) const {
    TVtLine line;
    line.Cells.fill(blank, FColumns);
    return line;
}

void TVtGrid::Erase(int row, int from, int to, const TVtCell& blank) {
    from = std::max(from, 0);
    to = std::min(to, FColumns);
    if (from >= to)
        return;
    TVtLine& line = Row(row);
    if (from == 0 && to == FColumns) {
        // A row given away to the history comes back at any width.
        line.Cells.fill(blank, FColumns);
        line.Marks.clear();
        return;
    }
    SplitWideAt(row, from, to);
    std::fill(line.Cells.begin() + from, line.Cells.begin() + to, blank);
}

void TVtGrid::EraseRows(int first, int end, const TVtCell& blank) {
    for (int row = std::max(first, 0); row < std::min(end, Rows()); ++row)
        Erase(row, 0, FColumns, blank);
}

void TVtGrid::InsertCells(int row, int col, int count, const TVtCell& blank) {
    if (col < 0 || col >= FColumns)
        return;
    count = std::min(count, FColumns - col);
    SplitWideAt(row, col, col);
    TVtCell* cells = Row(row).Cells.data();
    std::move_backward(cells + col, cells + FColumns - count, cells + FColumns);
    std::fill(cells + col, cells + col + count, blank);
    // A wide character pushed half off the end goes.
    if (cells[FColumns - 1].Flags & TVtCell::Wide)
        cells[FColumns - 1] = blank;
}

void TVtGrid::DeleteCells(int row, int col, int count, const TVtCell& blank) {
    if (col < 0 || col >= FColumns)
        return;
    count = std::min(count, FColumns - col);
    SplitWideAt(row, col, col + count);
    TVtCell* cells = Row(row).Cells.data();
    std::move(cells + col + count, cells + FColumns, cells + col);
    std::fill(cells + FColumns - count, cells + FColumns, blank);
}

void TVtGrid::Unrotate() {
    std::rotate(FLines.begin(), FLines.begin() + FFirst, FLines.end());
    FFirst = 0;
}

void TVtGrid::ScrollUp(int top, int bottom, int count, const TVtCell& blank) {
    count = std::min(count, bottom - top + 1);
    if (count <= 0)
        return;
    if (top == 0 && bottom == Rows() - 1) {
        FFirst = (FFirst + count) % Rows();
        EraseRows(bottom + 1 - count, bottom + 1, blank);
        return;
    }
    Unrotate();
    std::rotate(FLines.begin() + top, FLines.begin() + top + count, FLines.begin() + bottom + 1);
    EraseRows(bottom + 1 - count, bottom + 1, blank);
}

void TVtGrid::ScrollDown(int top, int bottom, int count, const TVtCell& blank) {
    count = std::min(count, bottom - top + 1);
    if (count <= 0)
        return;
    Unrotate();
    std::rotate(FLines.begin() + top, FLines.begin() + bottom + 1 - count,
                FLines.begin() + bottom + 1);
    EraseRows(top, top + count, blank);
}

void TVtGrid::AddMark(int row, int col, char32_t mark) {
    TVtLine& line = Row(row);
    TVtCell& cell = line.Cells[col];
    if (cell.Marks > 0 && cell.Marks <= line.Marks.size()) {
        QString& marks = line.Marks[cell.Marks - 1];
        if (marks.size() < MaxMarksPerCell)
            marks.append(QChar::fromUcs4(mark));
        return;
    }
    if (line.Marks.size() >= 2 * FColumns)
        CompactMarks(line);
    if (line.Marks.size() >= 0xFFFF)
        return;
    line.Marks.append(QString::fromUcs4(&mark, 1));
    cell.Marks = static_cast<quint16>(line.Marks.size());
}

// Drops the marks of cells written over since.
void TVtGrid::CompactMarks(TVtLine& line) {
    QStringList kept;
    for (TVtCell& cell : line.Cells) {
        if (cell.Marks == 0 || cell.Marks > line.Marks.size())
            continue;
        kept.append(line.Marks.at(cell.Marks - 1));
        cell.Marks = static_cast<quint16>(kept.size());
    }
    line.Marks = kept;
}

void TVtGrid::Resize(int columns, int rows, int dropTop) {
    Unrotate();
    dropTop = std::clamp(dropTop, 0, Rows());
    FLines.erase(FLines.begin(), FLines.begin() + dropTop);
    FColumns = columns;
    for (TVtLine& line : FLines) {
        if (line.Cells.size() > columns && (line.Cells[columns].Flags & TVtCell::WideRight))
            line.Cells[columns - 1] = TVtCell{};
        line.Cells.resize(columns);
    }
    FLines.resize(static_cast<size_t>(rows), BlankLine(TVtCell()));
}
