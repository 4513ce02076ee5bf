#include "followup/ui/historymodel.h"

#include <QBrush>
#include <QPalette>

namespace {

// The first line of a long text, for its cell; the whole text is the tooltip.
QString firstLine(const QString &text)
{
    const qsizetype end = text.indexOf(u'\n');
    return end < 0 ? text : text.left(end) + QStringLiteral(" …");
}

} // namespace

void HistoryModel::replaceAll(QVector<HistoryEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const HistoryEntry &entry = m_entries.at(index.row());
    if (role == Qt::ForegroundRole && entry.fromSendLog)
        return QPalette().brush(QPalette::Disabled, QPalette::Text);
    if (role == Qt::ToolTipRole && index.column() == ContentColumn)
        return entry.content;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return entry.time;
    case MethodColumn:
        return entry.method;
    case ResultColumn:
        return entry.result;
    case ContentColumn:
        return firstLine(entry.content);
    case NextColumn:
        return entry.nextDate;
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const titles[] = {"时间", "方式", "结果", "内容", "下次回访"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}
