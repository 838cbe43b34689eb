#pragma once

#include <QByteArray>

// Decodes macro text into the bytes it stands for: "#" followed by up to
// three decimal digits is one byte (the number modulo 256, no digits giving
// 0); every other character stands for itself. Never fails.
QByteArray DecodeMacro(const QByteArray& text);
