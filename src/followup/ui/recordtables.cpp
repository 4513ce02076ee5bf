#include "followup/ui/recordtables.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

namespace RecordTables {

QTableView *table(QWidget *parent, const QString &objectName, const QString &accessibleName,
                  QAbstractItemModel *model)
{
    auto *view = new QTableView(parent);
    view->setObjectName(objectName);
    view->setAccessibleName(accessibleName);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->hide();
    return view;
}

QPushButton *button(QHBoxLayout *row, QWidget *parent, const char *objectName,
                    const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1StringView(objectName));
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

} // namespace RecordTables
