#include "app/TMacroItemDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace {

constexpr int ShortcutCount = 26;
constexpr int DesignTextColumn = 60;
constexpr int DesignItemHeight = 14;
constexpr int TextIndent = 2;

const QColor LabelColour(128, 128, 128);
const QColor SelectedLabelColour(192, 192, 192);

} // namespace

QString TMacroItemDelegate::ShortcutLabel(int index) {
    if (index < 0 || index >= ShortcutCount)
        return {};
    return QStringLiteral("Shift+Ctrl+%1:").arg(QChar(u'A' + index));
}

int TMacroItemDelegate::TextColumn(const QFontMetrics& metrics) {
    int widest = 0;
    for (int i = 0; i < ShortcutCount; ++i)
        widest = std::max(widest, metrics.horizontalAdvance(ShortcutLabel(i)));
    return std::max(DesignTextColumn, widest + 2 * TextIndent + 2);
}

int TMacroItemDelegate::ItemHeight(const QFontMetrics& metrics) {
    return std::max(DesignItemHeight, metrics.height());
}

void TMacroItemDelegate::DrawItem(QPainter& painter, const QRect& rect, const QPalette& palette,
                                  int index, const QString& text, bool selected) {
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, selected ? palette.highlight() : palette.base());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    QRect area = rect.adjusted(TextIndent, 0, 0, 0);
    painter.setPen(selected ? SelectedLabelColour : LabelColour);
    painter.drawText(area, flags, ShortcutLabel(index));
    area.setLeft(rect.left() + TextColumn(painter.fontMetrics()) + TextIndent);
    painter.setClipRect(area.adjusted(-TextIndent, 0, 0, 0));
    // Black on a light base; on a dark desktop the palette's own text colour.
    const bool darkBase = palette.color(QPalette::Base).lightness() < 128;
    painter.setPen(selected ? QColor(Qt::white)
                            : darkBase ? palette.color(QPalette::Text) : QColor(Qt::black));
    painter.drawText(area, flags, text);
    painter.restore();
}

void TMacroItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    painter->save();
    painter->setFont(option.font);
    DrawItem(*painter, option.rect, option.palette, index.row(), index.data().toString(),
             option.state & QStyle::State_Selected);
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.highlight().color();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
    painter->restore();
}

QSize TMacroItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    const QFontMetrics metrics(option.font);
    const int width =
        TextColumn(metrics) + 2 * TextIndent + metrics.horizontalAdvance(index.data().toString());
    return {width, ItemHeight(metrics)};
}
