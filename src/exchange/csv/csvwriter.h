#pragma once

#include "exchange/tablerows.h"

// Writes a heading row and the rows as CSV: UTF-8 with a byte order mark (so
// that spreadsheet programs read the Chinese right), fields quoted as RFC 4180
// has it, lines ending in CR LF. Complete, or not written at all (an older
// file of that name is kept). On failure error names the file and the reason.
bool writeCsvTable(const QString &path, const QStringList &heading, const RowProducer &rows,
                   QString *error);
