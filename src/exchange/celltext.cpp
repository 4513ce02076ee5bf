#include "exchange/celltext.h"

#include "core/textrules.h"

#include <QDateTime>

#include <cmath>
#include <iterator>

namespace CellText {

namespace {

NumberKind combine(bool hasDate, bool hasTime)
{
    if (hasDate && hasTime)
        return NumberKind::DateTime;
    if (hasDate)
        return NumberKind::Date;
    return hasTime ? NumberKind::Time : NumberKind::Plain;
}

// Serial 60 of the 1900 system: the day the spreadsheet counts but the
// calendar never had.
constexpr qint64 missingLeapDay = 60;

// Plain decimal text; whole numbers, the common case (a mobile stored as a
// number), are written here without the general conversion, which takes
// about three times as long.
QString plainText(double value)
{
    constexpr double exactWholeNumbers = 9007199254740992.0; // 2^53
    if (!(std::fabs(value) < exactWholeNumbers) || value != std::trunc(value))
        return TextRules::plainDecimal(value);
    quint64 magnitude = quint64(std::fabs(value));
    char16_t digits[20];
    char16_t *first = std::end(digits);
    do {
        *--first = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--first = u'-';
    return QString(reinterpret_cast<const QChar *>(first), std::end(digits) - first);
}

} // namespace

NumberKind kindOfBuiltInFormat(int id)
{
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || (id >= 34 && id <= 36)
        || (id >= 50 && id <= 58))
        return NumberKind::Date;
    if ((id >= 18 && id <= 21) || id == 32 || id == 33 || (id >= 45 && id <= 47))
        return NumberKind::Time;
    if (id == 22)
        return NumberKind::DateTime;
    return NumberKind::Plain;
}

NumberKind kindOfFormatCode(QStringView code)
{
    bool year = false, month = false, day = false, hour = false, second = false;
    // A lone "m" beside hours or seconds means minutes.
    auto kind = [&] { return combine(year || day || (month && !hour && !second), hour || second); };
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
            if (!inside.isEmpty()) {
                const QChar first = inside[0].toLower();
                if (first == u'h' || first == u's')
                    hour = true;
                else if (first == u'm' && inside.size() <= 2)
                    second = true; // elapsed minutes: a time, never a month
            }
            if (end < 0)
                return kind();
            i = end;
            break;
        }
        case u';': // only the first section (positive numbers) matters
            return kind();
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
    return kind();
}

QString number(double value, NumberKind kind, bool date1904)
{
    // Serial day numbers a spreadsheet can show as dates: 0 to 9999-12-31.
    if (kind == NumberKind::Plain || !std::isfinite(value) || value < 0 || value >= 2958466)
        return plainText(value);

    qint64 seconds = std::llround(value * 86400.0);
    const qint64 days = seconds / 86400;
    seconds %= 86400;
    QString time = QTime(0, 0).addSecs(int(seconds)).toString(QStringLiteral("hh:mm:ss"));
    if (kind == NumberKind::Time)
        return time;

    QString date;
    if (date1904) {
        date = QDate(1904, 1, 1).addDays(days).toString(QStringLiteral("yyyy-MM-dd"));
    } else if (days == missingLeapDay) {
        date = QStringLiteral("1900-02-29");
    } else {
        // Below the missing day the plain count runs one day behind.
        const QDate base = days < missingLeapDay ? QDate(1899, 12, 31) : QDate(1899, 12, 30);
        date = base.addDays(days).toString(QStringLiteral("yyyy-MM-dd"));
    }
    return kind == NumberKind::Date ? date : date + u' ' + time;
}

QString boolean(bool value)
{
    return value ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

} // namespace CellText

void CellFormats::addFormat(int formatId, QStringView code)
{
    const CellText::NumberKind kind = CellText::kindOfFormatCode(code);
    for (Format &format : m_formats) {
        if (format.id == formatId) {
            format.kind = kind;
            return;
        }
    }
    m_formats.append({formatId, kind});
}

void CellFormats::addStyle(int formatId)
{
    for (const Format &format : std::as_const(m_formats)) {
        if (format.id == formatId) {
            m_styleKinds.append(format.kind);
            return;
        }
    }
    m_styleKinds.append(CellText::kindOfBuiltInFormat(formatId));
}

CellText::NumberKind CellFormats::kindOfStyle(qsizetype style) const
{
    return style >= 0 && style < m_styleKinds.size() ? m_styleKinds.at(style)
                                                     : CellText::NumberKind::Plain;
}
