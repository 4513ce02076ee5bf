#pragma once

#include "core/contact.h"

#include <QAbstractTableModel>
#include <QHash>

// The working list: every contact that was loaded (from a group or a
// workbook) with its tick flag, in the order received. The grid, the
// recipient list and the exchange commands all read it; nothing else holds
// contact data.
class ContactListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { TickColumn, MobileColumn, NameColumn, SalutationColumn, RemarkColumn, ColumnCount };

    explicit ContactListModel(QObject *parent = nullptr);

    const ContactList &contacts() const { return m_contacts; }
    qsizetype size() const { return m_contacts.size(); }
    bool isEmpty() const { return m_contacts.isEmpty(); }
    const Contact &at(qsizetype index) const { return m_contacts.at(index); }

    // Replaces the whole list; every contact enters ticked.
    void replaceAll(ContactList contacts);
    void clear();
    // Empties the list and hands over its storage, without contacts, for a
    // reload to fill.
    ContactList takeStorage();

    void setTicked(qsizetype index, bool ticked);
    void toggleTicked(qsizetype index);
    void setAllTicked(bool ticked);
    ContactList tickedContacts() const;

    // Position of the contact with this identity, or -1.
    qsizetype indexOfId(qint64 rowId) const;
    // Replaces the texts of the entry with edited.rowId; false when it is gone.
    bool replaceEntry(const Contact &edited);
    bool removeEntry(qint64 rowId);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The tick column is checkable; Qt::CheckStateRole ticks through setTicked().
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

signals:
    // The tick of one contact changed (setTicked, toggleTicked).
    void tickChanged(qsizetype index);
    // The ticks of all contacts were set at once (setAllTicked).
    void ticksChanged();

private:
    void invalidateIndex();

    ContactList m_contacts;
    mutable QHash<qint64, qsizetype> m_indexById;
    mutable bool m_indexDirty = true;
};
