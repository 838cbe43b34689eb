#pragma once

#include <QRect>

// Fits a stored window placement into Available, the usable area of a
// screen: a width or height larger than the area shrinks to it, and the
// position moves just far enough that the whole window (its title bar in
// particular) lies inside. A placement that fits is returned as it is.
// Wanted holds the frame's position and the window's size.
QRect FitPlacement(const QRect& wanted, const QRect& available);

// The usable area of the screen that holds the middle of Wanted, or of the
// primary screen when no screen does (a placement stored on a monitor that
// is gone); empty without a screen.
QRect AvailableAreaFor(const QRect& wanted);
