#include "mainwindow/gridlook.h"

#include "desktop/twips.h"

#include <QPainter>

namespace GridLook {

namespace {

// The layout in twips, from the top of the grid area (the header buttons
// stand above the first row, whose stripe begins at 240).
constexpr int FirstRowTop = 240;
constexpr int RowPitch = 315;
constexpr int TextTop = 300; // tick image and texts of the first row
constexpr int TextHeight = 195;
constexpr int TickLeft = 60;
constexpr int TickSize = 165;

// Vertical rules stand 30 twips right of each cell; they bound the columns.
// The last rule closes the remark column.
constexpr int Rules[] = {0, 285, 1605, 2805, 3765, 6525};
struct TextCell
{
    int left;
    int width;
};
// Mobile, name, salutation, remark.
constexpr TextCell TextCells[4] = {{360, 1215}, {1680, 1095}, {2880, 855}, {3840, 2655}};

const QColor EvenStripe(249, 248, 245);
const QColor OddStripe(255, 255, 255);
const QColor Highlight(0, 255, 255);
const QColor RuleColour(224, 224, 224);

} // namespace

int rowHeight()
{
    return Twips::toPixels(RowPitch);
}

int headerHeight()
{
    return Twips::toPixels(FirstRowTop);
}

int columnLeft(int column)
{
    return Twips::toPixels(Rules[column]);
}

int columnWidth(int column)
{
    return Twips::toPixels(Rules[column + 1]) - Twips::toPixels(Rules[column]);
}

QColor bandColour(int shownRow, bool selected)
{
    if (selected)
        return Highlight;
    return shownRow % 2 == 0 ? EvenStripe : OddStripe;
}

void paintBand(QPainter &painter, const QRect &area, bool selected)
{
    const int shownRow = area.top() / rowHeight();
    painter.fillRect(area.adjusted(0, 0, 0, -1), bandColour(shownRow, selected));
    painter.fillRect(area.left(), area.bottom(), area.width(), 1, RuleColour);
    for (int rule : Rules) {
        const int x = Twips::toPixels(rule);
        if (x >= area.left() && x <= area.right())
            painter.fillRect(x, area.top(), 1, area.height(), RuleColour);
    }
}

QRect tickRect(const QRect &tickCell)
{
    const int size = Twips::toPixels(TickSize);
    return QRect(tickCell.left() + Twips::toPixels(TickLeft),
                 tickCell.top() + Twips::toPixels(TextTop) - Twips::toPixels(FirstRowTop), size,
                 size);
}

QRect textRect(int column, const QRect &cell)
{
    const TextCell &text = TextCells[column - 1];
    return QRect(cell.left() + Twips::toPixels(text.left) - columnLeft(column),
                 cell.top() + Twips::toPixels(TextTop) - Twips::toPixels(FirstRowTop),
                 Twips::toPixels(text.width), Twips::toPixels(TextHeight));
}

} // namespace GridLook
