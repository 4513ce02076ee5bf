#pragma once

#include <QTableView>

class ContactListModel;
class QScrollBar;

// The rows of the contact grid: a table over the working list that shows 23
// rows at a time. The grid's scroll bar "VS1" stands beside it; its value is
// the first contact shown. The mouse selects a row or toggles a tick, the
// keys move the selection and tick, the wheel scrolls three rows a notch.
class ContactTableView : public QTableView
{
    Q_OBJECT

public:
    ContactTableView(ContactListModel &model, QScrollBar *scrollBar, QWidget *parent = nullptr);

    ContactListModel &contacts() const { return m_model; }
    QScrollBar *scrollBar() const { return m_scrollBar; }

    int scrollValue() const;
    void setScrollValue(int value);

    // The selected contact's position in the working list, or -1.
    qsizetype selectedIndex() const;
    // Selects the contact shown in row shownRow; a row below a short list
    // does nothing.
    void selectShownRow(int shownRow);
    void selectContact(qsizetype index);
    void clearContactSelection();

    // Contact position shown in a row, or -1 for an empty row.
    qsizetype contactAtRow(int shownRow) const;
    // Where a row's tick image and cells lie in the viewport.
    QRect tickCellRect(int shownRow) const;
    QRect cellRect(int shownRow, int column) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;

private:
    void setUpColumns();
    void resetAfterLoad();
    void afterRowsRemoved();
    void setScrollRange();
    void showFromRow(int row);
    void moveSelection(int delta);

    ContactListModel &m_model;
    QScrollBar *m_scrollBar = nullptr;
};
