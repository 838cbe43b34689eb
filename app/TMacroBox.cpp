#include "app/TMacroBox.h"

#include "app/TMacroItemDelegate.h"
#include "platform/Cp1252.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

constexpr int MacroRole = Qt::UserRole;

} // namespace

TMacroBox::TMacroBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new TMacroItemDelegate(this));
    setFrame(false);
}

void TMacroBox::SetMacros(const QList<QByteArray>& macros) {
    clear();
    for (const QByteArray& macro : macros)
        addItem(Cp1252ToString(macro), macro);
    setCurrentIndex(-1);
}

QByteArray TMacroBox::MacroText(int index) const {
    return itemData(index, MacroRole).toByteArray();
}

QByteArray TMacroBox::CurrentMacroText() const {
    return currentIndex() < 0 ? QByteArray() : MacroText(currentIndex());
}

// The closed box shows its selected item as the list draws it: the style
// draws the box without text, the item goes into the edit field.
void TMacroBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const int index = currentIndex();
    if (index < 0)
        return;
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    TMacroItemDelegate::DrawItem(painter, field, palette(), index, itemText(index), hasFocus());
}
