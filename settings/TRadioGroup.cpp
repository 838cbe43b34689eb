#include "settings/TRadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString& title, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(title, parent), FItems(items), FButtons(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        FButtons->addButton(button, i);
        grid->addWidget(button, i % rows, i / rows);
    }
    grid->setRowStretch(rows, 1);
    connect(FButtons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit Changed();
    });
}

int TRadioGroup::ItemIndex() const {
    return FButtons->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = FButtons->button(index))
        button->setChecked(true);
}

QString TRadioGroup::SelectedText() const {
    const int index = ItemIndex();
    return index < 0 ? QString() : FItems.at(index);
}

QRadioButton* TRadioGroup::Button(int index) const {
    return static_cast<QRadioButton*>(FButtons->button(index));
}
