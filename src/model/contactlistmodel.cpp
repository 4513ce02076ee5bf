#include "model/contactlistmodel.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

ContactListModel::ContactListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

namespace {

// The allocator keeps the pages of freed small blocks, and a later list of
// other sizes does not always fit into them; so after a big list is freed its
// free pages go back to the system, and repeated loads do not pile up memory.
void releaseFreedMemory(qsizetype freedContacts)
{
#ifdef __GLIBC__
    constexpr qsizetype BigList = 100000;
    if (freedContacts >= BigList)
        malloc_trim(0);
#else
    Q_UNUSED(freedContacts);
#endif
}

} // namespace

void ContactListModel::replaceAll(ContactList contacts)
{
    beginResetModel();
    ContactList old = std::exchange(m_contacts, std::move(contacts));
    const qsizetype freed = old.size();
    old = {};
    releaseFreedMemory(freed);
    // Storage kept from a longer list is given back.
    if (m_contacts.capacity() > 2 * m_contacts.size())
        m_contacts.squeeze();
    for (Contact &contact : m_contacts)
        contact.ticked = true;
    invalidateIndex();
    endResetModel();
}

void ContactListModel::clear()
{
    replaceAll({});
}

ContactList ContactListModel::takeStorage()
{
    beginResetModel();
    ContactList storage = std::exchange(m_contacts, {});
    const qsizetype freed = storage.size();
    storage.clear();
    releaseFreedMemory(freed);
    invalidateIndex();
    endResetModel();
    return storage;
}

void ContactListModel::setTicked(qsizetype index, bool ticked)
{
    if (index < 0 || index >= m_contacts.size() || m_contacts[index].ticked == ticked)
        return;
    m_contacts[index].ticked = ticked;
    const QModelIndex cell = this->index(int(index), TickColumn);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
    emit tickChanged(index);
}

void ContactListModel::toggleTicked(qsizetype index)
{
    if (index >= 0 && index < m_contacts.size())
        setTicked(index, !m_contacts[index].ticked);
}

void ContactListModel::setAllTicked(bool ticked)
{
    if (m_contacts.isEmpty())
        return;
    for (Contact &contact : m_contacts)
        contact.ticked = ticked;
    emit dataChanged(index(0, TickColumn), index(int(m_contacts.size()) - 1, TickColumn),
                     {Qt::CheckStateRole});
    emit ticksChanged();
}

ContactList ContactListModel::tickedContacts() const
{
    ContactList ticked;
    for (const Contact &contact : m_contacts) {
        if (contact.ticked)
            ticked.append(contact);
    }
    return ticked;
}

qsizetype ContactListModel::indexOfId(qint64 rowId) const
{
    if (m_indexDirty) {
        // Built on first use: a load of a million contacts should not pay for it.
        m_indexById.clear();
        m_indexById.reserve(m_contacts.size());
        for (qsizetype i = 0; i < m_contacts.size(); ++i) {
            if (m_contacts[i].rowId != 0)
                m_indexById.insert(m_contacts[i].rowId, i);
        }
        m_indexDirty = false;
    }
    return m_indexById.value(rowId, -1);
}

bool ContactListModel::replaceEntry(const Contact &edited)
{
    const qsizetype position = indexOfId(edited.rowId);
    if (position < 0)
        return false;
    m_contacts[position].setTexts(edited.mobile(), edited.name(), edited.salutation(),
                                  edited.remark());
    emit dataChanged(index(int(position), 0), index(int(position), ColumnCount - 1));
    return true;
}

bool ContactListModel::removeEntry(qint64 rowId)
{
    const qsizetype position = indexOfId(rowId);
    if (position < 0)
        return false;
    beginRemoveRows({}, int(position), int(position));
    m_contacts.removeAt(position);
    invalidateIndex();
    endRemoveRows();
    return true;
}

int ContactListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_contacts.size());
}

int ContactListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ContactListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_contacts.size())
        return {};
    const Contact &contact = m_contacts.at(index.row());
    if (index.column() == TickColumn)
        return role == Qt::CheckStateRole ? QVariant(contact.ticked ? Qt::Checked : Qt::Unchecked)
                                          : QVariant();
    if (role == Qt::TextAlignmentRole)
        return int((index.column() == SalutationColumn ? Qt::AlignHCenter : Qt::AlignLeft)
                   | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case MobileColumn:
        return contact.mobile().toString();
    case NameColumn:
        return contact.name().toString();
    case SalutationColumn:
        return contact.salutation().toString();
    case RemarkColumn:
        return contact.remark().toString();
    }
    return {};
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    static const char *const titles[ColumnCount] = {"", "手机号", "姓名", "称呼", "备注信息"};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(titles[section]);
    // The tick column has no caption; this is what it is called aloud.
    if (role == Qt::AccessibleTextRole)
        return section == TickColumn ? QStringLiteral("勾选") : QString::fromUtf8(titles[section]);
    return {};
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == TickColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool ContactListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != TickColumn
        || index.row() >= m_contacts.size())
        return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

void ContactListModel::invalidateIndex()
{
    m_indexById.clear();
    m_indexDirty = true;
}
