#include "artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace Artwork {

QPixmap notepad()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(90, 90, 90));
    painter.setBrush(QColor(255, 252, 220));
    painter.drawRect(5, 4, 19, 25);
    painter.setPen(QColor(150, 170, 210));
    for (int y = 10; y < 27; y += 4)
        painter.drawLine(8, y, 21, y);
    painter.setPen(QColor(200, 60, 40));
    painter.drawLine(5, 4, 24, 4);
    // The pencil, lying across the page.
    painter.translate(22, 16);
    painter.rotate(40);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(240, 180, 40));
    painter.drawRect(-3, -12, 6, 18);
    painter.setBrush(QColor(230, 200, 160));
    QPainterPath tip;
    tip.moveTo(-3, 6);
    tip.lineTo(3, 6);
    tip.lineTo(0, 11);
    tip.closeSubpath();
    painter.drawPath(tip);
    return pixmap;
}

QImage applicationIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 110, 200));
    painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
    painter.setBrush(Qt::white);
    // A small boat on the water: the hull, then the sail.
    const auto at = [size](double x, double y) { return QPointF(size * x, size * y); };
    painter.drawPolygon(QPolygonF{at(0.15, 0.62), at(0.85, 0.62), at(0.70, 0.80), at(0.30, 0.80)});
    painter.drawPolygon(QPolygonF{at(0.50, 0.15), at(0.50, 0.56), at(0.22, 0.56)});
    return image;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
    return icon;
}

} // namespace Artwork
