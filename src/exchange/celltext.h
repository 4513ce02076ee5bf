#pragma once

#include <QString>
#include <QStringView>
#include <QVector>

// How a cell of any workbook format reads as text: the one rule set behind the
// .xls, .xlsx and CSV readers. A number reads as plain decimal digits, or, when
// its number format shows a date or a time, as "yyyy-MM-dd", "hh:mm:ss" or
// "yyyy-MM-dd hh:mm:ss"; a boolean as TRUE or FALSE; an error value (#N/A,
// #DIV/0! ...) as the empty text. A formula cell reads as its cached result.
namespace CellText {

enum class NumberKind : quint8 { Plain, Date, Time, DateTime };

// The kind of the built-in number formats (ids below 164), the Chinese ones
// included.
NumberKind kindOfBuiltInFormat(int formatId);
// The kind of a format code: a date or time when it holds date or time
// placeholders outside quoted text and brackets ([h], [mm], [ss] are elapsed
// times); only the first section (positive numbers) counts.
NumberKind kindOfFormatCode(QStringView code);

// A serial day number (days since 1899-12-30, or since 1904-01-01 in a
// 1904-based workbook) as text of that kind. In the 1900 system the serials
// below 61 follow the spreadsheet's count, which has a 29 February 1900.
// Numbers outside 0 .. 9999-12-31 and the plain kind give plain decimal text.
QString number(double value, NumberKind kind, bool date1904);

QString boolean(bool value);

} // namespace CellText

// The number formats of one workbook and the styles (cell formats, XF records)
// that use them, in the order the workbook lists them.
class CellFormats
{
public:
    void setDate1904(bool date1904) { m_date1904 = date1904; }
    bool date1904() const { return m_date1904; }

    // A custom format; built-in ids need none.
    void addFormat(int formatId, QStringView code);
    // The next style, showing its numbers in the given format.
    void addStyle(int formatId);

    CellText::NumberKind kindOfStyle(qsizetype style) const;
    // A number cell's text in the given style.
    QString numberText(double value, qsizetype style) const
    {
        return CellText::number(value, kindOfStyle(style), m_date1904);
    }

private:
    struct Format
    {
        int id;
        CellText::NumberKind kind;
    };
    QVector<Format> m_formats; // custom formats, few
    QVector<CellText::NumberKind> m_styleKinds;
    bool m_date1904 = false;
};
