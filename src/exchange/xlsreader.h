#pragma once

#include "sheetreader.h"

// Reads .xls workbooks: BIFF8 (Excel 97-2003) with our own reader, the
// older BIFF versions through FreeXL.
class XlsReader : public SheetReader
{
public:
    SheetRows readFirstSheet(const QString &path, int columns) override;
};
