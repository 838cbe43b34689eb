#pragma once

#include <QtGlobal>

// Milliseconds of a monotonic clock: never jumps with the wall clock and
// never wraps around.
qint64 TickCount();
