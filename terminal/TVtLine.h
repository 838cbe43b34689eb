#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One cell of the VT screen: a character, its colours and its attributes.
struct TVtCell {
    enum Flag : quint16 {
        Bold = 1,
        Dim = 2,
        Italic = 4,
        Underline = 8,
        Blink = 16,
        Reverse = 32,
        Hidden = 64,
        Strike = 128,
        // The left half of a character two cells wide, and its right half
        // (which shows nothing of its own).
        Wide = 256,
        WideRight = 512,
    };
    // A colour: DefaultColour, an index of the 256-colour palette, or RGB.
    static constexpr quint32 DefaultColour = 0;
    static constexpr quint32 IndexedTag = 0x01000000;
    static constexpr quint32 RgbTag = 0x02000000;
    static constexpr quint32 TagMask = 0xFF000000;
    static constexpr quint32 Indexed(int index) { return IndexedTag | quint32(index & 0xFF); }
    static constexpr quint32 Rgb(int r, int g, int b) {
        return RgbTag | quint32(r & 0xFF) << 16 | quint32(g & 0xFF) << 8 | quint32(b & 0xFF);
    }

    // 0 for a cell nothing was written to.
    char32_t Char = 0;
    quint32 Fg = DefaultColour;
    quint32 Bg = DefaultColour;
    quint16 Flags = 0;
    // The combining marks on the character: 1 + their index in the line's
    // Marks, 0 for none.
    quint16 Marks = 0;

    bool IsBlank() const {
        return (Char == 0 || Char == U' ') && Bg == DefaultColour &&
               !(Flags & (Reverse | Underline | Strike));
    }
    bool operator==(const TVtCell&) const = default;
};

// A row of the VT screen or of its history. A row of the history keeps no
// blank cells at its end; cells past its end are blank.
struct TVtLine {
    QList<TVtCell> Cells;
    QStringList Marks;

    // The text of the cells From up to To (exclusive, clamped to the line):
    // a wide character once, its combining marks after it, blanks for empty
    // cells, the trailing blanks cut. With Columns, the cell each UTF-16
    // unit of the text comes from.
    QString Text(int from = 0, int to = 1 << 30, QList<int>* columns = nullptr) const;
    // Drops the blank cells at the end.
    void TrimBlankEnd();
};
