#include "app/TInputLine.h"

#include "app/InputLineText.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace {

// The shortest repeat period: a line every 10 ms is already a flood.
constexpr int MinRepeatMs = 10;
constexpr int MaxRepeatMs = 3600000;

} // namespace

TInputLine::TInputLine(QWidget* parent) : QWidget(parent) {
    FormatBox = new QComboBox(this);
    FormatBox->addItems(InputFormatNames());
    FormatBox->setToolTip(QStringLiteral("Text: characters, \\xHH, \\r, \\n, \\t, \\\\\n"
                                         "Hex: two digits a byte, as in 48 65 6C 6C 6F"));
    Edit = new QLineEdit(this);
    Edit->setPlaceholderText(QStringLiteral("line to send"));
    Edit->setToolTip(QStringLiteral("Enter sends the line; Up and Down bring back earlier ones"));
    Edit->installEventFilter(this);
    LineEndBox = new QComboBox(this);
    LineEndBox->addItems({QStringLiteral("no line end"), QStringLiteral("CR"), QStringLiteral("LF"),
                          QStringLiteral("CR LF")});
    RepeatBox = new QSpinBox(this);
    RepeatBox->setRange(0, MaxRepeatMs);
    RepeatBox->setSingleStep(100);
    RepeatBox->setSuffix(QStringLiteral(" ms"));
    RepeatBox->setSpecialValueText(QStringLiteral("once"));
    RepeatBox->setToolTip(QStringLiteral("Send the line again every so many milliseconds "
                                         "until Escape or Stop"));
    SendButton = new QPushButton(this);
    FRepeatTimer = new QTimer(this);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(FormatBox);
    layout->addWidget(Edit, 1);
    layout->addWidget(LineEndBox);
    layout->addWidget(RepeatBox);
    layout->addWidget(SendButton);
    ShowRepeatState();

    connect(SendButton, &QPushButton::clicked, this, [this] {
        if (Repeating())
            StopRepeat();
        else
            Send();
    });
    connect(FRepeatTimer, &QTimer::timeout, this, &TInputLine::SendRepeat);
    const auto changed = [this] {
        StopRepeat();
        if (OnSettingsChanged)
            OnSettingsChanged();
    };
    connect(FormatBox, &QComboBox::currentIndexChanged, this, changed);
    connect(LineEndBox, &QComboBox::currentIndexChanged, this, changed);
    connect(RepeatBox, &QSpinBox::valueChanged, this, changed);
    connect(Edit, &QLineEdit::textEdited, this, [this] { StopRepeat(); });
}

void TInputLine::UseSettings(const TInputLineSettings& settings) {
    const QSignalBlocker formatBlocker(FormatBox);
    const QSignalBlocker lineEndBlocker(LineEndBox);
    const QSignalBlocker repeatBlocker(RepeatBox);
    FormatBox->setCurrentIndex(settings.Format);
    LineEndBox->setCurrentIndex(settings.LineEnd);
    RepeatBox->setValue(settings.RepeatMs);
    FHistory = settings.History;
    FHistoryAt = FHistory.size();
}

TInputLineSettings TInputLine::Settings() const {
    TInputLineSettings settings;
    settings.Visible = isVisibleTo(parentWidget());
    settings.Format = FormatBox->currentIndex();
    settings.LineEnd = LineEndBox->currentIndex();
    settings.RepeatMs = RepeatBox->value();
    settings.History = FHistory;
    return settings;
}

void TInputLine::Send() {
    StopRepeat();
    const QString text = Edit->text();
    const TInputBytes parsed =
        ParseInputLine(text, static_cast<TInputFormat>(FormatBox->currentIndex()));
    if (!parsed.Error.isEmpty()) {
        if (OnMessage)
            OnMessage(QStringLiteral("Not sent: ") + parsed.Error);
        return;
    }
    const QByteArray bytes =
        parsed.Bytes + LineEndBytes(static_cast<TLineEnd>(LineEndBox->currentIndex()));
    Remember(text);
    Edit->clear();
    if (bytes.isEmpty() || !SendBytes(bytes) || RepeatBox->value() == 0)
        return;
    FRepeatBytes = bytes;
    FRepeatTimer->start(std::max(MinRepeatMs, RepeatBox->value()));
    ShowRepeatState();
}

void TInputLine::StopRepeat() {
    if (!Repeating())
        return;
    FRepeatTimer->stop();
    ShowRepeatState();
}

bool TInputLine::Repeating() const {
    return FRepeatTimer->isActive();
}

void TInputLine::SendRepeat() {
    if (!SendBytes(FRepeatBytes))
        StopRepeat();
}

bool TInputLine::SendBytes(const QByteArray& bytes) {
    return bytes.isEmpty() || !OnSend || OnSend(bytes);
}

// The newest line last; sending a line again moves it to the end.
void TInputLine::Remember(const QString& line) {
    if (!line.isEmpty()) {
        FHistory.removeAll(line);
        FHistory.append(line);
        while (FHistory.size() > TInputLineSettings::MaxHistory)
            FHistory.removeFirst();
    }
    FHistoryAt = FHistory.size();
    FDraft.clear();
    if (OnSettingsChanged)
        OnSettingsChanged();
}

void TInputLine::WalkHistory(int step) {
    const qsizetype to = FHistoryAt + step;
    if (to < 0 || to > FHistory.size())
        return;
    if (FHistoryAt == FHistory.size())
        FDraft = Edit->text();
    FHistoryAt = to;
    Edit->setText(to == FHistory.size() ? FDraft : FHistory.at(to));
}

void TInputLine::ShowRepeatState() {
    SendButton->setText(Repeating() ? QStringLiteral("Stop") : QStringLiteral("Send"));
}

bool TInputLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Edit || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Send();
        return true;
    case Qt::Key_Up:
        WalkHistory(-1);
        return true;
    case Qt::Key_Down:
        WalkHistory(1);
        return true;
    case Qt::Key_Escape:
        if (!Repeating())
            return false;
        StopRepeat();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
