#include "terminal/TQxConsole.h"

#include "platform/Cp1252.h"
#include "platform/TAliveGuard.h"
#include "platform/TInteraction.h"
#include "terminal/TLogDesc.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVarLengthArray>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QColor LightBaseText(0, 0, 128);
const QColor DarkBaseText(210, 215, 255);
const QColor LightBaseMatch(255, 230, 110);
const QColor DarkBaseMatch(115, 95, 20);
const QColor LightBaseCurrentMatch(255, 140, 40);
const QColor DarkBaseCurrentMatch(165, 70, 0);
constexpr int WheelRowsPerNotch = 3;
// Characters that end a word for a double click, besides the blank.
const QByteArray WordStops = "()[]{}<>\"'`,;|";
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
    FScrollBar = new QScrollBar(Qt::Vertical, this);
    FScrollBar->setObjectName(QStringLiteral("ScrollBar"));
    FScrollBar->setFocusPolicy(Qt::NoFocus);
    FScrollBar->setCursor(Qt::ArrowCursor);
    FScrollBar->hide();
    connect(FScrollBar, &QScrollBar::valueChanged, this, &TQxConsole::ScrollBarMoved);
    FScrollBar->installEventFilter(this);
    FHScrollBar = new QScrollBar(Qt::Horizontal, this);
    FHScrollBar->setObjectName(QStringLiteral("HorizontalScrollBar"));
    FHScrollBar->setFocusPolicy(Qt::NoFocus);
    FHScrollBar->setCursor(Qt::ArrowCursor);
    FHScrollBar->hide();
    connect(FHScrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        FHOffset = value;
        update();
    });
    FIndicator = new QLabel(this);
    FIndicator->setObjectName(QStringLiteral("ScrollIndicator"));
    FIndicator->setAutoFillBackground(true);
    FIndicator->setBackgroundRole(QPalette::ToolTipBase);
    FIndicator->setForegroundRole(QPalette::ToolTipText);
    FIndicator->setFrameShape(QFrame::Box);
    FIndicator->setMargin(2);
    FIndicator->hide();
    setCursor(Qt::IBeamCursor);
    FPasteTimer.setInterval(0);
    connect(&FPasteTimer, &QTimer::timeout, this, &TQxConsole::SendPasteChunk);
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
    if (FVt) {
        if (!FScreen.Displaying)
            return;
        FScreen.RecordRaw(text);
        FVt->WriteText(text);
        FScreen.FlushRecording();
    } else {
        FScreen.WriteText(text);
    }
    // A block that comes once the paint interval is over flushes at once, so
    // that a steady stream paints on the arrival of its blocks, not on a
    // timer that wakes the program between them.
    if (FFlushTimer.isActive() && !FFlushDue && FSinceFlush.elapsed() >= FPaintIntervalMs)
        StartFlushTimer(0);
}

void TQxConsole::ClearScreen() {
    if (FVt)
        FVt->WriteText("\x1b[H\x1b[2J");
    else
        FScreen.ClearScreen();
}

void TQxConsole::SetCursorOn(bool on) {
    FScreen.SetCursorOn(on);
}

// The new emulation starts with an empty screen and no history.
void TQxConsole::SetHexEmulation(bool on) {
    FScreen.SetHexEmulation(on);
    SyncHScrollBar();
}

void TQxConsole::SetVtEmulation(bool on) {
    if (on == VtEmulation())
        return;
    if (FScreen.Log.Active && !FScreen.RawLog)
        FScreen.LogScreen();
    if (on) {
        FScreen.SetHexEmulation(false);
        FVt = std::make_unique<TVtScreen>(80, std::max(FScreen.MaxRow + 1, 1));
        ConnectVt();
        ResizeVt();
    } else {
        FVt.reset();
        FScreen.ScreenTextForLog = nullptr;
        // The target's title goes with its emulation.
        if (OnTitle)
            OnTitle(QString());
    }
    FScreen.ClearScreen();
    FScreen.ClearScrollback();
    FViewTop = -1;
    FNewDataBelow = false;
    Cleared();
    update();
    SyncScrollBar();
    SyncHScrollBar();
}

void TQxConsole::ConnectVt() {
    FVt->SetListener(this);
    FVt->SetScrollbackLimit(FScreen.ScrollbackLimit());
    FVt->SetBareLfReturns(FBareLfReturns);
    FVt->SetCrFeedsLine(FScreen.CRLFIn);
    FVt->BackspaceSendsBs = FBackspaceSendsBs;
    FVt->OnAnswer = [this](const QByteArray& bytes) {
        if (OnAnswer)
            OnAnswer(bytes);
    };
    FVt->OnTitle = [this](const QString& title) {
        if (OnTitle)
            OnTitle(title);
    };
    // The recording gets each row as it leaves the screen, as UTF-8 text.
    FVt->OnRowScrolledOff = [this](const TVtLine& line) {
        if (FScreen.Log.Active)
            FScreen.RecordLine(line.Text().toUtf8(), FVt->Times().At(FVt->ScreenLine()));
    };
    FScreen.ScreenTextForLog = [this] {
        QList<QByteArray> lines;
        for (const QString& row : FVt->VisibleText())
            lines.append(row.toUtf8());
        while (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    };
}

void TQxConsole::SetFixedColumns(int columns) {
    FFixedColumns = columns;
    ResizeVt();
    SyncHScrollBar();
}

int TQxConsole::Left() const {
    return Margin + StampWidth() - FHOffset;
}

int TQxConsole::StampWidth() const {
    return FShowTimes ? (TLineTimes::FormatWidth + 1) * FCells->CellWidth() : 0;
}

void TQxConsole::SetShowTimestamps(bool on) {
    if (on == FShowTimes)
        return;
    FShowTimes = on;
    ResizeVt();
    SyncHScrollBar();
    FFullUpdate = true;
    update();
}

// The rows of the VT emulation's alternate screen have no times.
qint64 TQxConsole::LineTime(qint64 line) const {
    if (!FVt)
        return FScreen.Times().At(line);
    return FVt->AltScreen() && line >= FVt->ScreenLine() ? 0 : FVt->Times().At(line);
}

// The bar below the rows appears where the screen is wider than the pane
// (a fixed VT width, or the 80 columns in a narrow window).
void TQxConsole::SyncHScrollBar() {
    const int columns =
        FVt ? FVt->Columns()
            : (FScreen.HexEmulation ? TConsoleScreen::HexAreaWidth + TConsoleScreen::HexBytesPerLine
                                    : TConsoleScreen::Columns);
    const int barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int visible = width() - barWidth;
    const int hidden = columns * FCells->CellWidth() + 2 * Margin + StampWidth() - visible;
    const QSignalBlocker blocker(FHScrollBar);
    const bool wasShown = !FHScrollBar->isHidden();
    if (hidden <= 0) {
        FHScrollBar->hide();
        if (FHOffset != 0) {
            FHOffset = 0;
            update();
        }
    } else {
        FHScrollBar->setGeometry(0, height() - barWidth, visible, barWidth);
        FHScrollBar->setRange(0, hidden);
        FHScrollBar->setPageStep(visible);
        FHScrollBar->setSingleStep(FCells->CellWidth());
        FHOffset = std::min(FHOffset, hidden);
        FHScrollBar->setValue(FHOffset);
        FHScrollBar->show();
    }
    if (wasShown != !FHScrollBar->isHidden()) {
        FitRows();
        FFullUpdate = true;
        update();
    }
}

// The rows end above the bar below them: a newest row under the bar would
// be hidden, and every row painted there would repaint the bar as well.
int TQxConsole::RowsHeight() const {
    return FHScrollBar->isHidden() ? height() : height() - FHScrollBar->height();
}

// The screen takes as many whole rows as the rows' height holds.
void TQxConsole::FitRows() {
    FScreen.MaxRow = std::max(RowsHeight() / FLineHeight - 1, 1);
    ResizeVt();
}

void TQxConsole::SetCRLFIn(bool on) {
    FScreen.CRLFIn = on;
    if (FVt)
        FVt->SetCrFeedsLine(on);
}

void TQxConsole::SetBareLfReturns(bool on) {
    FBareLfReturns = on;
    FScreen.LFIn = on;
    if (FVt)
        FVt->SetBareLfReturns(on);
}

void TQxConsole::SetBackspaceSendsBs(bool on) {
    FBackspaceSendsBs = on;
    if (FVt)
        FVt->BackspaceSendsBs = on;
}

// The VT screen fills the pane in whole cells (the scroll bar's room kept
// free, so that its coming does not resize the screen); a fixed width
// stays.
void TQxConsole::ResizeVt() {
    if (!FVt)
        return;
    const int barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int columns =
        FFixedColumns > 0
            ? FFixedColumns
            : std::max((width() - barWidth - Margin - StampWidth()) / FCells->CellWidth(), 1);
    const int rows = std::max(RowsHeight() / FLineHeight, 1);
    if (columns == FVt->Columns() && rows == FVt->Rows())
        return;
    FVt->Resize(columns, rows);
    if (OnStatusMessage && isVisible())
        OnStatusMessage(QStringLiteral("%1 x %2").arg(columns).arg(rows));
}

qint64 TQxConsole::FirstLine() const {
    return FVt ? FVt->FirstLine() : FScreen.FirstLine();
}

qint64 TQxConsole::ScreenLine() const {
    return FVt ? FVt->ScreenLine() : FScreen.ScreenLine();
}

qint64 TQxConsole::EndLine() const {
    return FVt ? FVt->EndLine() : FScreen.EndLine();
}

int TQxConsole::HistoryCount() const {
    return FVt ? FVt->HistorySize() : static_cast<int>(FScreen.History().size());
}

int TQxConsole::LineLength(qint64 line) const {
    if (!FVt)
        return static_cast<int>(FScreen.LineText(line).size());
    return std::max(static_cast<int>(FVt->Line(line).Cells.size()), FVt->Columns());
}

void TQxConsole::SetLogFile(const QString& fileName) {
    FScreen.SetLogFile(fileName);
}

void TQxConsole::SetRecording(bool on) {
    FScreen.SetRecording(on);
}

void TQxConsole::UpdateMetrics() {
    FCells = std::make_unique<TCellFont>(font());
    FTiles.Reset();
    FLineHeight = FCells->LineHeight();
    FVtPainter = std::make_unique<TVtPainter>(font(), FCells->CellWidth(), FLineHeight,
                                              QFontMetrics(font()).ascent());
    FitRows();
}

int TQxConsole::VisibleRows() const {
    return RowsHeight() / FLineHeight + 1;
}

bool TQxConsole::CaretWanted() const {
    if (FVt)
        return hasFocus() && FScreen.CursorOn && FVt->CursorVisible();
    return hasFocus() && FScreen.CursorOn && !FScreen.HexEmulation;
}

QRect TQxConsole::CaretRect() const {
    const int col = FVt ? FVt->Cursor().x() : FScreen.Col - 1;
    const int x = col * FCells->CellWidth() + Left();
    return QRect(x, CaretViewRow() * FLineHeight + Margin, CaretWidth, FLineHeight);
}

int TQxConsole::CaretViewRow() const {
    const qint64 row = ScreenLine() + (FVt ? FVt->Cursor().y() : FScreen.Row) - ViewTopLine();
    return static_cast<int>(std::clamp<qint64>(row, -2, VisibleRows() + 1));
}

// The rows' area: the whole pane but the scroll bars.
QRect TQxConsole::TextArea() const {
    QRect area = rect();
    if (FScrollBar->isVisible())
        area.setRight(FScrollBar->x() - 1);
    area.setBottom(RowsHeight() - 1);
    return area;
}

QColor TQxConsole::TextColour() const {
    return palette().color(QPalette::Base).lightness() < 128 ? DarkBaseText : LightBaseText;
}

// --- Painting -------------------------------------------------------------

void TQxConsole::paintEvent(QPaintEvent* event) {
    // A blit still owed by the next flush would move what this paint draws
    // from the model; repaint everything then instead.
    if (FPendingScroll > 0)
        FFullUpdate = true;
    // The region, not its bounding rectangle: after a scroll it holds the
    // top margin and the new rows at the bottom, and the rows between them
    // are already on the screen.
    const QRegion& region = event->region();
    const QRect area = region.boundingRect();
    QPainter painter(this);
    TRowStyle style;
    style.Text = TextColour();
    style.Base = palette().color(QPalette::Base);
    // Opaque tiles would cover the find marks behind the text.
    style.Tiles = FFindKey.isEmpty() && style.Base.alpha() == 255 &&
                  painter.device()->devicePixelRatio() == 1;
    const qint64 top = ViewTopLine();
    const qint64 end = EndLine();
    const int first = std::max((area.top() - Margin) / FLineHeight, 0);
    const int last = (area.bottom() - Margin) / FLineHeight;
    const QRect textArea = TextArea();
    const int cellWidth = FCells->CellWidth();
    const int maxCells = (textArea.width() + FHOffset) / cellWidth + 1;
    // Only the cells the region touches: a repaint of the scroll bar or of
    // the caret needs a sliver of each row, not the rows' whole text.
    struct TRowCells {
        int Row, FromCell, ToCell;
    };
    QVarLengthArray<TRowCells, 64> rows;
    // The background goes only where no tiles cover it.
    QRegion background = region;
    for (int row = first; row <= last && top + row < end; ++row) {
        const int y = row * FLineHeight + Margin;
        const QRect touched =
            (region & QRect(textArea.left(), y, textArea.width(), FLineHeight)).boundingRect();
        if (touched.isEmpty())
            continue;
        const int fromCell = std::max((touched.left() - Left()) / cellWidth, 0);
        const int toCell = std::min((touched.right() - Left()) / cellWidth + 1, maxCells);
        rows.append({row, fromCell, toCell});
        if (style.Tiles)
            background -= QRect(Left() + fromCell * cellWidth, y, (toCell - fromCell) * cellWidth,
                                FLineHeight);
    }
    for (const QRect& rect : background)
        painter.fillRect(rect, style.Base);
    painter.setPen(style.Text);
    for (const TRowCells& row : rows)
        PaintRow(painter, top + row.Row, row.Row * FLineHeight + Margin, row.FromCell, row.ToCell,
                 style);
    // The margin goes over the cells that a horizontal scroll moved under it.
    if (FShowTimes) {
        for (const TRowCells& row : rows)
            PaintStamp(painter, top + row.Row, row.Row * FLineHeight + Margin, style.Base);
        painter.setPen(style.Text);
    }
    if (CaretWanted() && FBlinkOn) {
        FCaretPainted = CaretRect();
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(FCaretPainted, Qt::white);
    }
}

// A line's time in a colour between the text's and the background's.
void TQxConsole::PaintStamp(QPainter& painter, qint64 line, int top, const QColor& base) {
    painter.fillRect(QRect(0, top, StampWidth(), FLineHeight), base);
    const qint64 time = LineTime(line);
    if (time == 0)
        return;
    const QColor text = TextColour();
    painter.setPen(QColor((text.red() * 3 + base.red() * 2) / 5,
                          (text.green() * 3 + base.green() * 2) / 5,
                          (text.blue() * 3 + base.blue() * 2) / 5));
    FCells->DrawCellRange(painter, TLineTimes::Format(time).toLatin1(), 0, TLineTimes::FormatWidth,
                          Margin, top);
}

// A row: the find matches behind the text, the text, and the selected part
// inverted (text colour behind, background colour for the glyphs).
void TQxConsole::PaintRow(QPainter& painter, qint64 line, int top, int fromCell, int toCell,
                          const TRowStyle& style) {
    if (FVt) {
        PaintVtRow(painter, line, top, fromCell, toCell);
        return;
    }
    const QByteArray& text = FScreen.LineText(line);
    if (!FFindKey.isEmpty())
        PaintMarks(painter, text, line, top);
    if (style.Tiles)
        FTiles.DrawRow(painter, *FCells, text, fromCell, toCell, Left(), top, style.Text,
                       style.Base);
    else
        FCells->DrawCellRange(painter, text, fromCell, toCell, Left(), top);
    if (!HasSelection())
        return;
    const TTextPos from = std::min(FSelAnchor, FSelEnd);
    const TTextPos to = std::max(FSelAnchor, FSelEnd);
    if (line < from.Line || line > to.Line)
        return;
    const int begin = line == from.Line ? from.Col : 0;
    const int end = std::min(line == to.Line ? to.Col : static_cast<int>(text.size()), toCell);
    if (end <= begin)
        return;
    const int cellWidth = FCells->CellWidth();
    painter.fillRect(QRect(Left() + begin * cellWidth, top, (end - begin) * cellWidth, FLineHeight),
                     style.Text);
    painter.setPen(style.Base);
    FCells->DrawCellRange(painter, text, begin, end, Left(), top);
    painter.setPen(style.Text);
}

// A VT row with its find matches and the selected part.
void TQxConsole::PaintVtRow(QPainter& painter, qint64 line, int top, int fromCell, int toCell) {
    const TVtLine cells = FVt->Line(line);
    QList<TVtPainter::THighlight> highlights;
    if (!FFindText.isEmpty()) {
        const bool dark = palette().color(QPalette::Base).lightness() < 128;
        QList<int> columns;
        const QString text = cells.Text(0, 1 << 30, &columns);
        const Qt::CaseSensitivity cs = FFindCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        for (qsizetype at = text.indexOf(FFindText, 0, cs); at >= 0;
             at = text.indexOf(FFindText, at + 1, cs)) {
            const int from = columns.value(at);
            const qsizetype last = at + FFindText.size() - 1;
            const int to = last < columns.size() ? columns.at(last) + 1 : from + 1;
            const bool current = FCurrentMatch && *FCurrentMatch == TTextPos{line, from};
            highlights.append({from, to,
                               current ? (dark ? DarkBaseCurrentMatch : LightBaseCurrentMatch)
                                       : (dark ? DarkBaseMatch : LightBaseMatch),
                               false});
        }
    }
    if (HasSelection()) {
        const TTextPos from = std::min(FSelAnchor, FSelEnd);
        const TTextPos to = std::max(FSelAnchor, FSelEnd);
        if (line >= from.Line && line <= to.Line)
            highlights.append({line == from.Line ? from.Col : 0, line == to.Line ? to.Col : 1 << 30,
                               QColor(), true});
    }
    FVtPainter->SetColours(TextColour(), palette().color(QPalette::Base));
    FVtPainter->PaintLine(painter, cells, fromCell, toCell, Left(), top, highlights);
}

void TQxConsole::PaintMarks(QPainter& painter, const QByteArray& text, qint64 line, int top) {
    const bool dark = palette().color(QPalette::Base).lightness() < 128;
    const int cellWidth = FCells->CellWidth();
    const int length = static_cast<int>(FFindKey.size());
    for (qsizetype col = TConsoleScreen::IndexIn(text, FFindKey, FFindCase, 0); col >= 0;
         col = TConsoleScreen::IndexIn(text, FFindKey, FFindCase, col + 1)) {
        const bool current = FCurrentMatch && *FCurrentMatch == TTextPos{line, int(col)};
        painter.fillRect(QRect(Left() + int(col) * cellWidth, top, length * cellWidth, FLineHeight),
                         current ? (dark ? DarkBaseCurrentMatch : LightBaseCurrentMatch)
                                 : (dark ? DarkBaseMatch : LightBaseMatch));
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

// The screen or the history was emptied: what was selected or found is
// gone.
void TQxConsole::Cleared() {
    FFullUpdate = true;
    FSelAnchor = FSelEnd = TTextPos{};
    FCurrentMatch.reset();
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

// A modal box now would run the event loop inside the intake, which could
// then be entered again with the next received bytes.
void TQxConsole::RecordingFailed(const QString& text, const QString& detail) {
    if (OnRecordingEnded)
        OnRecordingEnded(*this);
    QMetaObject::invokeMethod(
        this, [this, text, detail] { Warning(text, detail); }, Qt::QueuedConnection);
}

// Flushes right after the current work when the last flush lies a paint
// interval (two and a half screen frames, 40 ms at 60 Hz) back: an echo
// after a quiet moment shows at once. Otherwise the changes wait for the
// next block of text that comes after the interval (WriteText), or for one
// interval more at the end of a burst; everything that changes meanwhile
// joins the same flush. A slow line read in batches of two frames thus
// paints every other batch, and no timer wakes the program between them:
// on an X server each paint costs a round trip and two wake-ups.
void TQxConsole::ScheduleFlush() {
    if (FFlushTimer.isActive())
        return;
    const qreal rate = screen() ? screen()->refreshRate() : 60;
    FPaintIntervalMs = std::clamp(static_cast<int>(2500 / std::max<qreal>(rate, 1)), 10, 125);
    const qint64 since = FSinceFlush.isValid() ? FSinceFlush.elapsed() : FPaintIntervalMs;
    StartFlushTimer(since >= FPaintIntervalMs ? 0 : static_cast<int>(2 * FPaintIntervalMs - since));
}

void TQxConsole::StartFlushTimer(int delayMs) {
    FFlushDue = delayMs == 0;
    FFlushTimer.start(delayMs);
}

// One blit for all rows scrolled since the last flush (or one full repaint
// when a whole screen went by), then an update of the changed rows and of
// the caret's old and new place. A scrolled-back view stays where it is:
// only what it shows of the screen is repainted.
void TQxConsole::Flush() {
    FFlushDue = false;
    FSinceFlush.restart();
    const int scroll = FPendingScroll;
    const QRect area = TextArea();
    if (ScrolledBack()) {
        const bool moved = FViewTop < FirstLine();
        const bool changed = scroll > 0 || FDirtyFirst >= 0;
        const qint64 bottom = FViewTop + VisibleRows();
        if (FFullUpdate || moved ||
            (FDirtyFirst >= 0 && FDirtyLast >= FViewTop && FDirtyFirst < bottom))
            update(area);
        if (moved)
            SetViewTop(FirstLine());
        if (changed && !FNewDataBelow) {
            FNewDataBelow = true;
            ShowIndicator();
        }
    } else if (FFullUpdate || scroll >= VisibleRows()) {
        update(area);
    } else {
        if (scroll > 0) {
            QWidget::scroll(0, -scroll * FLineHeight, area);
            // The top margin received the bottom pixel line of a row.
            update(QRect(0, 0, area.width(), Margin));
            FCaretPainted.translate(0, -scroll * FLineHeight);
        }
        if (FDirtyFirst >= 0)
            UpdateRows(static_cast<int>(std::max<qint64>(FDirtyFirst - FScrolledTotal, -1)),
                       static_cast<int>(std::max<qint64>(FDirtyLast - FScrolledTotal, -1)));
        update(FCaretPainted.intersected(area));
        update(CaretRect().intersected(area));
    }
    FPendingScroll = 0;
    FFullUpdate = false;
    FDirtyFirst = FDirtyLast = -1;
    SyncScrollBar();
}

void TQxConsole::UpdateRows(int first, int last) {
    first = std::max(first, 0);
    if (last < first)
        return;
    const QRect area = TextArea();
    update(QRect(0, first * FLineHeight + Margin, area.width(), (last - first + 1) * FLineHeight)
               .intersected(area));
}

// --- Caret ----------------------------------------------------------------

// After BlinkCyclesBeforeRest blinks without typing or output the caret
// stays shown and its timer stops, as the desktop's text fields do: an idle
// terminal then does not wake the program twice a second.
void TQxConsole::ToggleBlink() {
    // Typing or output since the last tick: the caret stays shown for one
    // more half period, as if the timer had been started afresh.
    if (std::exchange(FBlinkHeld, false))
        return;
    FBlinkOn = !FBlinkOn;
    update(CaretRect());
    if (FBlinkOn && ++FBlinkCycles >= BlinkCyclesBeforeRest)
        FBlinkTimer.stop();
}

// Output calls this for every block it shows: a running timer is only told
// to hold the caret, as restarting it each time costs more than the intake.
void TQxConsole::RestartBlink() {
    FBlinkOn = true;
    FBlinkCycles = 0;
    if (FBlinkHalfPeriodMs <= 0)
        return;
    if (FBlinkTimer.isActive() && FBlinkTimer.interval() == FBlinkHalfPeriodMs) {
        FBlinkHeld = true;
        return;
    }
    FBlinkHeld = false;
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
    const int barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    FScrollBar->setGeometry(width() - barWidth, 0, barWidth, height());
    SyncScrollBar();
    SyncHScrollBar();
    ShowIndicator();
}

void TQxConsole::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        update();
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        FFullUpdate = true;
        ScheduleFlush();
    }
}

// --- Keyboard and mouse ---------------------------------------------------

void TQxConsole::keyPressEvent(QKeyEvent* event) {
    if (ViewKey(event)) {
        event->accept();
        return;
    }
    const QString text = event->text();
    if (FVt) {
        const QByteArray bytes = FVt->KeyBytes(event->key(), event->modifiers(), text);
        if (!bytes.isEmpty()) {
            ScrollToLive();
            RestartBlink();
            SendTyped(bytes);
            event->accept();
            return;
        }
    }
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

// The editing and view keys, which send nothing: Ctrl+Insert copies,
// Shift+Insert pastes, Escape stops a running paste, Shift+PgUp/PgDn/Home/End
// and End move the view.
bool TQxConsole::ViewKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers chord =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int page = std::max(VisibleRows() - 2, 1);
    switch (event->key()) {
    case Qt::Key_Insert:
        if (chord == Qt::ControlModifier)
            Copy();
        else if (chord == (Qt::ControlModifier | Qt::ShiftModifier))
            CopyWithTimestamps();
        else if (chord == Qt::ShiftModifier)
            Paste();
        return true;
    case Qt::Key_Escape:
        if (!Pasting())
            return false;
        StopPaste();
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (chord != Qt::ShiftModifier)
            return false;
        ScrollViewBy(event->key() == Qt::Key_PageUp ? -page : page);
        return true;
    case Qt::Key_Home:
        if (chord != Qt::ShiftModifier)
            return false;
        SetViewTop(FirstLine());
        return true;
    case Qt::Key_End:
        if (chord != Qt::ShiftModifier && (chord != Qt::NoModifier || FVt))
            return false;
        ScrollToLive();
        return true;
    default:
        return false;
    }
}

// Characters composed by an input method (dead keys, compose sequences).
void TQxConsole::inputMethodEvent(QInputMethodEvent* event) {
    TypeText(event->commitString());
    event->accept();
}

void TQxConsole::TypeText(const QString& text) {
    // Typing returns to the live screen, shows the caret and starts its
    // blinking afresh (a resting caret too), even when nothing is echoed.
    ScrollToLive();
    if (!FBlinkOn)
        update(CaretRect());
    RestartBlink();
    // A character the code page has no byte for is not sent; the VT
    // emulation sends UTF-8.
    for (char key : FVt ? text.toUtf8() : StringToCp1252(text, TUnmappable::Drop))
        KeyPress(key);
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

// Left: starts a selection (a third click soon after a double click
// selects the row); middle: pastes the selection (or the clipboard where
// the platform has no selection).
void TQxConsole::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        const TTextPos pos = PosAt(point);
        if (FSinceDoubleClick.isValid() &&
            FSinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
            (point - FDoubleClickPoint).manhattanLength() < QApplication::startDragDistance() * 2) {
            FSinceDoubleClick.invalidate();
            Select(TTextPos{pos.Line, 0}, TTextPos{pos.Line + 1, 0});
            SetPrimarySelection();
            return;
        }
        ClearSelection();
        FSelAnchor = FSelEnd = pos;
        FSelecting = true;
    } else if (event->button() == Qt::MiddleButton) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        PasteText(clipboard->text(clipboard->supportsSelection() ? QClipboard::Selection
                                                                 : QClipboard::Clipboard));
    }
}

void TQxConsole::mouseMoveEvent(QMouseEvent* event) {
    if (!FSelecting || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint point = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls the view along.
    if (point.y() < 0)
        ScrollViewBy(-1);
    else if (point.y() >= RowsHeight())
        ScrollViewBy(1);
    const TTextPos pos = PosAt(point);
    if (pos != FSelEnd) {
        FSelEnd = pos;
        update(TextArea());
    }
}

void TQxConsole::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && FSelecting) {
        FSelecting = false;
        if (HasSelection())
            SetPrimarySelection();
    }
}

void TQxConsole::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    FSelecting = false;
    FSinceDoubleClick.start();
    FDoubleClickPoint = event->position().toPoint();
    SelectWordAt(PosAt(FDoubleClickPoint));
    SetPrimarySelection();
}

void TQxConsole::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
    if (notches != 0)
        ScrollViewBy(-notches * WheelRowsPerNotch);
    event->accept();
}

void TQxConsole::contextMenuEvent(QContextMenuEvent* event) {
    if (FPopupMenu) {
        FPopupMenu->popup(event->globalPos());
        event->accept();
    } else {
        QWidget::contextMenuEvent(event);
    }
}

// --- History and view -----------------------------------------------------

void TQxConsole::SetScrollbackLimit(int lines) {
    FScreen.SetScrollbackLimit(lines);
    if (FVt)
        FVt->SetScrollbackLimit(lines);
    SetViewTop(ViewTopLine());
    SyncScrollBar();
}

void TQxConsole::ClearScrollback() {
    FScreen.ClearScrollback();
    if (FVt)
        FVt->ClearScrollback();
    ScrollToLive();
    SyncScrollBar();
}

// A scrolled-back view whose top rows left the history meanwhile starts at
// the oldest row until the next flush moves it there.
qint64 TQxConsole::ViewTopLine() const {
    return FViewTop >= 0 ? std::max(FViewTop, FirstLine()) : ScreenLine();
}

void TQxConsole::ScrollViewBy(qint64 rows) {
    SetViewTop(ViewTopLine() + rows);
}

void TQxConsole::ScrollToLive() {
    SetViewTop(ScreenLine());
}

// Clamps the top line to the history; at the screen's first row the view
// is live again.
void TQxConsole::SetViewTop(qint64 line) {
    line = std::clamp(line, FirstLine(), ScreenLine());
    const qint64 top = line >= ScreenLine() ? -1 : line;
    if (top == FViewTop)
        return;
    FViewTop = top;
    if (top < 0)
        FNewDataBelow = false;
    FFullUpdate = true;
    update(TextArea());
    ScheduleFlush();
    ShowIndicator();
    SyncScrollBar();
}

// The bar's range is the history; its end is the live screen.
void TQxConsole::SyncScrollBar() {
    const int history = HistoryCount();
    const bool shown = FScreen.ScrollbackLimit() > 0 && history > 0;
    const QSignalBlocker blocker(FScrollBar);
    if (shown != FScrollBar->isVisible()) {
        FScrollBar->setVisible(shown);
        update();
    }
    if (!shown)
        return;
    const int pageStep = std::max(VisibleRows() - 1, 1);
    const int value = static_cast<int>(ViewTopLine() - FirstLine());
    // A live view under a stream: the handle stays at the bottom, and once
    // it is as short as it gets a longer history looks the same. The bar is
    // then left alone (a repaint of it every frame costs more than the
    // rows); it catches up before the mouse can use it.
    FScrollBarBehind = !ScrolledBack() && value == history && pageStep == FScrollBar->pageStep() &&
                       FScrollBar->value() == FScrollBar->maximum() && HandleUnchangedAt(history);
    if (FScrollBarBehind)
        return;
    FScrollBar->setRange(0, history);
    FScrollBar->setPageStep(pageStep);
    FScrollBar->setValue(value);
}

// True when the bar's handle for a range of 0 to History looks as it does
// now. The handle shrinks as the range grows until it is as short as the
// style draws it; whether it got there is asked of the style once for each
// range and size of the bar, not on every flush.
bool TQxConsole::HandleUnchangedAt(int history) {
    const int maximum = FScrollBar->maximum();
    if (history == maximum)
        return true;
    const THandleKey key{maximum, FScrollBar->pageStep(), FScrollBar->size()};
    if (key != FHandleKey) {
        FHandleKey = key;
        FHandleAtShortest = ScrollBarHandle(maximum) == ScrollBarHandle(std::max(maximum, 1 << 24));
    }
    if (history > maximum && FHandleAtShortest)
        return true;
    return ScrollBarHandle(history) == ScrollBarHandle(maximum);
}

// Where the scroll bar's handle is drawn for a range of 0 to Maximum, at its
// end.
QRect TQxConsole::ScrollBarHandle(int maximum) const {
    QStyleOptionSlider option;
    option.initFrom(FScrollBar);
    option.subControls = QStyle::SC_All;
    option.orientation = Qt::Vertical;
    option.minimum = 0;
    option.maximum = maximum;
    option.sliderPosition = option.sliderValue = maximum;
    option.singleStep = FScrollBar->singleStep();
    option.pageStep = FScrollBar->pageStep();
    return FScrollBar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                               QStyle::SC_ScrollBarSlider, FScrollBar);
}

bool TQxConsole::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FScrollBar && FScrollBarBehind &&
        (event->type() == QEvent::Enter || event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::Wheel || event->type() == QEvent::ContextMenu)) {
        const QSignalBlocker blocker(FScrollBar);
        FScrollBar->setRange(0, HistoryCount());
        FScrollBar->setValue(FScrollBar->maximum());
        FScrollBarBehind = false;
    }
    return QWidget::eventFilter(watched, event);
}

void TQxConsole::ScrollBarMoved(int value) {
    SetViewTop(FirstLine() + value);
}

void TQxConsole::ShowIndicator() {
    if (!ScrolledBack()) {
        FIndicator->hide();
        return;
    }
    FIndicator->setText(FNewDataBelow ? QStringLiteral("New data below \u2013 End returns")
                                      : QStringLiteral("Scrolled back \u2013 End returns"));
    FIndicator->adjustSize();
    FIndicator->move(TextArea().right() - FIndicator->width() - 4, 4);
    FIndicator->show();
}

// --- Selection and clipboard ----------------------------------------------

TTextPos TQxConsole::PosAt(const QPoint& point) const {
    const int row = (point.y() - Margin) >= 0 ? (point.y() - Margin) / FLineHeight : -1;
    const qint64 line = std::clamp(ViewTopLine() + row, FirstLine(), EndLine() - 1);
    const int cellWidth = FCells->CellWidth();
    const int col = (point.x() - Left() + cellWidth / 2) / cellWidth;
    return TTextPos{line, std::clamp(col, 0, LineLength(line))};
}

void TQxConsole::Select(TTextPos from, TTextPos to) {
    FSelAnchor = from;
    FSelEnd = to;
    update(TextArea());
}

void TQxConsole::SelectAll() {
    const qint64 last = EndLine() - 1;
    Select(TTextPos{FirstLine(), 0}, TTextPos{last, LineLength(last)});
    SetPrimarySelection();
}

void TQxConsole::ClearSelection() {
    if (HasSelection())
        update(TextArea());
    FSelAnchor = FSelEnd = TTextPos{};
}

// A word runs over the characters around Pos up to a blank or a stop
// character; on a blank the blanks around it are selected.
void TQxConsole::SelectWordAt(const TTextPos& pos) {
    if (FVt) {
        // By cells: the selection's columns are cells.
        const TVtLine cells = FVt->Line(pos.Line);
        const auto kindAt = [&cells](int i) {
            const char32_t ch = cells.Cells.at(i).Char;
            return ch == 0 || ch == U' ' ? 0 : (ch < 128 && WordStops.contains(char(ch))) ? 1 : 2;
        };
        const int size = static_cast<int>(cells.Cells.size());
        int at = std::min(pos.Col, size - 1);
        if (at < 0)
            return;
        const int wanted = kindAt(at);
        int begin = at;
        int end = at + 1;
        if (wanted != 1) {
            while (begin > 0 && kindAt(begin - 1) == wanted)
                --begin;
            while (end < size && kindAt(end) == wanted)
                ++end;
        }
        Select(TTextPos{pos.Line, begin}, TTextPos{pos.Line, end});
        return;
    }
    const QByteArray& text = FScreen.LineText(pos.Line);
    int col = std::min(pos.Col, static_cast<int>(text.size()) - 1);
    if (col < 0)
        return;
    const auto kind = [&text](int i) {
        const char ch = text.at(i);
        return ch == ' ' ? 0 : WordStops.contains(ch) ? 1 : 2;
    };
    const int wanted = kind(col);
    int begin = col;
    int end = col + 1;
    if (wanted != 1) {
        while (begin > 0 && kind(begin - 1) == wanted)
            --begin;
        while (end < text.size() && kind(end) == wanted)
            ++end;
    }
    Select(TTextPos{pos.Line, begin}, TTextPos{pos.Line, end});
}

QString TQxConsole::SelectedText(bool withTimes) const {
    if (!HasSelection())
        return QString();
    QStringList lines;
    if (FVt) {
        lines = FVt->TextBetween(FSelAnchor, FSelEnd).split(QLatin1Char('\n'));
    } else {
        for (const QByteArray& line : FScreen.TextBetween(FSelAnchor, FSelEnd))
            lines.append(Cp1252ToString(line));
    }
    if (withTimes) {
        const qint64 first = std::max(std::min(FSelAnchor, FSelEnd).Line, FirstLine());
        for (qsizetype i = 0; i < lines.size(); ++i)
            lines[i] = TLineTimes::Format(LineTime(first + i)) + QLatin1Char(' ') + lines[i];
    }
    return lines.join(QLatin1Char('\n'));
}

void TQxConsole::Copy() {
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText(), QClipboard::Clipboard);
}

void TQxConsole::CopyWithTimestamps() {
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText(true), QClipboard::Clipboard);
}

void TQxConsole::SetPrimarySelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && HasSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

// --- Paste ----------------------------------------------------------------

void TQxConsole::Paste() {
    PasteText(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
}

// The bytes a paste sends: each line end (LF, CR LF or a lone CR) as Enter
// is sent, characters outside the code page left out (and counted).
QByteArray TQxConsole::PasteBytes(const QString& text, int& dropped) const {
    const QByteArray enter = FScreen.CRLFOut ? QByteArray("\r\n") : QByteArray("\r");
    if (FVt) {
        // UTF-8, bracketed when the target asked for that.
        dropped = 0;
        QString lines = text;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QByteArray utf8 = lines.toUtf8();
        utf8.replace('\n', enter);
        return FVt->PasteBytes(utf8);
    }
    QByteArray bytes;
    bytes.reserve(text.size());
    dropped = 0;
    const auto appendLine = [&](qsizetype from, qsizetype to) {
        int unmapped = 0;
        bytes +=
            StringToCp1252(QStringView(text).sliced(from, to - from), TUnmappable::Drop, &unmapped);
        dropped += unmapped;
    };
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch != QLatin1Char('\r') && ch != QLatin1Char('\n'))
            continue;
        appendLine(lineStart, i);
        if (ch == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        bytes += enter;
        lineStart = i + 1;
    }
    appendLine(lineStart, text.size());
    return bytes;
}

void TQxConsole::PasteText(const QString& text) {
    int dropped = 0;
    const QByteArray bytes = PasteBytes(text, dropped);
    if (dropped > 0 && OnStatusMessage)
        OnStatusMessage(QStringLiteral("%1 pasted character(s) not sent: the code page lacks them.")
                            .arg(dropped));
    if (bytes.isEmpty())
        return;
    ScrollToLive();
    if (bytes.size() > LargePasteBytes) {
        const TAliveGuard guard(this);
        const bool send = Interaction().Question(
            this, QStringLiteral("Paste %1 bytes to the port?").arg(bytes.size()));
        if (!guard.Alive() || !send)
            return;
    }
    FPasteQueue += bytes;
    if (FPasteQueue.size() <= LargePasteBytes && !FPasteTimer.isActive()) {
        // A short paste goes out at once, as fast typing would.
        const QByteArray all = FPasteQueue;
        FPasteQueue.clear();
        SendTyped(all);
        return;
    }
    if (!FPasteTimer.isActive())
        FPasteTimer.start();
}

void TQxConsole::SendPasteChunk() {
    if (CanSendMore && !CanSendMore()) {
        FPasteTimer.setInterval(PasteWaitMs);
        return;
    }
    FPasteTimer.setInterval(0);
    const QByteArray chunk = FPasteQueue.left(std::max(PasteChunkBytes, 1));
    FPasteQueue.remove(0, chunk.size());
    if (FPasteQueue.isEmpty()) {
        FPasteTimer.stop();
        FPasteQueue.squeeze();
    }
    SendTyped(chunk);
}

void TQxConsole::StopPaste() {
    const bool running = Pasting();
    FPasteTimer.stop();
    FPasteQueue.clear();
    FPasteQueue.squeeze();
    if (running && OnPasteStopped)
        OnPasteStopped();
}

// Pasted bytes are echoed and sent as typed bytes are, in one block.
void TQxConsole::SendTyped(const QByteArray& bytes) {
    if (!OnSend) {
        // Byte by byte; the line ends are already what Enter sends.
        for (char key : bytes) {
            if (FScreen.LocalEcho)
                WriteText(QByteArray(1, key));
            if (OnKeyPress)
                OnKeyPress(*this, key);
        }
        return;
    }
    if (FScreen.LocalEcho)
        WriteText(bytes);
    OnSend(bytes);
}

// --- Find -----------------------------------------------------------------

void TQxConsole::SetFindText(const QString& text, bool matchCase) {
    const QByteArray key = StringToCp1252(text, TUnmappable::Question);
    if (key == FFindKey && matchCase == FFindCase && text == FFindText)
        return;
    FFindText = text;
    FFindKey = key;
    FFindCase = matchCase;
    FCurrentMatch.reset();
    update(TextArea());
}

// From the current match on (or from the top of the view when there is
// none), wrapping around; the view moves so that the match is shown.
bool TQxConsole::Find(const QString& text, bool matchCase, bool backwards) {
    SetFindText(text, matchCase);
    if (FFindKey.isEmpty())
        return false;
    TTextPos from{ViewTopLine(), 0};
    if (FCurrentMatch && *FCurrentMatch >= TTextPos{FirstLine(), 0})
        from = backwards ? *FCurrentMatch : TTextPos{FCurrentMatch->Line, FCurrentMatch->Col + 1};
    else if (backwards)
        from = TTextPos{std::min(ViewTopLine() + VisibleRows(), EndLine()) - 1, 1 << 20};
    FCurrentMatch = FVt ? FVt->Find(FFindText, FFindCase, from, backwards)
                        : FScreen.Find(FFindKey, FFindCase, from, backwards);
    update(TextArea());
    if (!FCurrentMatch)
        return false;
    const qint64 line = FCurrentMatch->Line;
    const int rows = std::max(FScreen.MaxRow, 1);
    if (line < ViewTopLine() || line > ViewTopLine() + rows)
        SetViewTop(line - rows / 2);
    return true;
}

// --- Save -----------------------------------------------------------------

void TQxConsole::SaveScrollback(bool withTimes) {
    TFileDialogRequest request;
    request.Title = withTimes ? QStringLiteral("Save the scrollback with timestamps as...")
                              : QStringLiteral("Save the scrollback as...");
    request.Filters = {QStringLiteral("Text files (*.txt)|*.txt"),
                       QStringLiteral("All Files (*.*)|*")};
    request.DefaultSuffix = QStringLiteral("txt");
    request.MustExist = false;
    const TAliveGuard guard(this);
    const QString fileName = Interaction().ChooseFile(this, request);
    if (!guard.Alive() || fileName.isEmpty())
        return;
    if (QFileInfo::exists(fileName) &&
        !Interaction().Question(this, QStringLiteral("%1 exists.\n\rReplace it?").arg(fileName)))
        return;
    if (!guard.Alive())
        return;
    QString error;
    if (FVt ? !FVt->SaveText(fileName, error, withTimes)
            : !FScreen.SaveText(fileName, error, withTimes))
        Interaction().Warning(this, QStringLiteral("The scrollback could not be saved."),
                              fileName + QStringLiteral(": ") + error);
}
