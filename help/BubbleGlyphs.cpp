#include "help/BubbleGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

constexpr int CrossSize = 9;
constexpr int ArrowSize = 11;
const QColor ArrowColour(0x20, 0x30, 0x50);
const QColor DisabledArrowColour(0xa8, 0xa8, 0xa0);

// One pixmap of the given logical size for each common device pixel ratio.
void AddPixmaps(QIcon& icon, int size, QIcon::Mode mode,
                const std::function<void(QPainter&)>& draw) {
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(qRound(size * ratio), qRound(size * ratio));
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap, mode);
    }
}

void DrawArrow(QPainter& painter, Qt::ArrowType direction, const QColor& colour) {
    QPainterPath triangle;
    if (direction == Qt::LeftArrow) {
        triangle.moveTo(7.5, 1.0);
        triangle.lineTo(2.0, 5.5);
        triangle.lineTo(7.5, 10.0);
    } else {
        triangle.moveTo(3.5, 1.0);
        triangle.lineTo(9.0, 5.5);
        triangle.lineTo(3.5, 10.0);
    }
    triangle.closeSubpath();
    painter.fillPath(triangle, colour);
}

} // namespace

QIcon CrossIcon(const QColor& colour) {
    QIcon icon;
    AddPixmaps(icon, CrossSize, QIcon::Normal, [&colour](QPainter& painter) {
        painter.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(1.5, 1.5), QPointF(7.5, 7.5));
        painter.drawLine(QPointF(7.5, 1.5), QPointF(1.5, 7.5));
    });
    return icon;
}

QIcon ArrowIcon(Qt::ArrowType direction) {
    QIcon icon;
    AddPixmaps(icon, ArrowSize, QIcon::Normal,
               [direction](QPainter& painter) { DrawArrow(painter, direction, ArrowColour); });
    AddPixmaps(icon, ArrowSize, QIcon::Disabled, [direction](QPainter& painter) {
        DrawArrow(painter, direction, DisabledArrowColour);
    });
    return icon;
}
