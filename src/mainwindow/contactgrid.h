#pragma once

#include "mainwindow/gridlook.h"

#include <QFrame>

class ContactListModel;
class ContactTableView;
class QScrollBar;

// The contact grid: the sunken box "Pt1" that clips the wider area "Pt2",
// which holds the header buttons "Cm2(0)" to "Cm2(4)", the table of 23 rows
// below them (see ContactTableView) and the scroll bar "VS1".
class ContactGrid : public QFrame
{
    Q_OBJECT

public:
    static constexpr int ShownRows = GridLook::ShownRows;

    explicit ContactGrid(ContactListModel &model, QWidget *parent = nullptr);

    ContactTableView *table() const { return m_table; }
    QScrollBar *scrollBar() const { return m_scrollBar; }

    // First contact shown (the scroll bar's value).
    int scrollValue() const;
    void setScrollValue(int value);

    // The selected contact's position in the working list, or -1.
    qsizetype selectedIndex() const;
    // Selects the contact shown in row shownRow; a row below a short list
    // does nothing.
    void selectShownRow(int shownRow);
    // Contact position shown in a row, or -1 for an empty row.
    qsizetype contactAtRow(int shownRow) const;

    // Where the rows are, for clicks: the table's viewport and, in it, a
    // row's tick image and cells (column 0 is the tick cell).
    QWidget *rowArea() const;
    QRect tickCellRect(int shownRow) const;
    QRect cellRect(int shownRow, int column) const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QScrollBar *m_scrollBar = nullptr;
    ContactTableView *m_table = nullptr;
};
