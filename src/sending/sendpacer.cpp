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

SendPacer::SendPacer(const BatchSettings &settings, NthNewestSend nthNewestSend)
    : m_settings(settings)
    , m_nthNewestSend(std::move(nthNewestSend))
{
}

SendPacer::Decision SendPacer::byInterval(const QDateTime &at) const
{
    if (m_settings.intervalSeconds <= 0)
        return {at, Reason::None};
    const QDateTime last = m_nthNewestSend(1);
    if (!last.isValid())
        return {at, Reason::None};
    const QDateTime allowed = last.addSecs(m_settings.intervalSeconds);
    return allowed > at ? Decision{allowed, Reason::Interval} : Decision{at, Reason::None};
}

SendPacer::Decision SendPacer::byCap(const QDateTime &at, int cap, int spanSeconds,
                                     Reason reason) const
{
    if (cap <= 0)
        return {at, Reason::None};
    // With cap messages in the span, the next may leave once the oldest of
    // them is a span old.
    const QDateTime oldest = m_nthNewestSend(cap);
    if (!oldest.isValid())
        return {at, Reason::None};
    const QDateTime allowed = oldest.addSecs(spanSeconds);
    return allowed > at ? Decision{allowed, reason} : Decision{at, Reason::None};
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

SendPacer::Decision SendPacer::next(const QDateTime &now) const
{
    Decision decision{now, Reason::None};
    for (int round = 0; round < Rounds; ++round) {
        bool moved = false;
        for (const Decision &rule :
             {byInterval(decision.notBefore),
              byCap(decision.notBefore, m_settings.perHour, HourSeconds, Reason::HourCap),
              byCap(decision.notBefore, m_settings.perDay, DaySeconds, Reason::DayCap),
              byWindow(decision.notBefore)}) {
            if (rule.notBefore > decision.notBefore) {
                decision = rule;
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    return decision;
}
