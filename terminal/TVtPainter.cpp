#include "terminal/TVtPainter.h"

#include <QGlyphRun>
#include <QPainter>

namespace {

// The 16 base colours on a dark base, and on a light one where white and
// yellow would vanish.
constexpr std::array<QRgb, 16> DarkBaseColours = {
    0x555753, 0xEF4B4B, 0x6CC644, 0xD7B22E, 0x5C8FD6, 0xB77FC0, 0x2AB5B5, 0xD3D7CF,
    0x888A85, 0xFF6E6E, 0x9BE66A, 0xFCE94F, 0x8AB4F0, 0xD59BDB, 0x5CE6E6, 0xFFFFFF};
constexpr std::array<QRgb, 16> LightBaseColours = {
    0x000000, 0xB21818, 0x188A18, 0x8A6A00, 0x1A4FB2, 0x9A2A9A, 0x0A7C84, 0x5A5A5A,
    0x404040, 0xD42C2C, 0x2E9E2E, 0x9E7C00, 0x2E6BD8, 0xB43CB4, 0x138E96, 0x262626};

QColor CubeColour(int index) {
    if (index >= 232) {
        const int grey = 8 + 10 * (index - 232);
        return QColor(grey, grey, grey);
    }
    const int cube = index - 16;
    const auto level = [](int step) { return step == 0 ? 0 : 55 + 40 * step; };
    return QColor(level(cube / 36), level(cube / 6 % 6), level(cube % 6));
}

QColor Mix(const QColor& a, const QColor& b) {
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

// The glyph cache forgets everything beyond this many characters.
constexpr qsizetype MaxCachedGlyphs = 4096;

quint32 LookUpGlyph(const QRawFont& font, char32_t ch) {
    const QList<quint32> glyphs = font.glyphIndexesForString(QString::fromUcs4(&ch, 1));
    return glyphs.size() == 1 ? glyphs.first() : 0;
}

} // namespace

TVtPainter::TVtPainter(const QFont& font, int cellWidth, int lineHeight, int ascent)
    : FCellWidth(cellWidth), FLineHeight(lineHeight), FAscent(ascent) {
    for (int i = 0; i < 4; ++i) {
        FFonts[i] = font;
        FFonts[i].setBold(i & 1);
        FFonts[i].setItalic(i & 2);
        FRawFonts[i] = QRawFont::fromFont(FFonts[i]);
        for (char32_t ch = 0x21; ch < 0x7F; ++ch)
            FAsciiGlyphs[i][ch] = FRawFonts[i].isValid() ? LookUpGlyph(FRawFonts[i], ch) : 0;
    }
}

void TVtPainter::SetColours(const QColor& text, const QColor& base) {
    FText = text;
    FBase = base;
    FDark = base.lightness() < 128;
}

QColor TVtPainter::Colour(quint32 colour, const QColor& fallback) const {
    switch (colour & TVtCell::TagMask) {
    case TVtCell::IndexedTag: {
        const int index = static_cast<int>(colour & 0xFF);
        if (index < 16)
            return QColor(FDark ? DarkBaseColours.at(index) : LightBaseColours.at(index));
        return CubeColour(index);
    }
    case TVtCell::RgbTag:
        return QColor(QRgb(colour & 0xFFFFFF));
    default:
        return fallback;
    }
}

int TVtPainter::StyleOf(quint16 flags) {
    const bool bold = flags & (TVtCell::Bold | TVtCell::Blink);
    const bool italic = flags & TVtCell::Italic;
    return (bold ? 1 : 0) + (italic ? 2 : 0);
}

quint32 TVtPainter::Glyph(int style, char32_t ch) const {
    if (ch < 0x80)
        return FAsciiGlyphs[style][ch];
    if (!FRawFonts[style].isValid())
        return 0;
    const quint64 key = quint64(style) << 32 | ch;
    const auto found = FGlyphCache.constFind(key);
    if (found != FGlyphCache.constEnd())
        return *found;
    if (FGlyphCache.size() >= MaxCachedGlyphs)
        FGlyphCache.clear();
    const quint32 glyph = LookUpGlyph(FRawFonts[style], ch);
    FGlyphCache.insert(key, glyph);
    return glyph;
}

TVtPainter::TLook TVtPainter::Look(const TVtCell& cell, int col,
                                   const QList<THighlight>& highlights) const {
    TLook look{Colour(cell.Fg, FText), Colour(cell.Bg, FBase), cell.Bg != TVtCell::DefaultColour};
    if (cell.Flags & TVtCell::Reverse) {
        std::swap(look.Fg, look.Bg);
        look.OwnBackground = true;
    }
    for (const THighlight& mark : highlights) {
        if (col < mark.From || col >= mark.To)
            continue;
        if (mark.Inverted) {
            look.Fg = FBase;
            look.Bg = FText;
        } else {
            look.Bg = mark.Background;
        }
        look.OwnBackground = true;
    }
    if (cell.Flags & TVtCell::Dim)
        look.Fg = Mix(look.Fg, look.Bg);
    return look;
}

void TVtPainter::FlushRun(QPainter& painter) const {
    if (FRun.Glyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(FRawFonts[FRun.Style]);
    run.setGlyphIndexes(FRun.Glyphs);
    run.setPositions(FRun.Positions);
    painter.setPen(FRun.Fg);
    painter.drawGlyphRun(QPointF(0, 0), run);
    FRun.Glyphs.resize(0);
    FRun.Positions.resize(0);
}

// The base, then each stretch of cells with a background of its own.
void TVtPainter::PaintBackgrounds(QPainter& painter, const TVtLine& line, int from, int to,
                                  int left, int top, const QList<THighlight>& highlights) const {
    painter.fillRect(QRect(left + from * FCellWidth, top, (to - from) * FCellWidth, FLineHeight),
                     FBase);
    const int end = std::min(to, static_cast<int>(line.Cells.size()));
    int stretch = -1;
    QColor stretchColour;
    const auto flush = [&](int col) {
        if (stretch >= 0)
            painter.fillRect(
                QRect(left + stretch * FCellWidth, top, (col - stretch) * FCellWidth, FLineHeight),
                stretchColour);
        stretch = -1;
    };
    static const TVtCell blank;
    for (int col = std::max(from, 0); col < to; ++col) {
        const TVtCell& cell = col < end ? line.Cells.at(col) : blank;
        // The right half of a wide character goes with its left half.
        if (cell.Flags & TVtCell::WideRight)
            continue;
        const TLook look = Look(cell, col, highlights);
        if (!look.OwnBackground || look.Bg != stretchColour)
            flush(col);
        if (look.OwnBackground && stretch < 0) {
            stretch = col;
            stretchColour = look.Bg;
        }
    }
    flush(to);
}

// Backgrounds first, then the characters, each at its own cell, so that no
// glyph of a fallback font can move the columns after it.
void TVtPainter::PaintLine(QPainter& painter, const TVtLine& line, int from, int to, int left,
                           int top, const QList<THighlight>& highlights) const {
    const int end = std::min(to, static_cast<int>(line.Cells.size()));
    // A wide character whose left half lies before From is drawn whole.
    if (from > 0 && from < end && (line.Cells.at(from).Flags & TVtCell::WideRight))
        --from;
    PaintBackgrounds(painter, line, from, to, left, top, highlights);
    const QFont& original = painter.font();
    for (int col = std::max(from, 0); col < end; ++col) {
        const TVtCell& cell = line.Cells.at(col);
        if (cell.Flags & TVtCell::WideRight)
            continue;
        const bool shown = cell.Char > U' ' && !(cell.Flags & TVtCell::Hidden);
        if (!shown && !(cell.Flags & (TVtCell::Underline | TVtCell::Strike)))
            continue;
        const TLook look = Look(cell, col, highlights);
        const int width = (cell.Flags & TVtCell::Wide) ? 2 : 1;
        const QRect box(left + col * FCellWidth, top, width * FCellWidth, FLineHeight);
        const int style = StyleOf(cell.Flags);
        const quint32 glyph = shown && cell.Marks == 0 ? Glyph(style, cell.Char) : 0;
        if (glyph != 0) {
            if (!FRun.Glyphs.isEmpty() && (FRun.Fg != look.Fg || FRun.Style != style))
                FlushRun(painter);
            FRun.Fg = look.Fg;
            FRun.Style = style;
            FRun.Glyphs.append(glyph);
            FRun.Positions.append(QPointF(box.left(), top + FAscent));
        } else if (shown) {
            FlushRun(painter);
            QString text = QString::fromUcs4(&cell.Char, 1);
            if (cell.Marks > 0 && cell.Marks <= line.Marks.size())
                text += line.Marks.at(cell.Marks - 1);
            painter.setPen(look.Fg);
            painter.setFont(FFonts[style]);
            painter.drawText(QPoint(box.left(), top + FAscent), text);
        }
        if (cell.Flags & (TVtCell::Underline | TVtCell::Strike)) {
            painter.setPen(look.Fg);
            if (cell.Flags & TVtCell::Underline)
                painter.drawLine(box.left(), top + FAscent + 1, box.right(), top + FAscent + 1);
            if (cell.Flags & TVtCell::Strike)
                painter.drawLine(box.left(), top + FLineHeight / 2, box.right(),
                                 top + FLineHeight / 2);
        }
    }
    FlushRun(painter);
    painter.setFont(original);
}
