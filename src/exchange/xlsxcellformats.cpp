#include "xlsxcellformats.h"

#include <QDateTime>
#include <QXmlStreamReader>

#include <cmath>

namespace {

using Kind = XlsxCellFormats::Kind;

Kind combine(bool hasDate, bool hasTime)
{
    if (hasDate && hasTime)
        return Kind::DateTime;
    if (hasDate)
        return Kind::Date;
    return hasTime ? Kind::Time : Kind::Number;
}

} // namespace

Kind XlsxCellFormats::kindOfBuiltInFormat(int id)
{
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || (id >= 34 && id <= 36)
        || (id >= 50 && id <= 58))
        return Kind::Date;
    if ((id >= 18 && id <= 21) || id == 32 || id == 33 || (id >= 45 && id <= 47))
        return Kind::Time;
    if (id == 22)
        return Kind::DateTime;
    return Kind::Number;
}

Kind XlsxCellFormats::kindOfFormatCode(QStringView code)
{
    bool year = false, month = false, day = false, hour = false, second = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (inQuotes) {
            inQuotes = c != u'"';
            continue;
        }
        switch (c.toLower().unicode()) {
        case u'"':
            inQuotes = true;
            break;
        case u'\\': // escaped literal
        case u'_':  // blank of a character's width
        case u'*':  // fill character
            ++i;
            break;
        case u'[': {
            // [h], [mm], [ss] are elapsed times; [$-804], [Red] and the like are not.
            const qsizetype end = code.indexOf(u']', i);
            const QStringView inside = code.mid(i + 1, end < 0 ? -1 : end - i - 1);
            if (!inside.isEmpty() && (inside[0] == u'h' || inside[0] == u'H' || inside[0] == u's'
                                      || inside[0] == u'S'))
                hour = true;
            if (end < 0)
                return combine(year || day || month, hour || second);
            i = end;
            break;
        }
        case u';': // only the first section (positive numbers) matters
            return combine(year || day || (month && !hour && !second), hour || second);
        case u'y':
            year = true;
            break;
        case u'm':
            month = true;
            break;
        case u'd':
            day = true;
            break;
        case u'h':
            hour = true;
            break;
        case u's':
            second = true;
            break;
        default:
            break;
        }
    }
    // A lone "m" beside hours or seconds means minutes.
    return combine(year || day || (month && !hour && !second), hour || second);
}

void XlsxCellFormats::read(QXmlStreamReader &xml)
{
    QHash<int, Kind> customFormats;
    m_styleKinds.clear();
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1StringView("cellXfs"))
            inCellXfs = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == QLatin1StringView("numFmt")) {
            const QXmlStreamAttributes a = xml.attributes();
            customFormats.insert(a.value(QLatin1StringView("numFmtId")).toInt(),
                                 kindOfFormatCode(a.value(QLatin1StringView("formatCode"))));
        } else if (name == QLatin1StringView("cellXfs")) {
            inCellXfs = true;
        } else if (name == QLatin1StringView("xf") && inCellXfs) {
            const int id = xml.attributes().value(QLatin1StringView("numFmtId")).toInt();
            m_styleKinds.append(customFormats.value(id, kindOfBuiltInFormat(id)));
            xml.skipCurrentElement();
        }
    }
}

Kind XlsxCellFormats::kindOfStyle(int styleIndex) const
{
    return styleIndex >= 0 && styleIndex < m_styleKinds.size() ? m_styleKinds[styleIndex]
                                                                : Kind::Number;
}

QString XlsxCellFormats::serialText(double serial, Kind kind, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0 || serial >= 2958466)
        return QString();
    qint64 seconds = std::llround(serial * 86400.0);
    qint64 days = seconds / 86400;
    seconds %= 86400;
    QDate base = date1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    // The 1900 system counts a 29 February 1900 that never was: serials
    // below 61 lie one day later than the plain count says.
    if (!date1904 && days < 61)
        base = QDate(1899, 12, 31);
    const QDate date = base.addDays(kind == Kind::Time ? 0 : days);
    const QTime time = QTime(0, 0).addSecs(int(seconds));
    switch (kind) {
    case Kind::Date:
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    case Kind::Time:
        return time.toString(QStringLiteral("hh:mm:ss"));
    case Kind::DateTime:
        return date.toString(QStringLiteral("yyyy-MM-dd ")) + time.toString(QStringLiteral("hh:mm:ss"));
    case Kind::Number:
        break;
    }
    return QString();
}
