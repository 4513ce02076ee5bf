#pragma once

#include "core/contact.h"

#include <QStringView>

#include <array>

// Column widths for exported sheets, in character units.
namespace ColumnWidth {

// Spreadsheets cap a column at 255 characters.
constexpr int maxUnits = 255;

// Width of a text when shown: a wide (CJK, full-width) character counts as
// two units, any other character as one.
int displayUnits(QStringView text);

// For contacts [first, first + count): the widest mobile, name, salutation
// and remark, capped at maxUnits; 0 for a column that holds no text.
std::array<int, 4> fitted(const ContactList &contacts, qsizetype first, qsizetype count);

} // namespace ColumnWidth
