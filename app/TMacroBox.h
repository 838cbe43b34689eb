#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QList>

// The drop-down list of macros. Each item holds its macro text as typed
// (bytes); the list and the closed box draw the items through
// TMacroItemDelegate, with their shortcut labels.
class TMacroBox : public QComboBox {
    Q_OBJECT

public:
    explicit TMacroBox(QWidget* parent = nullptr);

    // Replaces the items with the macros, in order; no item is selected.
    void SetMacros(const QList<QByteArray>& macros);
    QByteArray MacroText(int index) const;
    // The selected item's macro text; empty when none is selected.
    QByteArray CurrentMacroText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
