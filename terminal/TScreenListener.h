#pragma once

#include <QString>

// What the screen model tells the pane that shows it. The model never calls
// the widget; it reports each change here and the pane decides when to paint.
class TScreenListener {
public:
    virtual ~TScreenListener() = default;

    // The text of screen row Row changed (the row may be beyond the last
    // visible one).
    virtual void RowChanged(int row) = 0;
    // Every row moved up by one; row 0 left the screen.
    virtual void ScrolledUp() = 0;
    // The buffer was emptied to one blank line.
    virtual void Cleared() = 0;
    // The cursor position, CursorOn or the emulation changed: the caret may
    // have to move, appear or vanish.
    virtual void CursorChanged() = 0;
    // A BEL arrived.
    virtual void Beep() = 0;
    // A problem the user must act on, worded for a warning box; Detail is
    // the system's own reason.
    virtual void Warning(const QString& text, const QString& detail) = 0;
    // A recording ended by itself because its file refused a write; Text
    // and Detail word it as Warning does. It may come in the middle of an
    // intake, so a listener that shows a modal box should wait until the
    // intake has returned.
    virtual void RecordingFailed(const QString& text, const QString& detail) {
        Warning(text, detail);
    }
};
