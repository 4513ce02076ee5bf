#pragma once

#include "sending/sendrecord.h"

#include <QDateTime>
#include <QString>

#include <functional>

// When the next message of a batch may leave: not before the interval since
// the last one through the same device, not while the device's hourly or
// daily cap is reached (counted over the last 60 minutes and 24 hours from
// the log, so a restart does not reset them), and only inside the sending
// window.
class SendPacer
{
public:
    enum class Reason { None, Interval, Window, HourCap, DayCap };

    struct Decision
    {
        QDateTime notBefore; // at or before now: send now
        Reason reason = Reason::None;

        // "已到每小时上限，14:05 继续" and the like; "" when there is no wait.
        QString describe() const;
    };

    // The time of the device's n-th newest message that left (1: the last),
    // invalid when fewer left.
    using NthNewestSend = std::function<QDateTime(int n)>;

    SendPacer(const BatchSettings &settings, NthNewestSend nthNewestSend);

    Decision next(const QDateTime &now) const;

private:
    // The earliest time from at on allowed by one rule, with the rule's reason.
    Decision byInterval(const QDateTime &at) const;
    Decision byCap(const QDateTime &at, int cap, int spanSeconds, Reason reason) const;
    Decision byWindow(const QDateTime &at) const;

    BatchSettings m_settings;
    NthNewestSend m_nthNewestSend;
};
