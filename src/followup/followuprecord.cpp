#include "followup/followuprecord.h"

#include "core/textrules.h"

namespace FollowUpRules {

QStringList methods()
{
    return {QStringLiteral("电话"), QStringLiteral("短信"), QStringLiteral("上门"),
            QStringLiteral("其他")};
}

QString timeText(const QDateTime &time)
{
    return time.toString(QLatin1StringView(TimeFormat));
}

QString dateText(QDate date)
{
    return date.isValid() ? date.toString(QLatin1StringView(DateFormat)) : QString();
}

// Qt accepts a single digit where the format has two; the stored text must
// have exactly the format's length so that it sorts.
QDate parseDate(QStringView text)
{
    if (text.size() != qsizetype(qstrlen(DateFormat)))
        return {};
    return QDate::fromString(text.toString(), QLatin1StringView(DateFormat));
}

QDateTime parseTime(QStringView text)
{
    if (text.size() != qsizetype(qstrlen(TimeFormat)))
        return {};
    return QDateTime::fromString(text.toString(), QLatin1StringView(TimeFormat));
}

QString problem(const FollowUpRecord &record, const FollowUpRecord *stored)
{
    if (TextRules::trimBlanks(record.mobile).isEmpty())
        return QStringLiteral("回访记录必须有手机号。");
    if (!parseTime(record.time).isValid() && !(stored && stored->time == record.time))
        return QStringLiteral("回访时间“%1”不是有效的时间（格式：2026-12-07 14:30:00）。")
            .arg(record.time);
    if (!methods().contains(record.method))
        return QStringLiteral("回访方式“%1”无效，只能是电话、短信、上门或其他。").arg(record.method);
    if (!record.nextDate.isEmpty() && !parseDate(record.nextDate).isValid()
        && !(stored && stored->nextDate == record.nextDate))
        return QStringLiteral("下次回访日期“%1”不是有效的日期（格式：2026-12-08）。")
            .arg(record.nextDate);
    return {};
}

QString telUrl(QStringView mobile)
{
    const QStringView trimmed = mobile.trimmed();
    QString number = trimmed.startsWith(u'+') ? QStringLiteral("+") : QString();
    for (const QChar c : trimmed) {
        if (c >= u'0' && c <= u'9')
            number += c;
    }
    return number.size() > (trimmed.startsWith(u'+') ? 1 : 0) ? QStringLiteral("tel:") + number
                                                               : QString();
}

QDate nextDate(NextChoice choice, QDate today)
{
    switch (choice) {
    case NextChoice::None:
        return {};
    case NextChoice::Tomorrow:
        return today.addDays(1);
    case NextChoice::InThreeDays:
        return today.addDays(3);
    case NextChoice::InAWeek:
        return today.addDays(7);
    }
    return {};
}

} // namespace FollowUpRules
