#include "followup/ui/duelistmodel.h"

void DueListModel::replaceAll(QVector<DueEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

int DueListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int DueListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DueListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size() || role != Qt::DisplayRole)
        return {};
    const DueEntry &entry = m_entries.at(index.row());
    switch (index.column()) {
    case NameColumn:
        return entry.name;
    case MobileColumn:
        return entry.mobile;
    case NextColumn:
        return entry.nextDate;
    case ResultColumn:
        return entry.lastResult;
    case LastTimeColumn:
        return entry.lastTime;
    case GroupsColumn:
        return entry.groups.isEmpty() ? QStringLiteral("（不在任何分组）") : entry.groups;
    default:
        return {};
    }
}

QVariant DueListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const titles[] = {"姓名", "手机号", "下次回访", "上次结果", "上次回访", "分组"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}
