#pragma once

#include <QRect>
#include <QtMath>

class QWidget;

// Window layouts are given in twips; 15 twips make one device-independent pixel.
namespace Twips {

constexpr int toPixels(int twips)
{
    return twips >= 0 ? (twips * 2 + 15) / 30 : -((-twips * 2 + 15) / 30);
}

inline QRect rect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

// Places widget with rect(left, top, width, height).
void place(QWidget *widget, int left, int top, int width, int height);

// Fixes a dialog's client size (in twips) and centres it on the owner window.
void fixClientSize(QWidget *window, int width, int height);
void centreOn(QWidget *window, const QWidget *owner);

} // namespace Twips
