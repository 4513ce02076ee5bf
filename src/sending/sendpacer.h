#pragma once

#include "sending/log/logdatabase.h"
#include "sending/sendrecord.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// When the next message may leave through one device: not before the
// interval since its last one, not while its hourly or daily cap is
// reached (counted over the last 60 minutes and 24 hours of what the device
// was handed, so a restart does not reset them), and only inside the
// sending window. The caps and the window go by the wall clock; the interval
// goes by the program's own monotonic measure where it has one, so a clock
// set back does not hold the batch up.
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

    // The time of the device's n-th newest message (1: the last), invalid
    // when fewer; anything but Ok means it cannot be told.
    using History = std::function<LogResult(int n, QDateTime *out, QString *error)>;

    SendPacer(const BatchSettings &settings, History history);

    // lastSend: when the device last took a message as this program measured
    // it (nullopt when not since it started: the history then says, but never
    // more than one interval ahead). A history that cannot be read decides
    // nothing: the caller must not send.
    LogResult next(const QDateTime &now, const std::optional<QDateTime> &lastSend,
                   Decision *out, QString *error) const;

private:
    LogResult byInterval(const QDateTime &now, const QDateTime &at,
                         const std::optional<QDateTime> &lastSend, Decision *out,
                         QString *error) const;
    LogResult byCap(const QDateTime &at, int cap, int spanSeconds, Reason reason, Decision *out,
                    QString *error) const;
    Decision byWindow(const QDateTime &at) const;

    BatchSettings m_settings;
    History m_history;
};
