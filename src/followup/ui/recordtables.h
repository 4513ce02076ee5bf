#pragma once

#include <QString>

class QAbstractItemModel;
class QHBoxLayout;
class QPushButton;
class QTableView;
class QWidget;

// What the follow-up windows share: their list and their row of buttons.
namespace RecordTables {

// A read-only list of whole rows, one chosen at a time, with fixed row
// heights, so that a list of 100,000 rows is never measured row by row.
QTableView *table(QWidget *parent, const QString &objectName, const QString &accessibleName,
                  QAbstractItemModel *model);

// A button added to row that Enter in the list does not press.
QPushButton *button(QHBoxLayout *row, QWidget *parent, const char *objectName,
                    const QString &caption);

} // namespace RecordTables
