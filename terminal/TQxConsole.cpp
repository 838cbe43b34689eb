#include "terminal/TQxConsole.h"

#include "platform/Cp1252.h"
#include "platform/Interaction.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

const QColor TextColour(0, 0, 128);
constexpr int CaretWidth = 2;
// The pane's text starts one pixel in from the left and top edges.
constexpr int Margin = 1;
constexpr int BlinkCyclesBeforeRest = 10;
// A stream of random bytes holds a BEL every 256 bytes; ringing each would
// flood the window system with bells.
constexpr int BellIntervalMs = 100;

QFont TerminalFont() {
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

bool IsArrowKey(int key) {
    return key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right || key == Qt::Key_Down;
}

} // namespace

TQxConsole::TQxConsole(QWidget* parent) : QWidget(parent) {
    // Every paint fills its area itself, which also lets scrolling blit.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled);
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    resize(185, 41);
    FScreen.SetListener(this);
    FFlushTimer.setSingleShot(true);
    connect(&FFlushTimer, &QTimer::timeout, this, &TQxConsole::Flush);
    connect(&FBlinkTimer, &QTimer::timeout, this, &TQxConsole::ToggleBlink);
    setFont(TerminalFont());
    UpdateMetrics();
}

TQxConsole::~TQxConsole() {
    try {
        FScreen.StopRecording();
    } catch (...) {
        // A logfile that cannot be finished must not break the destruction.
    }
    FScreen.SetListener(nullptr);
}

void TQxConsole::WriteText(const QByteArray& text) {
    FScreen.WriteText(text);
    // A block that comes once the frame is over flushes at once, so that a
    // steady stream paints on the arrival of its blocks, not on a timer
    // that wakes the program between them.
    if (FFlushTimer.isActive() && !FFlushDue && FSinceFlush.elapsed() >= FFrameMs)
        StartFlushTimer(0);
}

void TQxConsole::ClearScreen() {
    FScreen.ClearScreen();
}

void TQxConsole::SetCursorOn(bool on) {
    FScreen.SetCursorOn(on);
}

void TQxConsole::SetHexEmulation(bool on) {
    FScreen.SetHexEmulation(on);
}

void TQxConsole::SetLogFile(const QString& fileName) {
    FScreen.SetLogFile(fileName);
}

void TQxConsole::SetRecording(bool on) {
    FScreen.SetRecording(on);
}

void TQxConsole::UpdateMetrics() {
    FCells = std::make_unique<TCellFont>(font());
    FLineHeight = FCells->LineHeight();
    FScreen.MaxRow = std::max(height() / FLineHeight - 1, 1);
}

int TQxConsole::VisibleRows() const {
    return height() / FLineHeight + 1;
}

bool TQxConsole::CaretWanted() const {
    return hasFocus() && FScreen.CursorOn && !FScreen.HexEmulation;
}

QRect TQxConsole::CaretRect() const {
    const int x = (FScreen.Col - 1) * FCells->CellWidth() + Margin;
    return QRect(x, FScreen.Row * FLineHeight + Margin, CaretWidth, FLineHeight);
}

// --- Painting -------------------------------------------------------------

void TQxConsole::paintEvent(QPaintEvent* event) {
    // A blit still owed by the next flush would move what this paint draws
    // from the current model; repaint everything then instead.
    if (FPendingScroll > 0)
        FFullUpdate = true;
    // The region, not its bounding rectangle: after a scroll it holds the
    // top margin and the new rows at the bottom, and the rows between them
    // are already on the screen.
    const QRegion& region = event->region();
    const QRect area = region.boundingRect();
    QPainter painter(this);
    for (const QRect& rect : region)
        painter.fillRect(rect, palette().color(QPalette::Base));
    painter.setPen(TextColour);
    const QList<QByteArray>& lines = FScreen.Lines;
    const int first = std::max((area.top() - Margin) / FLineHeight, 0);
    const int last = std::min<int>((area.bottom() - Margin) / FLineHeight, lines.size() - 1);
    const int maxCells = width() / FCells->CellWidth() + 1;
    for (int row = first; row <= last; ++row) {
        const int top = row * FLineHeight + Margin;
        if (region.intersects(QRect(0, top, width(), FLineHeight)))
            FCells->DrawCells(painter, lines[row], Margin, top, maxCells);
    }
    if (CaretWanted() && FBlinkOn) {
        FCaretPainted = CaretRect();
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(FCaretPainted, Qt::white);
    }
}

void TQxConsole::RowChanged(int row) {
    const qint64 line = row + FScrolledTotal;
    if (FDirtyFirst < 0 || line < FDirtyFirst)
        FDirtyFirst = line;
    FDirtyLast = std::max(FDirtyLast, line);
    ScheduleFlush();
}

void TQxConsole::ScrolledUp() {
    ++FScrolledTotal;
    FPendingScroll = std::min(FPendingScroll + 1, 1 << 20);
    ScheduleFlush();
}

void TQxConsole::Cleared() {
    FFullUpdate = true;
    ScheduleFlush();
}

void TQxConsole::CursorChanged() {
    RestartBlink();
    ScheduleFlush();
}

void TQxConsole::Beep() {
    if (FLastBell.isValid() && FLastBell.elapsed() < BellIntervalMs)
        return;
    FLastBell.start();
    Interaction().Beep();
}

void TQxConsole::Warning(const QString& text, const QString& detail) {
    Interaction().Warning(this, text, detail);
}

// Flushes right after the current work when the last flush lies a frame
// back. Otherwise the changes wait for the next block of text that comes
// after the frame (WriteText), or for half a frame more at the end of a
// burst; everything that changes meanwhile joins the same flush.
void TQxConsole::ScheduleFlush() {
    if (FFlushTimer.isActive())
        return;
    const qreal rate = screen() ? screen()->refreshRate() : 60;
    FFrameMs = std::clamp(static_cast<int>(1000 / std::max<qreal>(rate, 1)), 4, 50);
    const qint64 since = FSinceFlush.isValid() ? FSinceFlush.elapsed() : FFrameMs;
    StartFlushTimer(since >= FFrameMs ? 0 : static_cast<int>(FFrameMs - since + FFrameMs / 2));
}

void TQxConsole::StartFlushTimer(int delayMs) {
    FFlushDue = delayMs == 0;
    FFlushTimer.start(delayMs);
}

// One blit for all rows scrolled since the last flush (or one full repaint
// when a whole screen went by), then an update of the changed rows and of
// the caret's old and new place.
void TQxConsole::Flush() {
    FFlushDue = false;
    FSinceFlush.restart();
    const int scroll = FPendingScroll;
    const bool full = FFullUpdate || scroll >= VisibleRows();
    if (full) {
        update();
    } else {
        if (scroll > 0) {
            QWidget::scroll(0, -scroll * FLineHeight);
            // The top margin received the bottom pixel line of a row.
            update(QRect(0, 0, width(), Margin));
            FCaretPainted.translate(0, -scroll * FLineHeight);
        }
        if (FDirtyFirst >= 0)
            UpdateRows(static_cast<int>(std::max<qint64>(FDirtyFirst - FScrolledTotal, -1)),
                       static_cast<int>(std::max<qint64>(FDirtyLast - FScrolledTotal, -1)));
        update(FCaretPainted);
        update(CaretRect());
    }
    FPendingScroll = 0;
    FFullUpdate = false;
    FDirtyFirst = FDirtyLast = -1;
}

void TQxConsole::UpdateRows(int first, int last) {
    first = std::max(first, 0);
    if (last < first)
        return;
    update(QRect(0, first * FLineHeight + Margin, width(), (last - first + 1) * FLineHeight));
}

// --- Caret ----------------------------------------------------------------

// After BlinkCyclesBeforeRest blinks without typing or output the caret
// stays shown and its timer stops, as the desktop's text fields do: an idle
// terminal then does not wake the program twice a second.
void TQxConsole::ToggleBlink() {
    FBlinkOn = !FBlinkOn;
    update(CaretRect());
    if (FBlinkOn && ++FBlinkCycles >= BlinkCyclesBeforeRest)
        FBlinkTimer.stop();
}

void TQxConsole::RestartBlink() {
    FBlinkOn = true;
    FBlinkCycles = 0;
    if (FBlinkHalfPeriodMs > 0)
        FBlinkTimer.start(FBlinkHalfPeriodMs);
}

void TQxConsole::focusInEvent(QFocusEvent*) {
    const int flashMs = QApplication::cursorFlashTime();
    FBlinkHalfPeriodMs = flashMs > 0 ? flashMs / 2 : 0;
    RestartBlink();
    update(CaretRect());
}

void TQxConsole::focusOutEvent(QFocusEvent*) {
    FBlinkHalfPeriodMs = 0;
    FBlinkTimer.stop();
    update(FCaretPainted);
    update(CaretRect());
}

// --- Metrics --------------------------------------------------------------

void TQxConsole::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateMetrics();
}

void TQxConsole::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        FFullUpdate = true;
        ScheduleFlush();
    }
}

// --- Keyboard and mouse ---------------------------------------------------

void TQxConsole::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    if (text.isEmpty()) {
        // The arrow keys stay here (they send nothing); others go on.
        if (IsArrowKey(event->key()))
            event->accept();
        else
            QWidget::keyPressEvent(event);
        return;
    }
    TypeText(text);
    event->accept();
}

// Characters composed by an input method (dead keys, compose sequences).
void TQxConsole::inputMethodEvent(QInputMethodEvent* event) {
    TypeText(event->commitString());
    event->accept();
}

void TQxConsole::TypeText(const QString& text) {
    // Typing shows the caret and starts its blinking afresh (a resting
    // caret too), even when nothing is echoed.
    if (!FBlinkOn)
        update(CaretRect());
    RestartBlink();
    for (const QChar ch : text) {
        const int byte = UnicodeToCp1252(ch);
        if (byte < 0)
            continue; // the code page has no such character: nothing is sent
        char key = static_cast<char>(byte);
        KeyPress(key);
    }
}

void TQxConsole::KeyPress(char& key) {
    if (FScreen.LocalEcho)
        WriteText(QByteArray(1, key));
    if (OnKeyPress)
        OnKeyPress(*this, key);
    if (key == '\r' && FScreen.CRLFOut) {
        key = '\n';
        if (FScreen.LocalEcho)
            WriteText(QByteArray(1, key));
        if (OnKeyPress)
            OnKeyPress(*this, key);
    }
}

void TQxConsole::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
}

void TQxConsole::contextMenuEvent(QContextMenuEvent* event) {
    if (FPopupMenu) {
        FPopupMenu->popup(event->globalPos());
        event->accept();
    } else {
        QWidget::contextMenuEvent(event);
    }
}
