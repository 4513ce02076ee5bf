#include "sending/batchrunner.h"

#include "sending/log/batchlog.h"
#include "sending/log/optoutlist.h"
#include "sending/log/sendledger.h"
#include "sending/pendingwrites.h"

#include <QPointer>

namespace {

// A long wait is checked again now and then: the caps may loosen, another
// device may leave its recipients behind.
constexpr qint64 LongestWaitMs = 60'000;

QString pausedBecause(const QString &reason)
{
    return QStringLiteral("%1，发送已暂停。").arg(reason);
}

} // namespace

struct BatchRunner::Lane
{
    Lane(SendChannel *sendChannel, const BatchSettings &settings, SendLedger &ledger)
        : channel(sendChannel)
        , device(sendChannel->deviceId())
        , pacer(settings, [&ledger, id = sendChannel->deviceId()](int n, QDateTime *out,
                                                                 QString *error) {
            return ledger.nthNewest(id, n, out, error);
        })
    {
        timer.setSingleShot(true);
    }

    std::unique_ptr<SendChannel> channel;
    QString device;
    SendPacer pacer;
    QTimer timer;
    QElapsedTimer sinceSend; // valid once it sent in this run
    QDateTime lastSendAt;    // the wall time of that send
    qint64 cursor = 0;       // the last recipient it took
    bool rescanned = false;  // went back to the start once since it last found one
    Standing standing = Standing::In;
    QString leftReason;
    bool prepared = false;
    bool preparing = false;
    bool inFlight = false;
    bool reachedDayCap = false;
    int failuresInARow = 0;
    QString lastFailure;
    int sent = 0;
    int failed = 0;
    qint64 sendMsTotal = 0; // how long its messages took, for the plan
    int sendsTimed = 0;
    QString waitText;

    std::optional<QDateTime> lastSend(const QDateTime &now) const
    {
        if (!sinceSend.isValid())
            return std::nullopt;
        // The monotonic measure, read on the wall clock of now.
        return now.addMSecs(-sinceSend.elapsed());
    }
};

BatchRunner::BatchRunner(const BatchServices &services, qint64 batch,
                         const BatchSettings &settings, const QList<SendChannel *> &channels,
                         QObject *parent)
    : QObject(parent)
    , m_services(services)
    , m_batch(batch)
    , m_settings(settings)
{
    for (SendChannel *channel : channels) {
        channel->setParent(nullptr);
        auto lane = std::make_unique<Lane>(channel, settings, services.ledger);
        Lane *raw = lane.get();
        connect(&raw->timer, &QTimer::timeout, this, [this, raw] { step(*raw); });
        connect(channel, &SendChannel::availabilityChanged, this,
                [this, raw] { availabilityChanged(*raw); });
        m_lanes.push_back(std::move(lane));
    }
    m_startRetry.setSingleShot(true);
    connect(&m_startRetry, &QTimer::timeout, this, &BatchRunner::readCounts);
    connect(&services.writes, &PendingWrites::stateChanged, this, [this] {
        if (m_phase != Phase::Running && m_phase != Phase::Waiting)
            return;
        if (m_services.writes.isFailing() && !anyInFlight())
            enter(Phase::Paused, pausedBecause(QStringLiteral("%1；写入之前不会再发")
                                                   .arg(m_services.writes.problem())));
        else if (m_services.writes.isEmpty())
            stepAll();
        else
            showWritesWaiting();
    });
}

BatchRunner::~BatchRunner() = default;

bool BatchRunner::isActive() const
{
    return m_phase == Phase::Running || m_phase == Phase::Waiting || anyInFlight();
}

bool BatchRunner::anyInFlight() const
{
    return std::any_of(m_lanes.cbegin(), m_lanes.cend(),
                       [](const auto &lane) { return lane->inFlight; });
}

QList<BatchRunner::Device> BatchRunner::devices() const
{
    QList<Device> devices;
    for (const auto &lane : m_lanes) {
        Device device;
        device.id = lane->device;
        device.label = lane->channel->label();
        device.sent = lane->sent;
        device.failed = lane->failed;
        device.inBatch = lane->standing == Standing::In;
        device.status = device.inBatch ? lane->waitText : lane->leftReason;
        devices.append(device);
    }
    return devices;
}

SendPlan::Result BatchRunner::plan() const
{
    constexpr qint64 PlanAgeMs = 3000;
    if (m_planRemaining == m_progress.remaining && m_planAge.isValid()
        && m_planAge.elapsed() < PlanAgeMs)
        return m_plan;
    const QDateTime now = m_services.clock();
    QList<SendPlan::Device> devices;
    for (const auto &lane : m_lanes) {
        SendPlan::Device device;
        // A device whose history cannot be read is planned as if it had none.
        m_services.ledger.since(lane->device, now.addDays(-1), &device.recent, nullptr);
        device.lastSend = lane->lastSend(now);
        if (lane->sendsTimed > 0)
            device.secondsPerMessage = double(lane->sendMsTotal) / lane->sendsTimed / 1000.0;
        if (lane->standing == Standing::In)
            devices.append(device);
    }
    m_plan = SendPlan::estimate(m_settings, devices, m_progress.remaining, now);
    // Shares back in the order of every device, those out of the batch at 0.
    SendPlan::Result all;
    all.end = m_plan.end;
    qsizetype in = 0;
    for (const auto &lane : m_lanes) {
        const bool inBatch = lane->standing == Standing::In;
        all.shares.append(inBatch ? m_plan.shares.value(in) : 0);
        all.ends.append(inBatch ? m_plan.ends.value(in) : QDateTime());
        if (inBatch)
            ++in;
    }
    m_plan = all;
    m_planRemaining = m_progress.remaining;
    m_planAge.start();
    return m_plan;
}

void BatchRunner::start()
{
    m_after.reset();
    readCounts();
}

void BatchRunner::readCounts()
{
    BatchSummary summary;
    QString error;
    const LogResult read = m_services.log.batch(m_batch, &summary, &error);
    if (read == LogResult::Busy) {
        m_startRetry.start(PendingWrites::BusyRetryMs);
        return;
    }
    if (read != LogResult::Ok) {
        enter(Phase::Paused, error);
        return;
    }
    m_progress.sent = summary.sent();
    m_progress.failed = summary.count(RecordState::Failed);
    m_progress.unconfirmed =
        summary.count(RecordState::Unconfirmed) + summary.count(RecordState::Sending);
    m_progress.remaining = summary.count(RecordState::Waiting);
    emit progressChanged();
    resume();
}

void BatchRunner::pause()
{
    if (anyInFlight()) {
        m_after = After{Phase::Paused, QStringLiteral("已暂停。")};
        return;
    }
    if (m_phase == Phase::Running || m_phase == Phase::Waiting)
        enter(Phase::Paused, QStringLiteral("已暂停。"));
}

void BatchRunner::resume()
{
    if (m_phase == Phase::Finished || m_phase == Phase::Running || m_exiting)
        return;
    m_after.reset();
    // 继续 takes every device in again and writes what waited.
    for (auto &lane : m_lanes) {
        lane->standing = Standing::In;
        lane->leftReason.clear();
        lane->failuresInARow = 0;
        lane->rescanned = false;
        lane->cursor = 0;
        if (!lane->inFlight)
            lane->prepared = false;
    }
    m_services.writes.retryNow();
    enter(Phase::Running);
    stepAll();
}

void BatchRunner::stop()
{
    if (anyInFlight()) {
        m_after = After{Phase::Stopped, QStringLiteral("已停止。")};
        return;
    }
    if (m_phase != Phase::Finished && m_phase != Phase::Stopped)
        enter(Phase::Stopped, QStringLiteral("已停止。"));
}

void BatchRunner::stopForExit()
{
    m_exiting = true;
    for (auto &lane : m_lanes)
        lane->timer.stop();
    if (m_phase == Phase::Finished || m_phase == Phase::Idle)
        return;
    m_phase = Phase::Stopped;
    m_statusText = QStringLiteral("已停止。");
    // Written now if the file takes it; the batch is offered at the next
    // start either way, as it still has recipients waiting.
    m_services.log.setStatus(m_batch, BatchStatus::Stopped, nullptr);
    emit phaseChanged();
}

void BatchRunner::stepAll()
{
    for (auto &lane : m_lanes)
        schedule(*lane, 0);
}

void BatchRunner::schedule(Lane &lane, qint64 ms)
{
    if (m_exiting)
        return;
    lane.timer.start(int(std::clamp<qint64>(ms, 0, LongestWaitMs)));
}

void BatchRunner::step(Lane &lane)
{
    if ((m_phase != Phase::Running && m_phase != Phase::Waiting) || lane.inFlight
        || lane.standing != Standing::In || m_after || m_exiting)
        return;
    if (!lane.channel->isPresent()) {
        leave(lane, Standing::Gone, lane.channel->absence());
        return;
    }
    if (!lane.prepared) {
        prepare(lane);
        return;
    }
    // What the log has not taken yet (an outcome, an opt-out) comes first.
    if (!m_services.writes.isEmpty())
        return;
    if (m_progress.remaining <= 0) {
        finishIfDone();
        if (m_phase == Phase::Finished)
            return;
    }
    const QDateTime now = m_services.clock();
    SendPacer::Decision decision;
    QString error;
    if (const LogResult read = lane.pacer.next(now, lane.lastSend(now), &decision, &error);
        read != LogResult::Ok) {
        readFailed(lane, read, QStringLiteral("无法读出已发条数（每小时、每天上限）：%1").arg(error));
        return;
    }
    lane.reachedDayCap = decision.reason == SendPacer::Reason::DayCap;
    if (decision.notBefore > now) {
        lane.waitText = decision.describe();
        schedule(lane, now.msecsTo(decision.notBefore));
        showWaiting();
        return;
    }
    lane.waitText.clear();
    takeNext(lane, now);
}

void BatchRunner::prepare(Lane &lane)
{
    if (lane.preparing)
        return;
    lane.preparing = true;
    lane.waitText = QStringLiteral("正在准备发送设备…");
    showWaiting();
    const QPointer<BatchRunner> guard(this);
    Lane *raw = &lane;
    lane.channel->prepare([guard, raw](bool ok, const QString &error) {
        if (!guard)
            return;
        raw->preparing = false;
        raw->waitText.clear();
        if (!ok) {
            guard->leave(*raw, Standing::Refused, error);
            return;
        }
        raw->prepared = true;
        guard->schedule(*raw, 0);
    });
}

bool BatchRunner::takeNext(Lane &lane, const QDateTime &now)
{
    SendRecord record;
    bool found = false;
    QString error;
    LogResult read =
        m_services.log.nextWaiting(m_batch, lane.cursor, lane.device, keptBy(), &record, &found, &error);
    if (read != LogResult::Ok) {
        readFailed(lane, read, error);
        return false;
    }
    if (!found) {
        if (lane.cursor > 0 && !lane.rescanned) {
            // Recipients passed over for another device may be free by now.
            lane.cursor = 0;
            lane.rescanned = true;
            schedule(lane, 0);
            return false;
        }
        finishIfDone();
        // Others hold what is left: look again later.
        if (m_phase == Phase::Running || m_phase == Phase::Waiting)
            schedule(lane, LongestWaitMs);
        return false;
    }
    lane.rescanned = false;
    bool optedOut = m_services.optOutPending && m_services.optOutPending(record.mobile);
    if (!optedOut) {
        read = m_services.optOuts.contains(record.mobile, &optedOut, &error);
        if (read != LogResult::Ok) {
            readFailed(lane, read, QStringLiteral("无法确认号码是否在退订名单上：%1").arg(error));
            return false;
        }
    }
    if (optedOut) {
        // Refused further messages after the batch was made (a reply).
        lane.cursor = record.id;
        record.state = RecordState::Failed;
        record.note = QStringLiteral("已在退订名单上，没有发送");
        record.time = LogTime::text(now);
        BatchLog &log = m_services.log;
        m_services.writes.add([&log, record](QString *writeError) {
            return log.markOutcome(record, writeError);
        },
                              [this, guard = QPointer<BatchRunner>(this)] {
                                  if (guard)
                                      recordWritten(nullptr, RecordState::Failed);
                              });
        return false;
    }
    bool taken = false;
    read = m_services.log.markSending(record.id, lane.device, now, &taken, &error);
    if (read != LogResult::Ok) {
        readFailed(lane, read, error);
        return false;
    }
    lane.cursor = record.id;
    if (!taken) {
        schedule(lane, 0); // no longer waiting: the next one
        return false;
    }
    send(lane, record);
    return true;
}

void BatchRunner::send(Lane &lane, const SendRecord &record)
{
    lane.inFlight = true;
    lane.sinceSend.start();
    lane.lastSendAt = m_services.clock();
    if (m_phase != Phase::Running)
        enter(Phase::Running);
    const QPointer<BatchRunner> guard(this);
    Lane *raw = &lane;
    BatchLog &log = m_services.log;
    PendingWrites &writes = m_services.writes;
    const qint64 id = record.id;
    lane.channel->send(
        record.mobile, record.text,
        [this, &log, &writes, id](const QString &smsPath) {
            // Written while the modem sends (the send is asked for first):
            // a program stopped before it went in leaves the message 未确认.
            QTimer::singleShot(0, this, [&log, &writes, id, smsPath] {
                writes.add([&log, id, smsPath](QString *error) {
                    return log.notePath(id, smsPath, error);
                });
            });
        },
        [guard, raw, record](const SendResult &result) {
            if (guard)
                guard->onResult(*raw, record, result);
        });
}

void BatchRunner::onResult(Lane &lane, SendRecord record, const SendResult &result)
{
    if (m_exiting)
        return; // left 发送中: the next start settles it from the device
    lane.inFlight = false;
    lane.sendMsTotal += lane.sinceSend.elapsed();
    ++lane.sendsTimed;
    record.state = result.state;
    record.note = result.note;
    record.smsPath = result.smsPath;
    record.reference = result.reference;
    record.time = LogTime::text(m_services.clock());
    ++(result.state == RecordState::Failed ? lane.failed : lane.sent);
    if (result.state == RecordState::Failed) {
        ++lane.failuresInARow;
        lane.lastFailure = result.note;
    } else {
        lane.failuresInARow = 0;
    }
    BatchLog &log = m_services.log;
    Lane *raw = &lane;
    m_services.writes.add([&log, record](QString *error) { return log.markOutcome(record, error); },
                          [this, guard = QPointer<BatchRunner>(this), raw, state = record.state] {
                              if (guard)
                                  recordWritten(raw, state);
                          });
    const bool noneIn = std::none_of(m_lanes.cbegin(), m_lanes.cend(), [](const auto &each) {
        return each->standing == Standing::In;
    });
    if (m_after && !anyInFlight()) {
        const After after = *m_after;
        m_after.reset();
        enter(after.phase, after.text);
    } else if (noneIn && !anyInFlight()) {
        noLaneLeft();
    } else if (m_services.writes.isFailing() && !anyInFlight()) {
        enter(Phase::Paused, pausedBecause(QStringLiteral("%1；写入之前不会再发")
                                               .arg(m_services.writes.problem())));
    }
}

void BatchRunner::recordWritten(Lane *lane, RecordState state)
{
    --m_progress.remaining;
    if (state == RecordState::Failed)
        ++m_progress.failed;
    else if (state == RecordState::Unconfirmed)
        ++m_progress.unconfirmed;
    else
        ++m_progress.sent;
    emit progressChanged();
    if (lane && lane->failuresInARow >= FailuresInARowToLeave && lane->standing == Standing::In) {
        leave(*lane, Standing::Failing,
              QStringLiteral("连续 %1 条发送失败（%2）").arg(lane->failuresInARow).arg(lane->lastFailure));
        return;
    }
    if (lane)
        schedule(*lane, 0);
    else
        stepAll();
}

void BatchRunner::leave(Lane &lane, Standing standing, const QString &reason)
{
    lane.standing = standing;
    lane.leftReason = reason;
    lane.prepared = false;
    lane.timer.stop();
    emit progressChanged();
    if (std::none_of(m_lanes.cbegin(), m_lanes.cend(),
                     [](const auto &each) { return each->standing == Standing::In; })) {
        noLaneLeft();
        return;
    }
    // What it kept for itself goes to the others.
    stepAll();
}

void BatchRunner::noLaneLeft()
{
    if (anyInFlight())
        return; // decided once the last message in flight is back
    QStringList reasons;
    for (const auto &lane : m_lanes) {
        const QString reason = m_lanes.size() > 1
                                   ? QStringLiteral("%1：%2").arg(lane->channel->label(), lane->leftReason)
                                   : lane->leftReason;
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
    enter(Phase::Paused, pausedBecause(reasons.join(QStringLiteral("；"))));
    m_pausedForGone = std::all_of(m_lanes.cbegin(), m_lanes.cend(), [](const auto &lane) {
        return lane->standing == Standing::Gone;
    });
}

void BatchRunner::availabilityChanged(Lane &lane)
{
    if (m_phase == Phase::Paused && m_pausedForGone && lane.channel->isPresent()) {
        // Every device had gone, none failed: the batch goes on by itself.
        resume();
        return;
    }
    if (m_phase != Phase::Running && m_phase != Phase::Waiting)
        return;
    if (lane.channel->isPresent()) {
        if (lane.standing == Standing::Gone) {
            // Back (perhaps under another path): it joins again.
            lane.standing = Standing::In;
            lane.leftReason.clear();
            lane.prepared = false;
            schedule(lane, 0);
            emit progressChanged();
        }
    } else if (!lane.inFlight && lane.standing == Standing::In) {
        leave(lane, Standing::Gone, lane.channel->absence());
    }
}

void BatchRunner::finishIfDone()
{
    if (anyInFlight() || !m_services.writes.isEmpty())
        return;
    int waiting = 0;
    QString error;
    if (m_services.log.waitingCount(m_batch, &waiting, &error) != LogResult::Ok || waiting > 0) {
        if (waiting > 0 && waiting != m_progress.remaining) {
            m_progress.remaining = waiting;
            emit progressChanged();
        }
        return;
    }
    m_progress.remaining = 0;
    emit progressChanged();
    enter(Phase::Finished, QStringLiteral("发送完毕。"));
}

void BatchRunner::readFailed(Lane &lane, LogResult result, const QString &error)
{
    if (result == LogResult::Busy) {
        lane.waitText = QStringLiteral("数据库正忙，稍后继续…");
        schedule(lane, PendingWrites::BusyRetryMs);
        showWaiting();
        return;
    }
    if (anyInFlight())
        m_after = After{Phase::Paused, pausedBecause(error)};
    else
        enter(Phase::Paused, pausedBecause(error));
}

QStringList BatchRunner::keptBy() const
{
    QStringList devices;
    if (m_lanes.size() < 2)
        return devices;
    for (const auto &lane : m_lanes) {
        if (lane->standing == Standing::In && !lane->reachedDayCap)
            devices.append(lane->device);
    }
    return devices;
}

void BatchRunner::showWritesWaiting()
{
    if (anyInFlight() || m_services.writes.problem().isEmpty())
        return;
    const QString text = QStringLiteral("%1，写入发送记录后继续…").arg(m_services.writes.problem());
    if (m_phase != Phase::Waiting || m_statusText != text)
        enter(Phase::Waiting, text);
}

void BatchRunner::showWaiting()
{
    if (m_phase != Phase::Running && m_phase != Phase::Waiting)
        return;
    if (anyInFlight()) {
        if (m_phase != Phase::Running || !m_statusText.isEmpty())
            enter(Phase::Running);
        return;
    }
    // The batch waits once no device may send: it says so for the one that
    // may send soonest.
    const Lane *soonest = nullptr;
    for (const auto &lane : m_lanes) {
        if (lane->standing != Standing::In)
            continue;
        if (lane->waitText.isEmpty() || !lane->timer.isActive())
            return; // about to act
        if (!soonest || lane->timer.remainingTime() < soonest->timer.remainingTime())
            soonest = lane.get();
    }
    if (soonest && (m_phase != Phase::Waiting || m_statusText != soonest->waitText))
        enter(Phase::Waiting, soonest->waitText);
}

void BatchRunner::enter(Phase phase, const QString &statusText)
{
    m_phase = phase;
    m_pausedForGone = false;
    m_statusText = statusText;
    if (phase != Phase::Running && phase != Phase::Waiting) {
        // Nobody waits for a turn any more: no card is shown waiting.
        for (auto &lane : m_lanes) {
            lane->timer.stop();
            lane->waitText.clear();
        }
    }
    switch (phase) {
    case Phase::Running:
        writeStatus(BatchStatus::Running);
        break;
    case Phase::Paused:
        writeStatus(BatchStatus::Paused);
        break;
    case Phase::Stopped:
        writeStatus(BatchStatus::Stopped);
        break;
    case Phase::Finished:
        writeStatus(BatchStatus::Finished);
        break;
    case Phase::Idle:
    case Phase::Waiting:
        break;
    }
    emit phaseChanged();
}

void BatchRunner::writeStatus(BatchStatus status)
{
    if (m_writtenStatus == status)
        return;
    m_writtenStatus = status;
    BatchLog &log = m_services.log;
    m_services.writes.add(
        [&log, batch = m_batch, status](QString *error) { return log.setStatus(batch, status, error); });
}
