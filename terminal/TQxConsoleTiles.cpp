#include "terminal/TQxConsoleTiles.h"

#include "terminal/TCellFont.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// Room for the widest row of any emulation.
constexpr int MaxCells = 512;

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

void TQxConsoleTiles::DrawRow(QPainter& painter, const TCellFont& font, const QByteArray& cells,
                              int from, int to, int left, int top, const QColor& text,
                              const QColor& base) {
    to = std::min({to, static_cast<int>(cells.size()), MaxCells});
    const auto* bytes = reinterpret_cast<const uchar*>(cells.constData());
    while (to > from && bytes[to - 1] == ' ')
        --to;
    if (from >= to)
        return;
    const int cellWidth = font.CellWidth();
    if (FTiles.isNull() || FTiles.height() != font.LineHeight() ||
        FTiles.width() != 256 * cellWidth || FText != text || FBase != base)
        Build(font, text, base);
    const qsizetype cellBytes = qsizetype(cellWidth) * 4;
    for (int y = 0; y < FRow.height(); ++y) {
        const uchar* tiles = FTiles.constScanLine(y);
        uchar* row = FRow.scanLine(y);
        for (int i = from; i < to; ++i)
            std::memcpy(row + (i - from) * cellBytes, tiles + bytes[i] * cellBytes, cellBytes);
    }
    painter.drawImage(QPoint(left + from * cellWidth, top), FRow,
                      QRect(0, 0, (to - from) * cellWidth, FRow.height()));
}
