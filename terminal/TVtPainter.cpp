#include "terminal/TVtPainter.h"

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

} // namespace

TVtPainter::TVtPainter(const QFont& font, int cellWidth, int lineHeight, int ascent)
    : FCellWidth(cellWidth), FLineHeight(lineHeight), FAscent(ascent) {
    for (int i = 0; i < 4; ++i) {
        FFonts[i] = font;
        FFonts[i].setBold(i & 1);
        FFonts[i].setItalic(i & 2);
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

const QFont& TVtPainter::FontFor(quint16 flags) const {
    const bool bold = flags & (TVtCell::Bold | TVtCell::Blink);
    const bool italic = flags & TVtCell::Italic;
    return FFonts[(bold ? 1 : 0) + (italic ? 2 : 0)];
}

// Cell by cell: backgrounds first, then the characters, each at its own
// cell, so that no glyph of a fallback font can move the columns after it.
void TVtPainter::PaintLine(QPainter& painter, const TVtLine& line, int from, int to, int left,
                           int top, const QList<THighlight>& highlights) const {
    painter.fillRect(QRect(left + from * FCellWidth, top, (to - from) * FCellWidth, FLineHeight),
                     FBase);
    const int end = std::min(to, static_cast<int>(line.Cells.size()));
    // A wide character whose left half lies before From is drawn whole.
    if (from > 0 && from < end && (line.Cells.at(from).Flags & TVtCell::WideRight))
        --from;
    const QFont& original = painter.font();
    for (int col = std::max(from, 0); col < to; ++col) {
        static const TVtCell blank;
        const TVtCell& cell = col < end ? line.Cells.at(col) : blank;
        if (cell.Flags & TVtCell::WideRight)
            continue;
        QColor fg = Colour(cell.Fg, FText);
        QColor bg = Colour(cell.Bg, FBase);
        bool ownBackground = cell.Bg != TVtCell::DefaultColour;
        if (cell.Flags & TVtCell::Reverse) {
            std::swap(fg, bg);
            ownBackground = true;
        }
        for (const THighlight& mark : highlights) {
            if (col < mark.From || col >= mark.To)
                continue;
            if (mark.Inverted) {
                fg = FBase;
                bg = FText;
            } else {
                bg = mark.Background;
            }
            ownBackground = true;
        }
        if (cell.Flags & TVtCell::Dim)
            fg = Mix(fg, bg);
        const int width = (cell.Flags & TVtCell::Wide) ? 2 : 1;
        const QRect box(left + col * FCellWidth, top, width * FCellWidth, FLineHeight);
        if (ownBackground)
            painter.fillRect(box, bg);
        if (cell.Char == 0 || cell.Char == U' ' || (cell.Flags & TVtCell::Hidden)) {
            if (!(cell.Flags & (TVtCell::Underline | TVtCell::Strike)))
                continue;
        }
        painter.setPen(fg);
        if (cell.Char > U' ' && !(cell.Flags & TVtCell::Hidden)) {
            QString text = QString::fromUcs4(&cell.Char, 1);
            if (cell.Marks > 0 && cell.Marks <= line.Marks.size())
                text += line.Marks.at(cell.Marks - 1);
            painter.setFont(FontFor(cell.Flags));
            painter.drawText(QPoint(box.left(), top + FAscent), text);
        }
        if (cell.Flags & TVtCell::Underline)
            painter.drawLine(box.left(), top + FAscent + 1, box.right(), top + FAscent + 1);
        if (cell.Flags & TVtCell::Strike)
            painter.drawLine(box.left(), top + FLineHeight / 2, box.right(), top + FLineHeight / 2);
    }
    painter.setFont(original);
}
