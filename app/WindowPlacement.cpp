#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

QRect FitPlacement(const QRect& wanted, const QRect& available) {
    if (available.isEmpty())
        return wanted;
    const int width = std::min(wanted.width(), available.width());
    const int height = std::min(wanted.height(), available.height());
    const int left = std::clamp(wanted.left(), available.left(), available.right() + 1 - width);
    const int top = std::clamp(wanted.top(), available.top(), available.bottom() + 1 - height);
    return {left, top, width, height};
}

QRect AvailableAreaFor(const QRect& wanted) {
    QScreen* screen = QGuiApplication::screenAt(wanted.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}
