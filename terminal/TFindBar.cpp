#include "terminal/TFindBar.h"

#include "terminal/TLineTimes.h"
#include "terminal/TQxConsole.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

TFindBar::TFindBar(TQxConsole* console, QWidget* parent) : QWidget(parent), FConsole(console) {
    setObjectName(QStringLiteral("FindBar"));
    auto* label = new QLabel(QStringLiteral("F&ind:"), this);
    FindEdit = new QLineEdit(this);
    FindEdit->setObjectName(QStringLiteral("FindEdit"));
    FindEdit->setClearButtonEnabled(true);
    label->setBuddy(FindEdit);
    MatchCaseBox = new QCheckBox(QStringLiteral("&Match case"), this);
    PreviousButton = new QToolButton(this);
    PreviousButton->setText(QStringLiteral("Previous"));
    PreviousButton->setToolTip(QStringLiteral("Previous match (Shift+Enter, Shift+F3)"));
    NextButton = new QToolButton(this);
    NextButton->setText(QStringLiteral("Next"));
    NextButton->setToolTip(QStringLiteral("Next match (Enter, F3)"));
    CloseButton = new QToolButton(this);
    CloseButton->setText(QStringLiteral("Close"));
    CloseButton->setToolTip(QStringLiteral("Close the find bar (Escape)"));
    ResultLabel = new QLabel(this);
    for (QWidget* widget :
         {static_cast<QWidget*>(MatchCaseBox), static_cast<QWidget*>(PreviousButton),
          static_cast<QWidget*>(NextButton), static_cast<QWidget*>(CloseButton)})
        widget->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(label);
    layout->addWidget(FindEdit, 1);
    layout->addWidget(MatchCaseBox);
    layout->addWidget(PreviousButton);
    layout->addWidget(NextButton);
    layout->addWidget(ResultLabel);
    layout->addWidget(CloseButton);

    FindEdit->installEventFilter(this);
    connect(FindEdit, &QLineEdit::textChanged, this, &TFindBar::UpdateHighlight);
    connect(MatchCaseBox, &QCheckBox::toggled, this, &TFindBar::UpdateHighlight);
    connect(PreviousButton, &QToolButton::clicked, this, [this] { FindNext(true); });
    connect(NextButton, &QToolButton::clicked, this, [this] { FindNext(false); });
    connect(CloseButton, &QToolButton::clicked, this, &TFindBar::Close);
    hide();
}

void TFindBar::Open() {
    show();
    FindEdit->setFocus(Qt::ShortcutFocusReason);
    FindEdit->selectAll();
    UpdateHighlight();
}

void TFindBar::Close() {
    hide();
    FConsole->SetFindText(QString(), false);
    FConsole->setFocus(Qt::OtherFocusReason);
}

void TFindBar::FindNext(bool backwards) {
    if (isHidden()) {
        Open();
        if (FindEdit->text().isEmpty())
            return;
    }
    UpdateHighlight();
    if (FindEdit->text().isEmpty())
        return;
    const bool found = FConsole->Find(FindEdit->text(), MatchCaseBox->isChecked(), backwards);
    ResultLabel->setText(found ? MatchTimeText() : QStringLiteral("Not found"));
}

// When the line of the match received its first byte; nothing for a line
// without a time.
QString TFindBar::MatchTimeText() const {
    const qint64 time =
        FConsole->CurrentMatch() ? FConsole->LineTime(FConsole->CurrentMatch()->Line) : 0;
    return time != 0 ? QStringLiteral("Received %1").arg(TLineTimes::Format(time)) : QString();
}

void TFindBar::UpdateHighlight() {
    ResultLabel->clear();
    if (isVisible())
        FConsole->SetFindText(FindEdit->text(), MatchCaseBox->isChecked());
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FindEdit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            FindNext(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
