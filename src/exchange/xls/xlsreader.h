#pragma once

#include "exchange/sheetreader.h"

// Reads .xls workbooks of Excel 97 and later (BIFF8). Older BIFF versions
// are refused with a reason: the only reader for them at hand (FreeXL 1.0.6)
// reads past its buffers on damaged files.
class XlsReader : public SheetReader
{
public:
    bool read(const QString &path, int columns, SheetRowSink &sink, QString *error) override;
};
