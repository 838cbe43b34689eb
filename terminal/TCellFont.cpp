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
    // Room for the widest row of any emulation, and more than fits a screen.
    constexpr int MaxCells = 512;
    FCellPositions.reserve(MaxCells);
    for (int i = 0; i < MaxCells; ++i)
        FCellPositions.append(QPointF(i * FCellWidth, FAscent));
}

// One glyph run over the row's cells from the first to the last that is not
// blank, blanks between them included: the raster engine draws it in one
// pass from its glyph cache, and no position has to be computed per paint.
void TCellFont::DrawCellRange(QPainter& painter, const QByteArray& cells, int from, int to,
                              int left, int top) const {
    to = std::min({to, static_cast<int>(cells.size()), static_cast<int>(FCellPositions.size())});
    const auto* bytes = reinterpret_cast<const uchar*>(cells.constData());
    while (from < to && FGlyphs[bytes[from]] == FBlankGlyph)
        ++from;
    while (to > from && FGlyphs[bytes[to - 1]] == FBlankGlyph)
        --to;
    if (from >= to)
        return;
    FRunGlyphs.resize(to - from);
    for (int i = from; i < to; ++i)
        FRunGlyphs[i - from] = FGlyphs[bytes[i]];
    QGlyphRun run;
    run.setRawFont(FRawFont);
    run.setRawData(FRunGlyphs.constData(), FCellPositions.constData() + from, to - from);
    painter.drawGlyphRun(QPointF(left, top), run);
}
