#include "sending/sendpacer.h"

namespace {

constexpr int HourSeconds = 3600;
constexpr int DaySeconds = 24 * 3600;
// Each rule can only push the time later, and a later time never breaks a
// rule that held: a few rounds settle it.
constexpr int Rounds = 4;

bool insideWindow(QTime time, QTime start, QTime end)
{
    if (start == end)
        return true;
    if (start < end)
        return time >= start && time < end;
    return time >= start || time < end; // a window across midnight
}

} // namespace

QString SendPacer::Decision::describe() const
{
    const QString until = notBefore.toString(QStringLiteral("MM-dd HH:mm:ss"));
    switch (reason) {
    case Reason::None:
        return QString();
    case Reason::Interval:
        return QStringLiteral("等待间隔，%1 发下一条").arg(until);
    case Reason::Window:
        return QStringLiteral("不在发送时段内，%1 继续").arg(until);
    case Reason::HourCap:
        return QStringLiteral("已到每小时上限，%1 继续").arg(until);
    case Reason::DayCap:
        return QStringLiteral("已到每天上限，%1 继续").arg(until);
    }
    return QString();
}

SendPacer::SendPacer(const BatchSettings &settings, History history)
    : m_settings(settings)
    , m_history(std::move(history))
{
}

LogResult SendPacer::byInterval(const QDateTime &now, const QDateTime &at,
                                const std::optional<QDateTime> &lastSend, Decision *out,
                                QString *error) const
{
    *out = {at, Reason::None};
    if (m_settings.intervalSeconds <= 0)
        return LogResult::Ok;
    QDateTime last;
    if (lastSend) {
        last = *lastSend;
    } else {
        if (const LogResult read = m_history(1, &last, error); read != LogResult::Ok)
            return read;
        if (!last.isValid())
            return LogResult::Ok;
        // A last message "in the future" means the clock was set back.
        last = std::min(last, now);
    }
    const QDateTime allowed = last.addSecs(m_settings.intervalSeconds);
    if (allowed > at)
        *out = {allowed, Reason::Interval};
    return LogResult::Ok;
}

LogResult SendPacer::byCap(const QDateTime &at, int cap, int spanSeconds, Reason reason,
                           Decision *out, QString *error) const
{
    *out = {at, Reason::None};
    if (cap <= 0)
        return LogResult::Ok;
    // With cap messages in the span, the next may leave once the oldest of
    // them is a span old.
    QDateTime oldest;
    if (const LogResult read = m_history(cap, &oldest, error); read != LogResult::Ok)
        return read;
    if (!oldest.isValid())
        return LogResult::Ok;
    const QDateTime allowed = oldest.addSecs(spanSeconds);
    if (allowed > at)
        *out = {allowed, reason};
    return LogResult::Ok;
}

SendPacer::Decision SendPacer::byWindow(const QDateTime &at) const
{
    if (!m_settings.windowOn
        || insideWindow(at.time(), m_settings.windowStart, m_settings.windowEnd))
        return {at, Reason::None};
    QDateTime start(at.date(), m_settings.windowStart);
    if (start <= at)
        start = start.addDays(1);
    return {start, Reason::Window};
}

LogResult SendPacer::next(const QDateTime &now, const std::optional<QDateTime> &lastSend,
                          Decision *out, QString *error) const
{
    Decision decision{now, Reason::None};
    for (int round = 0; round < Rounds; ++round) {
        Decision rules[4];
        const QDateTime at = decision.notBefore;
        for (const LogResult read :
             {byInterval(now, at, lastSend, &rules[0], error),
              byCap(at, m_settings.perHour, HourSeconds, Reason::HourCap, &rules[1], error),
              byCap(at, m_settings.perDay, DaySeconds, Reason::DayCap, &rules[2], error)}) {
            if (read != LogResult::Ok)
                return read;
        }
        rules[3] = byWindow(at);
        bool moved = false;
        for (const Decision &rule : rules) {
            if (rule.notBefore > decision.notBefore) {
                decision = rule;
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    *out = decision;
    return LogResult::Ok;
}
