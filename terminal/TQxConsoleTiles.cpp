#include "terminal/TQxConsoleTiles.h"

#include "terminal/TCellFont.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// Room for the widest row of any emulation.
constexpr int MaxCells = 512;

// Copies the tile of each byte into the row, one scan line after the
// other.
inline void ComposeCells(const QImage& tiles, QImage& row, const uchar* bytes, int count,
                         std::size_t tileBytes) {
    for (int y = 0; y < row.height(); ++y) {
        const uchar* from = tiles.constScanLine(y);
        uchar* to = row.scanLine(y);
        for (int i = 0; i < count; ++i, to += tileBytes)
            std::memcpy(to, from + bytes[i] * tileBytes, tileBytes);
    }
}

// With the cell width known at compile time each tile is a few register
// moves instead of a library call.
template <int Width>
void ComposeFixed(const QImage& tiles, QImage& row, const uchar* bytes, int count) {
    ComposeCells(tiles, row, bytes, count, Width * sizeof(quint32));
}

} // namespace

void TQxConsoleTiles::Build(const TCellFont& font, const QColor& text, const QColor& base) {
    const int cellWidth = font.CellWidth();
    FTiles = QImage(256 * cellWidth, font.LineHeight(), QImage::Format_RGB32);
    FTiles.fill(base);
    QPainter painter(&FTiles);
    painter.setPen(text);
    QByteArray cell(1, '\0');
    for (int byte = 0; byte < 256; ++byte) {
        cell[0] = static_cast<char>(byte);
        // Each glyph stays in its own cell, as it does in a row of cells.
        painter.setClipRect(byte * cellWidth, 0, cellWidth, font.LineHeight());
        font.DrawCellRange(painter, cell, 0, 1, byte * cellWidth, 0);
    }
    FRow = QImage(MaxCells * cellWidth, font.LineHeight(), QImage::Format_RGB32);
    FText = text;
    FBase = base;
}

void TQxConsoleTiles::Compose(const uchar* bytes, int count, int cellWidth) {
    switch (cellWidth) {
    case 6:
        return ComposeFixed<6>(FTiles, FRow, bytes, count);
    case 7:
        return ComposeFixed<7>(FTiles, FRow, bytes, count);
    case 8:
        return ComposeFixed<8>(FTiles, FRow, bytes, count);
    case 9:
        return ComposeFixed<9>(FTiles, FRow, bytes, count);
    case 10:
        return ComposeFixed<10>(FTiles, FRow, bytes, count);
    default:
        return ComposeCells(FTiles, FRow, bytes, count, std::size_t(cellWidth) * sizeof(quint32));
    }
}

void TQxConsoleTiles::DrawRow(QPainter& painter, const TCellFont& font, const QByteArray& cells,
                              int from, int to, int left, int top, const QColor& text,
                              const QColor& base) {
    from = std::max(from, 0);
    to = std::min(to, MaxCells);
    if (from >= to)
        return;
    const int cellWidth = font.CellWidth();
    if (FTiles.isNull() || FTiles.height() != font.LineHeight() ||
        FTiles.width() != 256 * cellWidth || FText != text || FBase != base)
        Build(font, text, base);
    // The row's bytes in the range, blanks where the row's text ends.
    uchar bytes[MaxCells];
    const int stored = std::clamp(static_cast<int>(cells.size()) - from, 0, to - from);
    std::memcpy(bytes, cells.constData() + from, static_cast<std::size_t>(stored));
    std::memset(bytes + stored, ' ', static_cast<std::size_t>(to - from - stored));
    Compose(bytes, to - from, cellWidth);
    painter.drawImage(QPoint(left + from * cellWidth, top), FRow,
                      QRect(0, 0, (to - from) * cellWidth, FRow.height()));
}
