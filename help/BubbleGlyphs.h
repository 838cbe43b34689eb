#pragma once

#include <QColor>
#include <QIcon>

// The small pictures of the help window's buttons, drawn in code so that they
// stay sharp at every device pixel ratio and need no image plugin.

// A small cross in the given colour (the close button on the title band).
QIcon CrossIcon(const QColor& colour);

// A solid arrow pointing left or right, dark when enabled, grey when disabled.
QIcon ArrowIcon(Qt::ArrowType direction);
