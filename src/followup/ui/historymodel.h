#pragma once

#include "followup/followupstore.h"

#include <QAbstractTableModel>

// One person's history, newest first: the follow-up records and the
// messages of the send log (shown greyed, read only).
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { TimeColumn, MethodColumn, ResultColumn, ContentColumn, NextColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void replaceAll(QVector<HistoryEntry> entries);
    const HistoryEntry &at(int row) const { return m_entries.at(row); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVector<HistoryEntry> m_entries;
};
