#include "settings/TQxMacroEdit.h"

#include "platform/Cp1252.h"
#include "settings/TByteTextValidator.h"
#include "settings/DialogPlacement.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

TQxMacroEdit::TQxMacroEdit(QWidget* parent)
    : QDialog(parent), AbortBtn(new QPushButton(QStringLiteral("Cancel"), this)),
      OKBtn(new QPushButton(QStringLiteral("OK"), this)), MacroEdit(new QLineEdit(this)),
      Label1(PlainLabel(QStringLiteral("&Macro:"), this)),
      Label2(PlainLabel(QStringLiteral("Enter control chars using #<decimal number>, e.g. CR->#13"),
                        this)),
      Label3(PlainLabel(QStringLiteral("Insert delay times with #27T<milliseconds>, e.g. #27T20"),
                        this)) {
    setWindowTitle(QStringLiteral("Macro-Editor"));
    OKBtn->setDefault(true);
    OKBtn->setEnabled(false);
    MacroEdit->setValidator(new TByteTextValidator(MacroEdit));
    Label1->setBuddy(MacroEdit);
    Label2->setWordWrap(true);
    ArrangeControls();
    setTabOrder(MacroEdit, AbortBtn);
    setTabOrder(AbortBtn, OKBtn);
    MacroEdit->setFocus();

    connect(MacroEdit, &QLineEdit::textChanged, this, &TQxMacroEdit::MacroEditChange);
    connect(OKBtn, &QPushButton::clicked, this, &TQxMacroEdit::OKBtnClick);
    connect(AbortBtn, &QPushButton::clicked, this, [this] { done(mrAbort); });
}

void TQxMacroEdit::ArrangeControls() {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(AbortBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(MacroEdit);
    layout->addWidget(Label2);
    layout->addWidget(Label3);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Wide enough for each hint on one line; the word wrap is a fallback.
    const QFontMetrics metrics = Label2->fontMetrics();
    MacroEdit->setMinimumWidth(std::max(metrics.horizontalAdvance(Label2->text()),
                                        metrics.horizontalAdvance(Label3->text())) +
                               metrics.averageCharWidth());
}

void TQxMacroEdit::SetMacro(const QByteArray& macro) {
    FMacro = macro;
    MacroEdit->setText(Cp1252ToString(macro));
}

void TQxMacroEdit::keyPressEvent(QKeyEvent* event) {
    // "Cancel" is no cancel button here: Escape leaves the dialog open.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TQxMacroEdit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        CenterOnScreen(this);
}

void TQxMacroEdit::MacroEditChange() {
    OKBtn->setEnabled(!MacroEdit->text().isEmpty());
}

void TQxMacroEdit::OKBtnClick() {
    FMacro = StringToCp1252(MacroEdit->text(), TUnmappable::Drop);
    done(mrOk);
}
