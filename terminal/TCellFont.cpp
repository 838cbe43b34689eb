#include "terminal/TCellFont.h"

#include "platform/Cp1252.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

TCellFont::TCellFont(const QFont& font) : FRawFont(QRawFont::fromFont(font)) {
    const QFontMetrics metrics(font);
    // A row is as high as the font's full glyph height (ascent plus
    // descent), so accents and descenders of adjacent rows never overlap.
    FLineHeight = std::max(metrics.height(), 1);
    FAscent = metrics.ascent();
    FCellWidth = std::max(metrics.horizontalAdvance(QLatin1Char('X')), 1);
    for (int byte = 0; byte < 256; ++byte) {
        const QList<quint32> glyph =
            FRawFont.glyphIndexesForString(QString(Cp1252ToUnicode(static_cast<uchar>(byte))));
        FGlyphs[byte] = glyph.value(0, 0);
    }
    FBlankGlyph = FGlyphs[' '];
}

void TCellFont::DrawCells(QPainter& painter, const QByteArray& cells, int left, int top,
                          int maxCells) const {
    const int count = static_cast<int>(std::min<qsizetype>(cells.size(), maxCells));
    FRunGlyphs.clear();
    FRunPositions.clear();
    const int baseline = top + FAscent;
    for (int i = 0; i < count; ++i) {
        const quint32 glyph = FGlyphs[static_cast<uchar>(cells[i])];
        if (glyph == FBlankGlyph)
            continue;
        FRunGlyphs.append(glyph);
        FRunPositions.append(QPointF(left + i * FCellWidth, baseline));
    }
    if (FRunGlyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(FRawFont);
    run.setGlyphIndexes(FRunGlyphs);
    run.setPositions(FRunPositions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}
