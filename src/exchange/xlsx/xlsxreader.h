#pragma once

#include "exchange/sheetreader.h"

// Reads the first worksheet (in workbook order) of an Office Open XML
// workbook (.xlsx). Strings come from the shared-string table, inline strings
// or cached formula results; numbers read as plain decimal text, numbers shown
// as dates or times as "yyyy-MM-dd", "hh:mm:ss" or "yyyy-MM-dd hh:mm:ss";
// booleans as TRUE/FALSE; error values (#N/A) as empty cells.
class XlsxReader : public SheetReader
{
public:
    bool read(const QString &path, int columns, SheetRowSink &sink, QString *error) override;

    // True for a compound (OLE2) file that wraps an encrypted .xlsx package,
    // which is what a password-protected workbook is on disk.
    static bool isEncryptedPackage(const QString &path);
};
