#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// A titled group of radio buttons, one per item, laid out column by column.
// ItemIndex is the selected item, -1 for none; Changed is raised whenever
// the selection changes, by the user or by SetItemIndex.
class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString& title, const QStringList& items, int columns,
                QWidget* parent = nullptr);

    const QStringList& Items() const { return FItems; }
    int ItemIndex() const;
    void SetItemIndex(int index);
    // The selected item's text; empty for none.
    QString SelectedText() const;
    QRadioButton* Button(int index) const;

signals:
    void Changed();

private:
    QStringList FItems;
    QButtonGroup* FButtons;
};
