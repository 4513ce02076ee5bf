#pragma once

#include "exchange/celltext.h"
#include "exchange/sheetreader.h"
#include "exchange/stringtable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <vector>

// Our own bounds-checked reading of a BIFF8 (Excel 97 and later) workbook
// stream, with libgsf for the compound file. FreeXL 1.0.6 is not safe here:
// a shared string that runs over more than one CONTINUE record (longer than
// about 8,000 bytes) makes it convert memory it never filled, hand out wrong
// texts and even lose the sheet list, and a damaged string length makes it
// read past a buffer of its own.
class Biff8Workbook
{
public:
    enum class Status {
        Ok,
        NotCompoundFile, // the OLE2 container cannot be read
        OlderBiff,       // a BIFF5 or older workbook ("Book" stream)
        Damaged,         // a BIFF8 stream that cannot be followed
        Encrypted,       // password-protected: the records are encrypted
    };

    Status load(const QString &path);
    Status loadStream(const QByteArray &stream);

    // Hands the rows of the first worksheet to sink, as SheetReader::read
    // describes it. Number cells read by the workbook's number formats, text
    // cells as their text, booleans as TRUE/FALSE, formulas as their cached
    // result, error values as empty cells. A cell that refers to a shared
    // string the table does not hold is damage.
    bool readFirstSheet(int columns, SheetRowSink &sink, QString *error) const;

    // The string table of an SST record body and its CONTINUE bodies; false
    // when a string runs past the records.
    static bool parseStrings(const QVector<QByteArray> &blocks, QStringList *strings);

    class ByteSource; // where the records are read from

private:
    Status loadFrom(std::shared_ptr<ByteSource> source);

    std::shared_ptr<ByteSource> m_source;
    CellFormats m_formats; // per XF record
    qint64 m_sheetOffset = -1;
    StringTable m_strings;
};
