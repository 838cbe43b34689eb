#pragma once

#include "terminal/TVtLine.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRawFont>

#include <array>

class QPainter;

// Draws rows of the VT screen: each cell's colours and attributes, wide
// characters over two cells, combining marks on their character. The
// palette of the 16 base colours differs for a light and a dark base, so
// that every colour stays readable on both. Characters the font has are
// drawn as runs of glyphs placed on the cell grid (no text shaping); the
// rest (combining marks, characters of a fallback font) one by one as text.
class TVtPainter {
public:
    // A stretch of cells drawn on a background of its own (a find match),
    // or inverted (the selection) when Inverted is set.
    struct THighlight {
        int From = 0;
        int To = 0;
        QColor Background;
        bool Inverted = false;
    };

    TVtPainter(const QFont& font, int cellWidth, int lineHeight, int ascent);

    // The colours a cell's value stands for; Fallback for the default.
    QColor Colour(quint32 colour, const QColor& fallback) const;
    void SetColours(const QColor& text, const QColor& base);

    // Draws the cells From to To (exclusive) of Line, cell 0 at Left.
    void PaintLine(QPainter& painter, const TVtLine& line, int from, int to, int left, int top,
                   const QList<THighlight>& highlights) const;

private:
    struct TLook {
        QColor Fg;
        QColor Bg;
        bool OwnBackground = false;
    };
    // Glyphs of one colour and style waiting to be drawn together.
    struct TGlyphRun {
        QColor Fg;
        int Style = 0;
        QList<quint32> Glyphs;
        QList<QPointF> Positions;
    };

    static int StyleOf(quint16 flags);
    TLook Look(const TVtCell& cell, int col, const QList<THighlight>& highlights) const;
    void PaintBackgrounds(QPainter& painter, const TVtLine& line, int from, int to, int left,
                          int top, const QList<THighlight>& highlights) const;
    // The font's glyph for Ch in Style, 0 when the font lacks it.
    quint32 Glyph(int style, char32_t ch) const;
    void FlushRun(QPainter& painter) const;

    std::array<QFont, 4> FFonts; // plain, bold, italic, bold italic
    std::array<QRawFont, 4> FRawFonts;
    std::array<std::array<quint32, 128>, 4> FAsciiGlyphs{};
    mutable QHash<quint64, quint32> FGlyphCache;
    mutable TGlyphRun FRun;
    int FCellWidth;
    int FLineHeight;
    int FAscent;
    QColor FText;
    QColor FBase;
    bool FDark = false;
};
