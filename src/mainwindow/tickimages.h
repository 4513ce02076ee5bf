#pragma once

#include <QPixmap>

// The two 11 × 11 pictures of the grid's tick cells.
namespace TickImages {

QPixmap ticked();
QPixmap unticked();

} // namespace TickImages
