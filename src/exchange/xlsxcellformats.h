#pragma once

#include <QHash>
#include <QString>
#include <QVector>

class QXmlStreamReader;

// Which cell styles of a workbook show their number as a date or a time, and
// how such a number reads as text. Dates become "yyyy-MM-dd", times
// "hh:mm:ss", both together "yyyy-MM-dd hh:mm:ss".
class XlsxCellFormats
{
public:
    enum class Kind { Number, Date, Time, DateTime };

    // Reads the styles part (xl/styles.xml); on an XML error the caller
    // decides what to report.
    void read(QXmlStreamReader &xml);

    Kind kindOfStyle(int styleIndex) const;

    // The number format behind a format code: a date or time when it holds
    // date or time placeholders outside quoted text and brackets.
    static Kind kindOfFormatCode(QStringView code);
    static Kind kindOfBuiltInFormat(int numFmtId);

    // A serial day number (days since 1899-12-30, or since 1904-01-01 in a
    // 1904-based workbook) as text; empty when it is outside the years
    // 1900..9999.
    static QString serialText(double serial, Kind kind, bool date1904);

private:
    QVector<Kind> m_styleKinds; // per cellXfs entry
};
