#include "mainwindow/contacttableview.h"

#include "mainwindow/contacttableaccessible.h"
#include "mainwindow/gridcelldelegates.h"
#include "mainwindow/gridlook.h"
#include "model/contactlistmodel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

constexpr int ShownRows = GridLook::ShownRows;

// The cells paint the whole band of their row themselves, so the style's
// panel behind each cell (a highlight, an alternate colour) is left out; with
// it go the colour computations some styles make for every primitive.
class NoRowPanelStyle : public QProxyStyle
{
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_PanelItemViewRow)
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

} // namespace

ContactTableView::ContactTableView(ContactListModel &model, QScrollBar *scrollBar,
                                   QWidget *parent)
    : QTableView(parent)
    , m_model(model)
    , m_scrollBar(scrollBar)
{
    ContactTableAccessible::install();
    setObjectName(QStringLiteral("contactTable"));
    setAccessibleName(QStringLiteral("通讯录"));
    setFrameShape(QFrame::NoFrame);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setAutoScroll(false);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    auto *style = new NoRowPanelStyle;
    style->setParent(this);
    setStyle(style);

    setItemDelegate(new TextCellDelegate(this));
    setItemDelegateForColumn(ContactListModel::TickColumn, new TickCellDelegate(this));
    setModel(&m_model);
    setUpColumns();

    m_scrollBar->setSingleStep(1);
    m_scrollBar->setPageStep(ShownRows);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &ContactTableView::showFromRow);
    // The table's own (hidden) scroll bar follows the grid's and back.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, m_scrollBar, &QScrollBar::setValue);

    connect(&m_model, &QAbstractItemModel::modelReset, this, &ContactTableView::resetAfterLoad);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, &ContactTableView::afterRowsRemoved);
    resetAfterLoad();
}

void ContactTableView::setUpColumns()
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int column = 0; column < ContactListModel::ColumnCount; ++column)
        horizontalHeader()->resizeSection(column, GridLook::columnWidth(column));
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(GridLook::rowHeight());
}

int ContactTableView::scrollValue() const
{
    return m_scrollBar->value();
}

void ContactTableView::setScrollValue(int value)
{
    m_scrollBar->setValue(value);
}

void ContactTableView::setScrollRange()
{
    const qsizetype count = m_model.size();
    const bool scrolls = count > ShownRows;
    m_scrollBar->setRange(0, scrolls ? int(count - ShownRows) : 0);
    m_scrollBar->setEnabled(scrolls);
}

void ContactTableView::resetAfterLoad()
{
    setScrollRange();
    m_scrollBar->setValue(0);
    showFromRow(0);
    clearContactSelection();
}

void ContactTableView::afterRowsRemoved()
{
    // Only a single entry is ever removed; the view stays where it was,
    // within the shorter range.
    setScrollRange();
    clearContactSelection();
    viewport()->update();
}

void ContactTableView::showFromRow(int row)
{
    // The table lays itself out later; its range must hold the row now.
    if (verticalScrollBar()->maximum() < row)
        updateGeometries();
    verticalScrollBar()->setValue(row);
}

void ContactTableView::scrollContentsBy(int, int dy)
{
    // Only whole rows scroll, and stripes belong to positions, not to
    // contacts: every row is repainted rather than the picture moved.
    if (dy == 0)
        return;
    verticalHeader()->setOffsetToSectionPosition(verticalScrollBar()->value());
    viewport()->update();
}

qsizetype ContactTableView::selectedIndex() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ContactTableView::selectShownRow(int shownRow)
{
    const qsizetype index = contactAtRow(shownRow);
    if (index >= 0)
        selectContact(index);
}

void ContactTableView::selectContact(qsizetype index)
{
    if (index < 0 || index >= m_model.size())
        return;
    selectionModel()->setCurrentIndex(m_model.index(int(index), ContactListModel::MobileColumn),
                                      QItemSelectionModel::ClearAndSelect
                                          | QItemSelectionModel::Rows);
}

void ContactTableView::clearContactSelection()
{
    selectionModel()->clear();
}

qsizetype ContactTableView::contactAtRow(int shownRow) const
{
    if (shownRow < 0 || shownRow >= ShownRows)
        return -1;
    const qsizetype index = qsizetype(scrollValue()) + shownRow;
    return index < m_model.size() ? index : -1;
}

QRect ContactTableView::cellRect(int shownRow, int column) const
{
    return QRect(GridLook::columnLeft(column), shownRow * GridLook::rowHeight(),
                 GridLook::columnWidth(column), GridLook::rowHeight());
}

QRect ContactTableView::tickCellRect(int shownRow) const
{
    return GridLook::tickRect(cellRect(shownRow, ContactListModel::TickColumn));
}

void ContactTableView::paintEvent(QPaintEvent *event)
{
    {
        // The bands of the shown rows where no cell covers them: right of
        // the columns, and whole rows below a short list.
        QPainter painter(viewport());
        const qsizetype selected = selectedIndex();
        const int columnsEnd = GridLook::columnLeft(ContactListModel::ColumnCount - 1)
                               + GridLook::columnWidth(ContactListModel::ColumnCount - 1);
        for (int row = 0; row < ShownRows; ++row) {
            const qsizetype index = contactAtRow(row);
            const int left = index >= 0 ? columnsEnd : 0;
            GridLook::paintBand(painter,
                                QRect(left, row * GridLook::rowHeight(), viewport()->width() - left,
                                      GridLook::rowHeight()),
                                index >= 0 && index == selected);
        }
    }
    QTableView::paintEvent(event);
}

void ContactTableView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    const QPoint point = event->position().toPoint();
    const int shownRow = point.y() / GridLook::rowHeight();
    const qsizetype index = contactAtRow(shownRow);
    if (index < 0)
        return;
    if (tickCellRect(shownRow).contains(point))
        m_model.toggleTicked(index); // ticking does not select
    else
        selectContact(index);
}

void ContactTableView::mouseMoveEvent(QMouseEvent *)
{
    // Dragging neither selects nor drags rows.
}

void ContactTableView::mouseReleaseEvent(QMouseEvent *)
{
}

void ContactTableView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second click of a double click counts as a click of its own.
    mousePressEvent(event);
}

void ContactTableView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        moveSelection(-1);
        break;
    case Qt::Key_Down:
        moveSelection(1);
        break;
    case Qt::Key_PageUp:
        moveSelection(-ShownRows);
        break;
    case Qt::Key_PageDown:
        moveSelection(ShownRows);
        break;
    case Qt::Key_Space:
        if (selectedIndex() >= 0)
            m_model.toggleTicked(selectedIndex());
        break;
    default:
        event->ignore();
    }
}

void ContactTableView::wheelEvent(QWheelEvent *event)
{
    const int steps = event->angleDelta().y() / 40; // three rows a notch
    if (steps != 0 && m_scrollBar->isEnabled())
        m_scrollBar->setValue(m_scrollBar->value() - steps);
    event->accept();
}

void ContactTableView::moveSelection(int delta)
{
    if (m_model.isEmpty())
        return;
    const qsizetype selected = selectedIndex();
    const qsizetype from = selected < 0 ? scrollValue() - (delta > 0 ? 1 : 0) : selected;
    const qsizetype target = qBound<qsizetype>(0, from + delta, m_model.size() - 1);
    selectContact(target);
    // Scrolled just far enough to show the selection.
    if (target < scrollValue())
        setScrollValue(int(target));
    else if (target >= qsizetype(scrollValue()) + ShownRows)
        setScrollValue(int(target - ShownRows + 1));
}

void ContactTableView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // The table's own notification numbers cells its way; the grid's
    // accessible table has rows of cells, so the table's override is skipped.
    // NOLINTNEXTLINE(bugprone-parent-virtual-call)
    QAbstractItemView::currentChanged(current, previous);
    if (current.isValid() && hasFocus())
        ContactTableAccessible::notifyFocus(this, current);
}

void ContactTableView::selectionChanged(const QItemSelection &selected,
                                        const QItemSelection &deselected)
{
    // Skips the table's override for the same reason as currentChanged().
    // NOLINTNEXTLINE(bugprone-parent-virtual-call)
    QAbstractItemView::selectionChanged(selected, deselected);
    // The highlight is a band across the whole row, also outside the cells.
    viewport()->update();
    ContactTableAccessible::notifySelection(this, selected, deselected);
}
