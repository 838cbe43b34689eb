#pragma once

#include <QColor>
#include <QImage>

class QByteArray;
class QPainter;
class TCellFont;

// The pane's plain rows drawn from tiles: every byte's cell is drawn once,
// its glyph on the background, and a row is put together from those tiles
// and drawn as one opaque image. Blending each glyph anew costs several
// times more, and a stream paints its new rows many times a second.
class TQxConsoleTiles {
public:
    // Forgets the tiles (the font changed); they are drawn again when used.
    void Reset() { FTiles = QImage(); }
    // Draws the cells From to To (exclusive) of Cells as Font draws them,
    // Text on Base, the first cell's left edge at Left + From cells. Cells
    // past the end of Cells are drawn blank, so the whole range is covered
    // and needs no background of its own.
    void DrawRow(QPainter& painter, const TCellFont& font, const QByteArray& cells, int from,
                 int to, int left, int top, const QColor& text, const QColor& base);

private:
    void Build(const TCellFont& font, const QColor& text, const QColor& base);
    void Compose(const uchar* bytes, int count, int cellWidth);

    QImage FTiles;
    QImage FRow;
    QColor FText;
    QColor FBase;
};
