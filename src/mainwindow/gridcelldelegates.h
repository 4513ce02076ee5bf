#pragma once

#include <QStyledItemDelegate>

// Cells of the contact grid. Each paints its part of the row band first
// (stripe or highlight by position, the rules), so that a cell repainted on
// its own looks the same as one painted with its whole row.
class GridCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void paintBand(QPainter *painter, const QStyleOptionViewItem &option) const;
};

// The tick cell: the ticked or the unticked image.
class TickCellDelegate : public GridCellDelegate
{
public:
    using GridCellDelegate::GridCellDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};

// A text cell: the text clipped to its box, aligned as the model says.
class TextCellDelegate : public GridCellDelegate
{
public:
    using GridCellDelegate::GridCellDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
