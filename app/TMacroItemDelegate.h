#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

// Draws the items of the macro box: items 0 to 25 start with the label of
// their keyboard shortcut ("Shift+Ctrl+A:" to "Shift+Ctrl+Z:") in grey, then
// every item shows its macro text as typed, in a column of its own.
class TMacroItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The shortcut label of item Index, or an empty string from item 26 on.
    static QString ShortcutLabel(int index);
    // Where the macro text starts: 60 pixels, or more when the font's
    // labels need it.
    static int TextColumn(const QFontMetrics& metrics);
    // The height of one item: 14 pixels, or the font's line height.
    static int ItemHeight(const QFontMetrics& metrics);
    // Fills Rect and draws item Index into it, highlighted when Selected.
    static void DrawItem(QPainter& painter, const QRect& rect, const QPalette& palette, int index,
                         const QString& text, bool selected);
};
