#include "mainwindow/gridcelldelegates.h"

#include "mainwindow/gridlook.h"
#include "mainwindow/tickimages.h"

#include <QPainter>

namespace {

// More characters than the widest cell shows: a longer text (one name of
// megabytes) is laid out only as far as it can be seen.
constexpr qsizetype LongestShownText = 1024;

QString visiblePart(const QString &text, Qt::Alignment horizontal)
{
    if (text.size() <= LongestShownText)
        return text;
    if (horizontal & Qt::AlignRight)
        return text.right(LongestShownText);
    if (horizontal & Qt::AlignHCenter)
        return text.mid((text.size() - LongestShownText) / 2, LongestShownText);
    return text.left(LongestShownText);
}

} // namespace

QSize GridCellDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    return QSize(GridLook::columnWidth(index.column()), GridLook::rowHeight());
}

void GridCellDelegate::paintBand(QPainter *painter, const QStyleOptionViewItem &option) const
{
    GridLook::paintBand(*painter, option.rect, option.state.testFlag(QStyle::State_Selected));
}

void TickCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    paintBand(painter, option);
    const bool ticked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    painter->drawPixmap(GridLook::tickRect(option.rect).topLeft(),
                        ticked ? TickImages::ticked() : TickImages::unticked());
}

void TextCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    paintBand(painter, option);
    const QRect box = GridLook::textRect(index.column(), option.rect);
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    const Qt::Alignment horizontal =
        alignment.isValid() ? Qt::Alignment(alignment.toInt()) & Qt::AlignHorizontal_Mask
                            : Qt::Alignment(Qt::AlignLeft);
    painter->save();
    painter->setPen(option.palette.color(QPalette::WindowText));
    painter->setClipRect(box);
    // The text box is a little lower than the font needs; it is centred in
    // a box two pixels taller on each side and cut to its own.
    painter->drawText(box.adjusted(0, -2, 0, 2), int(horizontal | Qt::AlignVCenter),
                      visiblePart(index.data(Qt::DisplayRole).toString(), horizontal));
    painter->restore();
}
