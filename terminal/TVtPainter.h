#pragma once

#include "terminal/TVtLine.h"

#include <QColor>
#include <QFont>
#include <QList>

#include <array>

class QPainter;

// Draws rows of the VT screen: each cell's colours and attributes, wide
// characters over two cells, combining marks on their character. The
// palette of the 16 base colours differs for a light and a dark base, so
// that every colour stays readable on both.
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
    const QFont& FontFor(quint16 flags) const;

    std::array<QFont, 4> FFonts; // plain, bold, italic, bold italic
    int FCellWidth;
    int FLineHeight;
    int FAscent;
    QColor FText;
    QColor FBase;
    bool FDark = false;
};
