#include "mainwindow/contacttableaccessible.h"

#include "mainwindow/contacttableview.h"
#include "mainwindow/gridlook.h"
#include "model/contactlistmodel.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace ContactTableAccessible {

namespace {

class TableInterface;

// A row of the working list, shown or not.
class RowInterface : public QAccessibleInterface
{
public:
    RowInterface(TableInterface *table, int row)
        : m_table(table)
        , m_row(row)
    {
    }

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override { return ContactListModel::ColumnCount; }
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Row; }
    QAccessible::State state() const override;

    int row() const { return m_row; }

private:
    TableInterface *m_table;
    int m_row;
};

// One cell; the tick cell is a check box.
class CellInterface : public QAccessibleInterface,
                      public QAccessibleTableCellInterface,
                      public QAccessibleActionInterface
{
public:
    CellInterface(TableInterface *table, int row, int column)
        : m_table(table)
        , m_row(row)
        , m_column(column)
    {
    }

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableCellInterface
    bool isSelected() const override;
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override;

    // QAccessibleActionInterface
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    bool isTickCell() const { return m_column == ContactListModel::TickColumn; }
    QModelIndex modelIndex() const;

    TableInterface *m_table;
    int m_row;
    int m_column;
};

class TableInterface : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit TableInterface(ContactTableView *view)
        : QAccessibleWidget(view, QAccessible::Table)
    {
        // Rows and cells are made when asked for and dropped when the list
        // changes shape; a reload of a million contacts makes none.
        const ContactListModel *model = &view->contacts();
        const auto drop = [this] { dropChildren(); };
        m_connections << QObject::connect(model, &QAbstractItemModel::modelReset, view, drop)
                      << QObject::connect(model, &QAbstractItemModel::layoutChanged, view, drop)
                      << QObject::connect(model, &QAbstractItemModel::rowsRemoved, view, drop)
                      << QObject::connect(model, &QAbstractItemModel::rowsInserted, view, drop);
        m_connections << QObject::connect(model, &QAbstractItemModel::dataChanged, view,
                                          [this](const QModelIndex &first, const QModelIndex &last) {
                                              announceTicks(first, last);
                                          });
    }

    ~TableInterface() override
    {
        for (const QMetaObject::Connection &connection : std::as_const(m_connections))
            QObject::disconnect(connection);
        dropChildren();
    }

    ContactTableView *view() const { return static_cast<ContactTableView *>(widget()); }
    const ContactListModel &model() const { return view()->contacts(); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override { return rowCount(); }
    QAccessibleInterface *child(int index) const override { return rowInterface(index); }
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        return view()->hasFocus() && current.isValid()
                   ? cellInterface(current.row(), current.column())
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child || child->role() != QAccessible::Row || child->parent() != this)
            return -1;
        return static_cast<const RowInterface *>(child)->row();
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint point = view()->viewport()->mapFromGlobal(QPoint(x, y));
        if (!view()->viewport()->rect().contains(point))
            return nullptr;
        return rowInterface(int(view()->contactAtRow(point.y() / GridLook::rowHeight())));
    }

    // Where a row shows in the viewport; an empty rectangle when scrolled away.
    QRect shownRect(int row, int column) const
    {
        const int shownRow = row - view()->scrollValue();
        if (shownRow < 0 || shownRow >= GridLook::ShownRows)
            return {};
        QRect area = column < 0 ? QRect(0, shownRow * GridLook::rowHeight(),
                                        view()->viewport()->width(), GridLook::rowHeight())
                                : view()->cellRect(shownRow, column);
        return QRect(view()->viewport()->mapToGlobal(area.topLeft()), area.size());
    }

    QAccessibleInterface *rowInterface(int row) const { return cached(row, -1); }
    QAccessibleInterface *cellInterface(int row, int column) const
    {
        return column >= 0 && column < ContactListModel::ColumnCount ? cached(row, column) : nullptr;
    }

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QString columnDescription(int column) const override
    {
        return model().headerData(column, Qt::Horizontal, Qt::AccessibleTextRole).toString();
    }
    QString rowDescription(int) const override { return {}; }
    int columnCount() const override { return ContactListModel::ColumnCount; }
    int rowCount() const override { return int(model().size()); }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        return cellInterface(row, column);
    }
    int selectedCellCount() const override { return selectedRowCount() * columnCount(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return view()->selectedIndex() >= 0 ? 1 : 0; }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        QList<QAccessibleInterface *> cells;
        for (int row : selectedRows())
            for (int column = 0; column < columnCount(); ++column)
                cells << cellInterface(row, column);
        return cells;
    }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        const qsizetype selected = view()->selectedIndex();
        return selected >= 0 ? QList<int>{int(selected)} : QList<int>{};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return row >= 0 && view()->selectedIndex() == row; }
    bool selectRow(int row) override
    {
        if (row < 0 || row >= rowCount())
            return false;
        view()->selectContact(row);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override
    {
        if (isRowSelected(row))
            view()->clearContactSelection();
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override {}

private:
    QAccessibleInterface *cached(int row, int column) const
    {
        if (row < 0 || row >= rowCount())
            return nullptr;
        const qint64 key = qint64(row) * 8 + column + 1;
        if (const QAccessible::Id id = m_children.value(key))
            return QAccessible::accessibleInterface(id);
        QAccessibleInterface *made =
            column < 0 ? static_cast<QAccessibleInterface *>(
                new RowInterface(const_cast<TableInterface *>(this), row))
                       : new CellInterface(const_cast<TableInterface *>(this), row, column);
        m_children.insert(key, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    void dropChildren()
    {
        for (QAccessible::Id id : std::as_const(m_children))
            QAccessible::deleteAccessibleInterface(id);
        m_children.clear();
    }

    // A tick changed: a reader that looks at that check box hears of it.
    void announceTicks(const QModelIndex &first, const QModelIndex &last)
    {
        if (!QAccessible::isActive() || first.column() > ContactListModel::TickColumn)
            return;
        for (int row = first.row(); row <= last.row(); ++row) {
            const qint64 key = qint64(row) * 8 + ContactListModel::TickColumn + 1;
            if (const QAccessible::Id id = m_children.value(key)) {
                QAccessible::State changed;
                changed.checked = true;
                QAccessibleStateChangeEvent event(QAccessible::accessibleInterface(id), changed);
                QAccessible::updateAccessibility(&event);
            }
        }
    }

    mutable QHash<qint64, QAccessible::Id> m_children;
    QList<QMetaObject::Connection> m_connections;
};

QString contactText(const ContactListModel &model, int row, int column)
{
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

// ---- RowInterface ----------------------------------------------------------

bool RowInterface::isValid() const
{
    return m_table->isValid() && m_row < m_table->rowCount();
}

QWindow *RowInterface::window() const
{
    return m_table->window();
}

QAccessibleInterface *RowInterface::parent() const
{
    return m_table;
}

QAccessibleInterface *RowInterface::child(int index) const
{
    return m_table->cellInterface(m_row, index);
}

int RowInterface::indexOfChild(const QAccessibleInterface *child) const
{
    const QAccessibleTableCellInterface *cell =
        child ? const_cast<QAccessibleInterface *>(child)->tableCellInterface() : nullptr;
    return cell && cell->rowIndex() == m_row ? cell->columnIndex() : -1;
}

QAccessibleInterface *RowInterface::childAt(int x, int y) const
{
    for (int column = 0; column < ContactListModel::ColumnCount; ++column) {
        if (m_table->shownRect(m_row, column).contains(x, y))
            return child(column);
    }
    return nullptr;
}

QString RowInterface::text(QAccessible::Text type) const
{
    if (type != QAccessible::Name || !isValid())
        return {};
    QStringList texts;
    for (int column = ContactListModel::MobileColumn; column < ContactListModel::ColumnCount;
         ++column) {
        const QString text = contactText(m_table->model(), m_row, column);
        if (!text.isEmpty())
            texts << text;
    }
    return texts.join(QLatin1Char(' '));
}

QRect RowInterface::rect() const
{
    return m_table->shownRect(m_row, -1);
}

QAccessible::State RowInterface::state() const
{
    QAccessible::State state;
    state.selectable = true;
    state.selected = m_table->isRowSelected(m_row);
    state.offscreen = rect().isEmpty();
    return state;
}

// ---- CellInterface ---------------------------------------------------------

bool CellInterface::isValid() const
{
    return m_table->isValid() && m_row < m_table->rowCount();
}

QWindow *CellInterface::window() const
{
    return m_table->window();
}

QAccessibleInterface *CellInterface::parent() const
{
    return m_table->rowInterface(m_row);
}

QModelIndex CellInterface::modelIndex() const
{
    return m_table->model().index(m_row, m_column);
}

QString CellInterface::text(QAccessible::Text type) const
{
    if (type != QAccessible::Name || !isValid())
        return {};
    if (isTickCell())
        return m_table->columnDescription(m_column);
    return contactText(m_table->model(), m_row, m_column);
}

QRect CellInterface::rect() const
{
    return m_table->shownRect(m_row, m_column);
}

QAccessible::Role CellInterface::role() const
{
    return isTickCell() ? QAccessible::CheckBox : QAccessible::Cell;
}

QAccessible::State CellInterface::state() const
{
    QAccessible::State state;
    if (!isValid())
        return state;
    state.selectable = true;
    state.selected = isSelected();
    state.offscreen = rect().isEmpty();
    ContactTableView *view = m_table->view();
    state.focused = view->hasFocus() && view->currentIndex() == modelIndex();
    if (isTickCell()) {
        state.checkable = true;
        state.checked = modelIndex().data(Qt::CheckStateRole).toInt() == Qt::Checked;
    }
    return state;
}

void *CellInterface::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableCellInterface)
        return static_cast<QAccessibleTableCellInterface *>(this);
    if (type == QAccessible::ActionInterface && isTickCell())
        return static_cast<QAccessibleActionInterface *>(this);
    return nullptr;
}

bool CellInterface::isSelected() const
{
    return m_table->isRowSelected(m_row);
}

QAccessibleInterface *CellInterface::table() const
{
    return m_table;
}

QStringList CellInterface::actionNames() const
{
    return isTickCell() ? QStringList{toggleAction()} : QStringList{};
}

void CellInterface::doAction(const QString &actionName)
{
    if (!isTickCell() || actionName != toggleAction() || !isValid())
        return;
    const bool ticked = modelIndex().data(Qt::CheckStateRole).toInt() == Qt::Checked;
    m_table->view()->contacts().setTicked(m_row, !ticked);
}

QAccessibleInterface *makeInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(ContactTableView::staticMetaObject.className())
        && object->isWidgetType())
        return new TableInterface(static_cast<ContactTableView *>(object));
    return nullptr;
}

TableInterface *tableOf(ContactTableView *view)
{
    return static_cast<TableInterface *>(QAccessible::queryAccessibleInterface(view));
}

} // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

void notifyFocus(ContactTableView *view, const QModelIndex &index)
{
    if (!QAccessible::isActive())
        return;
    if (QAccessibleInterface *cell = tableOf(view)->cellInterface(index.row(), index.column())) {
        QAccessibleEvent event(cell, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

void notifySelection(ContactTableView *view, const QItemSelection &selected,
                     const QItemSelection &deselected)
{
    if (!QAccessible::isActive())
        return;
    TableInterface *table = tableOf(view);
    const auto announce = [table](const QItemSelection &ranges, QAccessible::Event type) {
        for (const QItemSelectionRange &range : ranges) {
            for (int row = range.top(); row <= range.bottom(); ++row) {
                if (QAccessibleInterface *rowInterface = table->rowInterface(row)) {
                    QAccessibleEvent event(rowInterface, type);
                    QAccessible::updateAccessibility(&event);
                }
            }
        }
    };
    announce(deselected, QAccessible::SelectionRemove);
    announce(selected, QAccessible::SelectionAdd);
}

} // namespace ContactTableAccessible
