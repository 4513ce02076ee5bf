#pragma once

#include "sending/sendrecord.h"

#include <QDateTime>
#include <QList>

#include <optional>

// When a batch would be done: each of its devices at the batch's pace (its
// own interval, its caps counting what it was already handed, the sending
// window, and how long it takes a message), the next message always going
// to the device that may send soonest — as the runner hands them out.
namespace SendPlan {

struct Device
{
    QList<QDateTime> recent;            // what it was handed in the last 24 hours
    std::optional<QDateTime> lastSend;  // its last message, as the program measured it
    double secondsPerMessage = 0;       // how long it takes one (0: not known)
};

struct Result
{
    QDateTime end;           // when the last one leaves; invalid when nothing is left
    QList<int> shares;       // how many each device sends, in the order given
    QList<QDateTime> ends;   // when each sends its last (invalid when none)
};

// Nothing left, or no device: an invalid end.
Result estimate(const BatchSettings &settings, const QList<Device> &devices, int remaining,
                const QDateTime &now);

} // namespace SendPlan
