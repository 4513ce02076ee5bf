#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// How the rows of the contact grid look: the band of every shown row (stripe
// or highlight, the rules) and where the tick image and the texts sit in it.
// All geometry is in pixels of the table's viewport, whose top edge is the
// top of the first row.
namespace GridLook {

constexpr int ShownRows = 23;

// One row: its stripe and the rule under it.
int rowHeight();
// The strip above the first row where the header buttons stand.
int headerHeight();
// Left edge and width of a model column (the tick column is 0).
int columnLeft(int column);
int columnWidth(int column);

// Stripes belong to positions: even shown rows are tinted, odd ones white;
// the selected contact's row is cyan wherever it is shown.
QColor bandColour(int shownRow, bool selected);

// Paints the part of a row's band that lies in area (one row high): the
// stripe, the rule under it and the vertical rules.
void paintBand(QPainter &painter, const QRect &area, bool selected);

// Where the 11 × 11 tick image of a row lies, given the row's tick cell.
QRect tickRect(const QRect &tickCell);
// Where a text of a row lies, given the cell of its column (1 to 4).
QRect textRect(int column, const QRect &cell);

} // namespace GridLook
