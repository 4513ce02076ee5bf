#include "sending/sendplan.h"

#include "sending/sendpacer.h"

#include <vector>

namespace SendPlan {

namespace {

// One device's messages as the plan hands them out.
struct Track
{
    std::vector<QDateTime> times; // oldest first
    std::optional<QDateTime> lastSend;
    qint64 busyMs = 0;
    QDateTime next; // when it may take its next one

    LogResult nthNewest(int n, QDateTime *out) const
    {
        *out = n <= int(times.size()) ? times[times.size() - n] : QDateTime();
        return LogResult::Ok;
    }
};

QDateTime nextFor(const BatchSettings &settings, Track &track, const QDateTime &from)
{
    const SendPacer pacer(settings, [&track](int n, QDateTime *out, QString *) {
        return track.nthNewest(n, out);
    });
    QDateTime at = from;
    if (track.lastSend)
        at = std::max(at, track.lastSend->addMSecs(track.busyMs));
    SendPacer::Decision decision;
    pacer.next(at, track.lastSend, &decision, nullptr);
    return std::max(at, decision.notBefore);
}

} // namespace

Result estimate(const BatchSettings &settings, const QList<Device> &devices, int remaining,
                const QDateTime &now)
{
    Result result;
    result.shares = QList<int>(devices.size(), 0);
    result.ends = QList<QDateTime>(devices.size());
    if (remaining <= 0 || devices.isEmpty())
        return result;
    std::vector<Track> tracks(devices.size());
    for (qsizetype i = 0; i < devices.size(); ++i) {
        Track &track = tracks[i];
        track.times.assign(devices[i].recent.cbegin(), devices[i].recent.cend());
        std::sort(track.times.begin(), track.times.end());
        track.lastSend = devices[i].lastSend;
        track.busyMs = qint64(devices[i].secondsPerMessage * 1000);
        track.next = nextFor(settings, track, now);
    }
    for (int message = 0; message < remaining; ++message) {
        const auto soonest = std::min_element(tracks.begin(), tracks.end(),
                                              [](const Track &a, const Track &b) {
                                                  return a.next < b.next;
                                              });
        const qsizetype index = soonest - tracks.begin();
        const QDateTime at = soonest->next;
        soonest->times.push_back(at);
        soonest->lastSend = at;
        ++result.shares[index];
        result.ends[index] = at.addMSecs(soonest->busyMs);
        result.end = std::max(result.end, result.ends[index]);
        soonest->next = nextFor(settings, *soonest, at);
    }
    return result;
}

} // namespace SendPlan
