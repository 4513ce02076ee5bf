#include "mainwindow/tickimages.h"

#include <QPainter>

namespace TickImages {

namespace {

QPixmap box(bool withTick)
{
    QPixmap pixmap(11, 11);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setPen(QColor(28, 81, 128));
    painter.drawRect(0, 0, 10, 10);
    if (withTick) {
        painter.setPen(QPen(QColor(33, 161, 33), 1.6));
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF tick[] = {{2.5, 5.5}, {4.5, 7.8}, {8.5, 3.0}};
        painter.drawPolyline(tick, 3);
    }
    return pixmap;
}

} // namespace

QPixmap ticked()
{
    static const QPixmap pixmap = box(true);
    return pixmap;
}

QPixmap unticked()
{
    static const QPixmap pixmap = box(false);
    return pixmap;
}

} // namespace TickImages
