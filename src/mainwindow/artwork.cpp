#include "mainwindow/artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace Artwork {

namespace {

// The application icon on a unit square: a rounded blue tile with a white
// boat (hull, then sail).
const QColor IconTile(30, 110, 200);
constexpr double IconCornerRadius = 0.2;
const QList<QPolygonF> IconBoat = {
    QPolygonF{{0.15, 0.62}, {0.85, 0.62}, {0.70, 0.80}, {0.30, 0.80}},
    QPolygonF{{0.50, 0.15}, {0.50, 0.56}, {0.22, 0.56}},
};

} // namespace

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
    painter.setBrush(IconTile);
    painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * IconCornerRadius,
                            size * IconCornerRadius);
    painter.setBrush(Qt::white);
    painter.scale(size, size);
    for (const QPolygonF &shape : IconBoat)
        painter.drawPolygon(shape);
    return image;
}

QByteArray applicationIconSvg()
{
    QByteArray svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                     "viewBox=\"0 0 100 100\">\n";
    svg += QStringLiteral("  <rect width=\"100\" height=\"100\" rx=\"%1\" fill=\"%2\"/>\n")
               .arg(IconCornerRadius * 100)
               .arg(IconTile.name())
               .toUtf8();
    for (const QPolygonF &shape : IconBoat) {
        QStringList points;
        for (const QPointF &point : shape)
            points << QStringLiteral("%1,%2").arg(point.x() * 100).arg(point.y() * 100);
        svg += QStringLiteral("  <polygon points=\"%1\" fill=\"#ffffff\"/>\n")
                   .arg(points.join(u' '))
                   .toUtf8();
    }
    return svg + "</svg>\n";
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
    return icon;
}

} // namespace Artwork
