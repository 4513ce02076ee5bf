#pragma once

class QAbstractItemView;

// The height at which a list or table shows `rows` rows without scrolling
// (its header and frame included), so that a layout short of room squeezes
// the view no further than that.
int heightForRows(const QAbstractItemView &view, int rows);
