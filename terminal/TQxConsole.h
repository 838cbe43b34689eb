#pragma once

#include "terminal/TCellFont.h"
#include "terminal/TConsoleScreen.h"
#include "terminal/TQxConsoleTiles.h"
#include "terminal/TScreenListener.h"
#include "terminal/TVtPainter.h"
#include "terminal/TVtScreen.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QScrollBar;

// The terminal pane: shows a TConsoleScreen of 80 columns in "Courier New",
// draws its own caret and reports typed characters as bytes. Under a flood
// of received text it paints at most every two and a half screen frames:
// intake collects the changed rows and scrolls, and one flush turns them
// into a single blit plus row updates. Its view can scroll back into the
// screen's history; text can be selected, copied, pasted and found there.

class TQxConsole : public QWidget, private TScreenListener {
    Q_OBJECT

public:
    explicit TQxConsole(QWidget* parent = nullptr);
    // Finishes a running recording (screen and end marker); never fails.
    ~TQxConsole() override;

    void WriteText(const QByteArray& text);
    void ClearScreen();
    void SetCursorOn(bool on);
    void SetHexEmulation(bool on);
    // The VT emulation: a TVtScreen of the pane's size in whole cells (or
    // of FixedColumns columns) in place of the 80-column screen. Switching
    // clears the screen and the history.
    void SetVtEmulation(bool on);
    bool VtEmulation() const { return FVt != nullptr; }
    // The VT screen while the VT emulation is on, else null.
    TVtScreen* Vt() { return FVt.get(); }
    // The VT screen's width: 0 follows the pane.
    void SetFixedColumns(int columns);
    void SetBareLfReturns(bool on);
    void SetBackspaceSendsBs(bool on);
    // The VT screen's answers to the target (DA, DSR) and its title.
    std::function<void(const QByteArray& bytes)> OnAnswer;
    std::function<void(const QString& title)> OnTitle;
    // Starts recording into FileName (an empty name stops the recording).
    void SetLogFile(const QString& fileName);
    // Stops the recording, or starts it again into the last file name.
    void SetRecording(bool on);

    bool Displaying() const { return FScreen.Displaying; }
    void SetDisplaying(bool on) { FScreen.Displaying = on; }
    bool CursorOn() const { return FScreen.CursorOn; }
    bool LocalEcho() const { return FScreen.LocalEcho; }
    void SetLocalEcho(bool on) { FScreen.LocalEcho = on; }
    bool HexEmulation() const { return FScreen.HexEmulation; }
    bool CRLFIn() const { return FScreen.CRLFIn; }
    void SetCRLFIn(bool on);
    bool CRLFOut() const { return FScreen.CRLFOut; }
    void SetCRLFOut(bool on) { FScreen.CRLFOut = on; }
    const TLogDesc& Log() const { return FScreen.Log; }
    const QList<QByteArray>& Lines() const { return FScreen.Lines; }
    int Row() const { return FScreen.Row; }
    int Col() const { return FScreen.Col; }
    int MaxRow() const { return FScreen.MaxRow; }
    int LineHeight() const { return FLineHeight; }

    // History: how many rows that scrolled off the top are kept (0: none).
    void SetScrollbackLimit(int lines);
    void ClearScrollback();
    // The view: live (following the screen) or scrolled back, its top at a
    // line of history and screen. New data never moves a scrolled-back view.
    bool ScrolledBack() const { return FViewTop >= 0; }
    qint64 ViewTopLine() const;
    void ScrollViewBy(qint64 rows);
    void ScrollToLive();
    // True while the view is scrolled back and data arrived since.
    bool NewDataBelow() const { return FNewDataBelow; }

    // Selection (shown inverted) and the clipboard. Copied text: rows
    // joined by line ends, trailing blanks dropped, bytes as the pane shows
    // them.
    bool HasSelection() const { return FSelAnchor != FSelEnd; }
    void Select(TTextPos from, TTextPos to);
    void SelectAll();
    void ClearSelection();
    // WithTimes: each line after its time, as the recording writes them.
    QString SelectedText(bool withTimes = false) const;
    void Copy();
    void CopyWithTimestamps();
    // The place under a point of the pane.
    TTextPos PosAt(const QPoint& point) const;

    // Sends Text as if it were typed: in the Western code page (characters
    // it lacks are left out), line ends as Enter. A paste of more than
    // LargePasteBytes asks first and goes out in the background.
    static constexpr int LargePasteBytes = 4096;
    void Paste();
    void PasteText(const QString& text);
    bool Pasting() const { return !FPasteQueue.isEmpty(); }
    void StopPaste();
    // Bytes a background paste sends per turn of the event loop.
    int PasteChunkBytes = 256;
    // A background paste sends its next chunk only while this is true (or
    // unset); otherwise it looks again after PasteWaitMs.
    std::function<bool()> CanSendMore;
    static constexpr int PasteWaitMs = 10;
    // Raised when StopPaste ended a running paste (the owner may drop what
    // it still holds of it).
    std::function<void()> OnPasteStopped;

    // Finding: every match of the text is highlighted; Find moves the
    // current match to the next (previous) one and scrolls the view to it.
    void SetFindText(const QString& text, bool matchCase);
    bool Find(const QString& text, bool matchCase, bool backwards);
    std::optional<TTextPos> CurrentMatch() const { return FCurrentMatch; }

    // Writes history and screen to a file (asks for its name), WithTimes
    // each line after its time.
    void SaveScrollback(bool withTimes = false);

    // The margin left of the text that shows when each line received its
    // first byte. The times are kept whether it is shown or not.
    void SetShowTimestamps(bool on);
    bool ShowTimestamps() const { return FShowTimes; }
    // The time of a line of history and screen (ms since the epoch), 0
    // for none.
    qint64 LineTime(qint64 line) const;

    // A block of bytes to send (a paste), raised instead of OnKeyPress per
    // byte when set.
    std::function<void(const QByteArray& bytes)> OnSend;
    // A message for the owner's status bar.
    std::function<void(const QString& text)> OnStatusMessage;

    // The text colour: navy on a light base, a light colour on a dark one.
    QColor TextColour() const;

    // The owner's menu, opened on a right click (or the menu key).
    void SetPopupMenu(QMenu* menu) { FPopupMenu = menu; }
    QMenu* PopupMenu() const { return FPopupMenu; }

    // Raised for every typed byte (and for the LF after a typed CR when
    // CRLFOut is set); the handler may change the byte.
    std::function<void(TQxConsole& sender, char& key)> OnKeyPress;
    // Raised when a recording ended by itself because its file refused a
    // write (a full disk, say); the warning follows once the current intake
    // has returned.
    std::function<void(TQxConsole& sender)> OnRecordingEnded;

    // The screen model, for the owner's tests and benchmarks.
    TConsoleScreen& Screen() { return FScreen; }

    // Where the caret is drawn while it is shown.
    QRect CaretRect() const;
    // True while the caret rule holds: focus, CursorOn and ASCII emulation.
    bool CaretWanted() const;

protected:
    // Recomputes LineHeight and MaxRow from the font and the height.
    virtual void UpdateMetrics();
    // Echoes the typed byte (if LocalEcho), raises OnKeyPress, and follows a
    // CR with an LF when CRLFOut is set.
    virtual void KeyPress(char& key);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void RowChanged(int row) override;
    void ScrolledUp() override;
    void Cleared() override;
    void CursorChanged() override;
    void Beep() override;
    void Warning(const QString& text, const QString& detail) override;
    void RecordingFailed(const QString& text, const QString& detail) override;

    void TypeText(const QString& text);
    // History and screen in either emulation.
    qint64 FirstLine() const;
    qint64 ScreenLine() const;
    qint64 EndLine() const;
    int HistoryCount() const;
    int LineLength(qint64 line) const;
    void ResizeVt();
    void SyncHScrollBar();
    void FitRows();
    int RowsHeight() const;
    // Where cell 0 of a row is drawn: the margin, moved by the horizontal
    // scroll bar.
    int Left() const;
    // The width of the time margin, 0 while it is hidden.
    int StampWidth() const;
    void PaintStamp(QPainter& painter, qint64 line, int top, const QColor& base);
    void ConnectVt();
    void PaintVtRow(QPainter& painter, qint64 line, int top, int fromCell, int toCell);
    void ScheduleFlush();
    void StartFlushTimer(int delayMs);
    void Flush();
    void UpdateRows(int first, int last);
    void ToggleBlink();
    void RestartBlink();
    int VisibleRows() const;
    QRect TextArea() const;
    int CaretViewRow() const;
    bool ViewKey(QKeyEvent* event);
    void SetViewTop(qint64 line);
    void SyncScrollBar();
    void ScrollBarMoved(int value);
    QRect ScrollBarHandle(int maximum) const;
    bool HandleUnchangedAt(int history);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ShowIndicator();
    // The colours of a paint under way, looked up once for all its rows;
    // Tiles: rows are drawn from opaque tiles, which need no background.
    struct TRowStyle {
        QColor Text;
        QColor Base;
        bool Tiles = false;
    };
    // Draws the cells FromCell up to ToCell (not included) of a line.
    void PaintRow(QPainter& painter, qint64 line, int top, int fromCell, int toCell,
                  const TRowStyle& style);
    void PaintMarks(QPainter& painter, const QByteArray& text, qint64 line, int top);
    void SelectWordAt(const TTextPos& pos);
    void SetPrimarySelection();
    void SendPasteChunk();
    void SendTyped(const QByteArray& bytes);
    QByteArray PasteBytes(const QString& text, int& dropped) const;

    TConsoleScreen FScreen;
    std::unique_ptr<TVtScreen> FVt;
    std::unique_ptr<TVtPainter> FVtPainter;
    int FFixedColumns = 0;
    bool FShowTimes = false;
    bool FBareLfReturns = false;
    bool FBackspaceSendsBs = false;
    QString FFindText;
    std::unique_ptr<TCellFont> FCells;
    TQxConsoleTiles FTiles;
    int FLineHeight = 1;
    QPointer<QMenu> FPopupMenu;

    // Changes collected since the last flush. Dirty rows are counted from
    // the top of everything ever shown, so that scrolls need not move them.
    qint64 FScrolledTotal = 0;
    qint64 FDirtyFirst = -1;
    qint64 FDirtyLast = -1;
    int FPendingScroll = 0;
    bool FFullUpdate = false;
    QRect FCaretPainted;
    QTimer FFlushTimer;
    // The flush timer runs out at once (not at the end of a frame).
    bool FFlushDue = false;
    // The shortest time between two flushes under a stream.
    int FPaintIntervalMs = 40;
    QElapsedTimer FSinceFlush;

    QTimer FBlinkTimer;
    bool FBlinkOn = true;
    // Half the platform's cursor flash time while the pane has the focus;
    // 0 without focus or when the platform does not blink.
    int FBlinkHalfPeriodMs = 0;
    int FBlinkCycles = 0;
    // Typing or output came since the timer's last tick.
    bool FBlinkHeld = false;

    // The last ring of the bell; BELs within BellIntervalMs of it are
    // merged into that ring.
    QElapsedTimer FLastBell;

    QScrollBar* FScrollBar = nullptr;
    QScrollBar* FHScrollBar = nullptr;
    int FHOffset = 0;
    QLabel* FIndicator = nullptr;
    // The top line of a scrolled-back view; -1 while live.
    qint64 FViewTop = -1;
    // The scroll bar still shows a shorter history (that looks the same).
    bool FScrollBarBehind = false;
    // The bar's range, page and size for which FHandleAtShortest holds: its
    // handle is then as short as it gets, so a longer range looks the same.
    struct THandleKey {
        int Maximum = -1;
        int PageStep = 0;
        QSize Size;
        bool operator==(const THandleKey&) const = default;
    };
    THandleKey FHandleKey;
    bool FHandleAtShortest = false;
    bool FNewDataBelow = false;

    TTextPos FSelAnchor;
    TTextPos FSelEnd;
    bool FSelecting = false;
    // A third click soon after a double click selects the row.
    QElapsedTimer FSinceDoubleClick;
    QPoint FDoubleClickPoint;

    QByteArray FFindKey;
    bool FFindCase = false;
    std::optional<TTextPos> FCurrentMatch;

    QByteArray FPasteQueue;
    QTimer FPasteTimer;
};
