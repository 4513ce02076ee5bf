#pragma once

#include "followup/followupstore.h"

#include <QAbstractTableModel>

// The people due for a follow-up, the longest due first.
class DueListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        NameColumn,
        MobileColumn,
        NextColumn,
        ResultColumn,
        LastTimeColumn,
        GroupsColumn,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    void replaceAll(QVector<DueEntry> entries);
    const QVector<DueEntry> &entries() const { return m_entries; }
    const DueEntry &at(int row) const { return m_entries.at(row); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVector<DueEntry> m_entries;
};
