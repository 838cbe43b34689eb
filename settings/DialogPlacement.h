#pragma once

class QWidget;

// Moves a dialog to the middle of the screen it is on (or the primary one).
void CenterOnScreen(QWidget* dialog);
