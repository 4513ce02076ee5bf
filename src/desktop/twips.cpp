#include "desktop/twips.h"

#include <QWidget>

namespace Twips {

void place(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(rect(left, top, width, height));
}

void fixClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(toPixels(width), toPixels(height));
}

void centreOn(QWidget *window, const QWidget *owner)
{
    if (!owner)
        return;
    const QRect outer = owner->frameGeometry();
    QSize size = window->frameGeometry().size();
    if (!window->isVisible()) {
        // Not decorated yet: assume it gets the same frame as its owner.
        size += outer.size() - owner->geometry().size();
    }
    window->move(outer.left() + (outer.width() - size.width()) / 2,
                 outer.top() + (outer.height() - size.height()) / 2);
}

} // namespace Twips
