#include "desktop/viewheight.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>

int heightForRows(const QAbstractItemView &view, int rows)
{
    int rowHeight = view.model() && view.model()->rowCount() > 0 ? view.sizeHintForRow(0) : 0;
    if (rowHeight <= 0)
        rowHeight = view.fontMetrics().height() + 4;
    int height = rows * rowHeight + 2 * view.frameWidth();
    if (const auto *table = qobject_cast<const QTableView *>(&view);
        table && !table->horizontalHeader()->isHidden())
        height += table->horizontalHeader()->sizeHint().height();
    return height;
}
