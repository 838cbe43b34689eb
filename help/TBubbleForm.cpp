#include "help/TBubbleForm.h"

#include "help/BubbleGlyphs.h"
#include "help/HintDescs.h"
#include "help/InstalledDocuments.h"
#include "platform/TInteraction.h"
#include "settings/DialogPlacement.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QToolButton>

TBubbleForm* BubbleForm = nullptr;

namespace {

constexpr int ClientWidth = 279;
constexpr int ClientHeight = 281;
constexpr qreal CornerRadius = 7.5; // corners are ellipses of 15 by 15 pixels
constexpr int RimWidth = 4;
constexpr int FontPointSize = 8;
const QColor BubbleColour(255, 255, 240);
const QColor RimColour(128, 128, 128);
const QColor TextColour(Qt::black);
const QColor LinkColour(Qt::blue);

const QString TitleText = QStringLiteral("Qx-Console Help");
const QString MakerLine = QStringLiteral("Qx-Console, a terminal for serial lines");
const QString GuideLink = QStringLiteral("User's guide (README)");
const QString DistributorLine = QStringLiteral("Distributed by the Qx-Console project");
const QString ManualLink = QStringLiteral("Manual page qx-console(1)");

// The property of a link label that holds what it opens.
constexpr const char* LinkTarget = "linkTarget";

// The heading sits at this top; the title band must end above it, whatever
// caption height the style reports.
constexpr int HeaderTop = 29;
constexpr int MinCaptionHeight = 16;
constexpr int MaxCaptionHeight = HeaderTop - RimWidth;

// The smallest size the topic texts are shrunk to when a wide UI font would
// not show them whole in their fixed label.
constexpr qreal MinHintPointSize = 6.0;

bool AllTopicsFit(const QFont& font, const QSize& box) {
    const QFontMetrics metrics(font);
    const QRect unbounded(0, 0, box.width(), 100 * box.height());
    for (const THintDesc& topic : HintDescs) {
        const QString text = DisplayText(QString::fromLatin1(topic.Text));
        if (metrics.boundingRect(unbounded, Qt::TextWordWrap, text).height() > box.height())
            return false;
    }
    return true;
}

QRegion RoundedRegion(const QRect& rect) {
    QPainterPath path;
    path.addRoundedRect(QRectF(rect), CornerRadius, CornerRadius);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace

TBubbleForm::TBubbleForm(QWidget* owner) : QWidget(owner, Qt::Window | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(TitleText);
    setFixedSize(ClientWidth, ClientHeight);
    setFocusPolicy(Qt::StrongFocus);
    QFont formFont = QApplication::font();
    formFont.setPointSize(FontPointSize);
    setFont(formFont);
    CreateControls();
    FormCreate();
}

TBubbleForm::~TBubbleForm() {
    if (BubbleForm == this)
        BubbleForm = nullptr;
}

void TBubbleForm::FormCreate() {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, BubbleColour);
    colours.setColor(QPalette::WindowText, TextColour);
    setPalette(colours);
    FCaptionHeight =
        qBound(MinCaptionHeight, style()->pixelMetric(QStyle::PM_TitleBarHeight), MaxCaptionHeight);
    FRegion = RoundedRegion(rect());
    setMask(FRegion);
}

void TBubbleForm::CreateControls() {
    ExitBtn = CreateButton(CrossIcon(palette().color(QPalette::Active, QPalette::HighlightedText)),
                           15, 14);
    connect(ExitBtn, &QToolButton::clicked, this, [this] { ExitBtnClick(); });

    HintLabel = CreateLabel(QString(), 11, 48);
    HintLabel->setWordWrap(true);
    HintLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    HintLabel->setFixedSize(258, 143);
    FitHintFont();

    HeaderLabel = CreateLabel(QString(), 10, HeaderTop);
    QFont bold = HeaderLabel->font();
    bold.setBold(true);
    HeaderLabel->setFont(bold);

    RightBtn = CreateButton(ArrowIcon(Qt::RightArrow), 17, 17);
    connect(RightBtn, &QToolButton::clicked, this, [this] { NavigateClick(RightBtn); });
    LeftBtn = CreateButton(ArrowIcon(Qt::LeftArrow), 17, 17);
    connect(LeftBtn, &QToolButton::clicked, this, [this] { NavigateClick(LeftBtn); });
    LeftBtn->setEnabled(false);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(9, 194, 261, 2);

    Label2 = CreateLabel(MakerLine, 11, 205);
    WWWLabel = CreateLinkLabel(GuideLink, InstalledGuide(), 12, 221);
    Label1 = CreateLabel(DistributorLine, 12, 241);
    Label3 = CreateLinkLabel(ManualLink, InstalledManual(), 13, 257);
}

void TBubbleForm::FitHintFont() {
    // The label's size is fixed by the layout; with the platform's UI font
    // (wider than the layout was drawn for) the longest topics may not fit,
    // and a clipped help text is worse than a slightly smaller one.
    QFont hintFont = HintLabel->font();
    while (hintFont.pointSizeF() > MinHintPointSize && !AllTopicsFit(hintFont, HintLabel->size()))
        hintFont.setPointSizeF(hintFont.pointSizeF() - 0.5);
    HintLabel->setFont(hintFont);
}

QLabel* TBubbleForm::CreateLabel(const QString& text, int left, int top) {
    // Plain text always: topic texts contain "<Backspace>" and the like,
    // which rich-text detection would take for markup and swallow.
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLabel* TBubbleForm::CreateLinkLabel(const QString& text, const QString& target, int left,
                                     int top) {
    QLabel* label = CreateLabel(text, left, top);
    label->setProperty(LinkTarget, target);
    label->setToolTip(target);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, LinkColour);
    label->setPalette(colours);
    QFont underlined = label->font();
    underlined.setUnderline(true);
    label->setFont(underlined);
    label->adjustSize();
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
    return label;
}

QToolButton* TBubbleForm::CreateButton(const QIcon& icon, int width, int height) {
    auto* button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(icon);
    button->setIconSize(icon.availableSizes().value(0));
    button->setFixedSize(width, height);
    return button;
}

void TBubbleForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        FormShow();
    QWidget::showEvent(event);
}

void TBubbleForm::FormShow() {
    ExitBtn->move(width() - ExitBtn->width() - 8, (FCaptionHeight - ExitBtn->height()) / 2 + 1);
    RightBtn->move(ExitBtn->x() + ExitBtn->width() - RightBtn->width(), HeaderLabel->y());
    LeftBtn->move(RightBtn->x() - LeftBtn->width() - 2, HeaderLabel->y());
    if (!FShownBefore) {
        CenterOnScreen(this);
        FShownBefore = true;
    }
    ShowTopic();
}

void TBubbleForm::ShowTopic() {
    const THintDesc& topic = HintDescs.at(FTopic);
    HeaderLabel->setText(QString::fromLatin1(topic.Header));
    HeaderLabel->adjustSize();
    HintLabel->setText(DisplayText(QString::fromLatin1(topic.Text)));
}

void TBubbleForm::NavigateClick(const QObject* sender) {
    LeftBtn->setEnabled(true);
    RightBtn->setEnabled(true);
    if (sender == RightBtn) {
        if (FTopic < HintCount - 1)
            ++FTopic;
        if (FTopic == HintCount - 1)
            RightBtn->setEnabled(false);
    } else {
        if (FTopic > 0)
            --FTopic;
        if (FTopic == 0)
            LeftBtn->setEnabled(false);
    }
    ShowTopic();
}

void TBubbleForm::ExitBtnClick() {
    close();
}

void TBubbleForm::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The pen runs along the outline, so only its inner half stays inside
    // the window's shape: a grey rim of half the pen's width.
    painter.setPen(QPen(RimColour, RimWidth));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(QRectF(rect()), CornerRadius, CornerRadius);

    const QColor caption = palette().color(QPalette::Active, QPalette::Highlight);
    painter.setPen(QPen(caption, RimWidth));
    painter.setBrush(caption);
    painter.drawRoundedRect(QRectF(0, 0, width(), FCaptionHeight), CornerRadius, CornerRadius);

    QFont titleFont = font();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
    const int textHeight = painter.fontMetrics().height();
    painter.drawText(QRect(11, (FCaptionHeight - textHeight) / 2, width() - 11, textHeight),
                     Qt::AlignLeft | Qt::AlignTop, TitleText);
}

void TBubbleForm::keyPressEvent(QKeyEvent* event) {
    if (FormKeyDown(event->key()) || FormKeyPress(event->key())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TBubbleForm::FormKeyDown(int key) {
    switch (key) {
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_Left:
        NavigateClick(LeftBtn);
        return true;
    case Qt::Key_Right:
        NavigateClick(RightBtn);
        return true;
    default:
        return false;
    }
}

bool TBubbleForm::FormKeyPress(int key) {
    // Enter and Escape end here: no control and no other window gets them.
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

void TBubbleForm::mousePressEvent(QMouseEvent* event) {
    // Presses on the labels reach the window too (labels pass them on), but
    // no label lies in the title band, so only the window's surface drags.
    const QPoint position = event->position().toPoint();
    FDownX = position.x();
    FDownY = position.y();
    FDragging = event->button() == Qt::LeftButton && position.y() < FCaptionHeight;
}

void TBubbleForm::mouseMoveEvent(QMouseEvent* event) {
    if (!FDragging)
        return;
    // Place the window so that the pointer is where it was pressed within
    // it. Taken from the pointer's screen position, this does not depend on
    // the window system having finished the previous move.
    move(event->globalPosition().toPoint() - QPoint(FDownX, FDownY));
}

void TBubbleForm::mouseReleaseEvent(QMouseEvent*) {
    FDragging = false;
}

bool TBubbleForm::eventFilter(QObject* watched, QEvent* event) {
    auto* label = qobject_cast<QLabel*>(watched);
    if (!label || (label != WWWLabel && label != Label3))
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress)
        return true;
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint()))
            WWWLabelClick(label);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TBubbleForm::WWWLabelClick(const QLabel* label) {
    Interaction().OpenDocument(label->property(LinkTarget).toString());
}

void ShowBubbleForm(QWidget* owner) {
    if (!BubbleForm)
        BubbleForm = new TBubbleForm(owner);
    BubbleForm->show();
    BubbleForm->raise();
    BubbleForm->activateWindow();
}
