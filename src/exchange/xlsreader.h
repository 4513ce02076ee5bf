#pragma once

#include "sheetreader.h"

// Reads BIFF workbooks (.xls, Excel 97-2003 and older) through FreeXL.
class XlsReader : public SheetReader
{
public:
    SheetRows readFirstSheet(const QString &path, int columns) override;
};
