#pragma once

#include "sheetreader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

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

    // The first worksheet, as SheetReader describes it. Number cells become
    // plain decimal text, or in a date/time format "YYYY-MM-DD",
    // "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS"; text cells their text; formulas,
    // errors and booleans are empty.
    SheetRows readFirstSheet(int columns) const;

    // The string table of an SST record body and its CONTINUE bodies.
    static QStringList parseStrings(const QVector<QByteArray> &blocks);

private:
    enum class NumberKind : quint8 { Plain, Date, DateTime, Time };
    QString numberText(double value, quint16 xf) const;

    QByteArray m_stream;
    QVector<NumberKind> m_xfKinds; // per XF record
    bool m_dates1904 = false;
    qint64 m_sheetOffset = -1;
    QStringList m_strings;
};
