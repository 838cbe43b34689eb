#pragma once

#include <QByteArray>
#include <QColor>
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
    // Draws the cells From to To (exclusive) of Cells, with cell 0's left
    // edge at Left and the cell tops at Top.
    void DrawCellRange(QPainter& painter, const QByteArray& cells, int from, int to, int left,
                       int top) const;

private:
    QRawFont FRawFont;
    std::array<quint32, 256> FGlyphs{};
    quint32 FBlankGlyph = 0;
    int FLineHeight = 1;
    int FAscent = 0;
    int FCellWidth = 1;
    // The cell positions of a row relative to its top-left corner; a row is
    // drawn as one run of glyphs over them, blanks included.
    QList<QPointF> FCellPositions;
    mutable QList<quint32> FRunGlyphs;
};
