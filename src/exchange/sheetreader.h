#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

// The cell texts of a workbook's first worksheet: one QStringList per sheet
// row from row 1 through the last row that holds any cell, each padded to the
// requested number of columns (A, B, ...). Empty cells are "".
struct SheetRows
{
    bool ok = false;
    QString error; // why the file could not be read, in the user's language
    QVector<QStringList> rows;
};

// One implementation per file format; the import rules live elsewhere and
// exist once.
class SheetReader
{
public:
    virtual ~SheetReader() = default;
    virtual SheetRows readFirstSheet(const QString &path, int columns) = 0;

    // The reader for the file's content (not its name): OLE2 signature,
    // zip signature, otherwise text. Fails when the file cannot be read.
    static std::unique_ptr<SheetReader> forFile(const QString &path, QString *error);
};
