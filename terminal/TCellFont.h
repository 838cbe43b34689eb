#pragma once

#include <QByteArray>
#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QPointF>
#include <QRawFont>

#include <array>

class QPainter;

// A fixed-pitch font laid out as a grid of character cells of whole pixels
// (so that every cell renders a glyph alike). Each stored byte
// is drawn through the Western code page as the font's own glyph in its own
// cell, so no byte (TAB, a control code, a character the font lacks) can
// shift the columns after it.
class TCellFont {
public:
    explicit TCellFont(const QFont& font);

    int LineHeight() const { return FLineHeight; }
    int CellWidth() const { return FCellWidth; }
    // Draws Cells with the first cell's left edge at Left and the cell tops
    // at Top; cells at or beyond MaxCells are left out.
    void DrawCells(QPainter& painter, const QByteArray& cells, int left, int top,
                   int maxCells) const;

private:
    QRawFont FRawFont;
    std::array<quint32, 256> FGlyphs{};
    quint32 FBlankGlyph = 0;
    int FLineHeight = 1;
    int FAscent = 0;
    int FCellWidth = 1;
    mutable QList<quint32> FRunGlyphs;
    mutable QList<QPointF> FRunPositions;
};
