#pragma once

#include "terminal/TConsoleScreen.h"
#include "terminal/TScreenListener.h"

#include <QStringList>

// Counts what a screen model reports, standing in for the pane.
class ScreenProbe : public TScreenListener {
public:
    explicit ScreenProbe(TConsoleScreen& screen) : FScreen(screen) { screen.SetListener(this); }
    ~ScreenProbe() override { FScreen.SetListener(nullptr); }

    void RowChanged(int row) override { ChangedRows.append(row); }
    void ScrolledUp() override { ++Scrolls; }
    void Cleared() override { ++Clears; }
    void CursorChanged() override { ++CursorChanges; }
    void Beep() override { ++Beeps; }
    void Warning(const QString& text, const QString&) override { Warnings << text; }

    QList<int> ChangedRows;
    int Scrolls = 0;
    int Clears = 0;
    int CursorChanges = 0;
    int Beeps = 0;
    QStringList Warnings;

private:
    TConsoleScreen& FScreen;
};

// A line of the screen: Text padded with blanks to Width.
inline QByteArray Padded(const QByteArray& text, int width = TConsoleScreen::Columns) {
    return text.leftJustified(width, ' ');
}
