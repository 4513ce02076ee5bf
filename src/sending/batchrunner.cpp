#include "sending/batchrunner.h"

#include <cmath>

namespace {

constexpr int BusyRetryMs = 500;
// A long wait is checked again now and then: the clock may jump, the caps
// may loosen.
constexpr qint64 LongestWaitMs = 60'000;

QString goneText()
{
    return QStringLiteral("发送设备已经不在了（短信猫拔出、ModemManager 停止或手机断开），发送已暂停。");
}

} // namespace

BatchRunner::BatchRunner(SendLog &log, qint64 batch, const BatchSettings &settings,
                         SendChannel *channel, Clock clock, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_batch(batch)
    , m_settings(settings)
    , m_channel(channel)
    , m_clock(std::move(clock))
    , m_pacer(settings, [&log, deviceId = settings.deviceId](int n) {
        return log.nthNewestSend(deviceId, n, nullptr);
    })
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_unwritten)
            writeOutcome();
        else
            step();
    });
    if (channel) {
        connect(channel, &SendChannel::gone, this, [this] {
            if (m_inFlight)
                m_after = After{Phase::Paused, goneText()};
            else if (m_phase == Phase::Running || m_phase == Phase::Waiting)
                enter(Phase::Paused, goneText());
        });
    }
}

qint64 BatchRunner::secondsLeft() const
{
    if (m_progress.remaining == 0)
        return 0;
    double perMessage = m_settings.intervalSeconds;
    if (m_sendsTimed > 0)
        perMessage = std::max(perMessage, double(m_sendMsTotal) / m_sendsTimed / 1000.0);
    if (m_settings.perHour > 0)
        perMessage = std::max(perMessage, 3600.0 / m_settings.perHour);
    if (m_settings.perDay > 0)
        perMessage = std::max(perMessage, 86400.0 / m_settings.perDay);
    if (perMessage <= 0 && m_sendsTimed == 0)
        return -1;
    return std::llround(perMessage * m_progress.remaining);
}

void BatchRunner::start()
{
    BatchSummary summary;
    QString error;
    if (!m_log.batch(m_batch, &summary, &error)) {
        enter(Phase::Paused, error);
        return;
    }
    m_progress.sent = summary.count(RecordState::Sent) + summary.count(RecordState::Delivered)
                      + summary.count(RecordState::DeliveryFailed)
                      + summary.count(RecordState::HandedToPhone);
    m_progress.failed = summary.count(RecordState::Failed);
    m_progress.unconfirmed =
        summary.count(RecordState::Unconfirmed) + summary.count(RecordState::Sending);
    m_progress.remaining = summary.count(RecordState::Waiting);
    m_cursor = 0;
    emit progressChanged();
    resume();
}

void BatchRunner::pause()
{
    if (m_inFlight) {
        m_after = After{Phase::Paused, QStringLiteral("已暂停。")};
        return;
    }
    if (m_phase == Phase::Running || m_phase == Phase::Waiting)
        enter(Phase::Paused, QStringLiteral("已暂停。"));
}

void BatchRunner::resume()
{
    if (m_phase == Phase::Finished || m_phase == Phase::Running)
        return;
    m_after.reset();
    m_failuresInARow = 0;
    enter(Phase::Running);
    scheduleStep(0);
}

void BatchRunner::stop()
{
    if (m_inFlight) {
        m_after = After{Phase::Stopped, QStringLiteral("已停止。")};
        return;
    }
    if (m_phase != Phase::Finished && m_phase != Phase::Stopped)
        enter(Phase::Stopped, QStringLiteral("已停止。"));
}

void BatchRunner::enter(Phase phase, const QString &statusText)
{
    m_phase = phase;
    m_statusText = statusText;
    if (phase != Phase::Running && phase != Phase::Waiting)
        m_timer.stop();
    switch (phase) {
    case Phase::Running:
        writeBatchStatus(SendLog::running());
        break;
    case Phase::Paused:
        writeBatchStatus(SendLog::paused());
        break;
    case Phase::Stopped:
        writeBatchStatus(SendLog::stopped());
        break;
    case Phase::Finished:
        writeBatchStatus(SendLog::finished());
        break;
    case Phase::Idle:
    case Phase::Waiting:
        break;
    }
    emit phaseChanged();
}

void BatchRunner::writeBatchStatus(const QString &status)
{
    if (status == m_writtenStatus)
        return;
    m_writtenStatus = status;
    // The batch's status only steers the offer at the next start; a busy
    // file is tried once more a little later.
    if (m_log.setBatchStatus(m_batch, status, nullptr) == LogWrite::Busy) {
        QTimer::singleShot(BusyRetryMs, this, [this, status] {
            if (status == m_writtenStatus) // not overtaken by a newer one
                m_log.setBatchStatus(m_batch, status, nullptr);
        });
    }
}

void BatchRunner::scheduleStep(qint64 ms)
{
    m_timer.start(int(std::min(ms, LongestWaitMs)));
}

void BatchRunner::step()
{
    if ((m_phase != Phase::Running && m_phase != Phase::Waiting) || m_inFlight)
        return;
    if (!m_channel || !m_channel->isPresent()) {
        enter(Phase::Paused, goneText());
        return;
    }
    const QDateTime now = m_clock();
    const SendPacer::Decision decision = m_pacer.next(now);
    if (decision.notBefore > now) {
        const QString text = decision.describe();
        if (m_phase != Phase::Waiting || m_statusText != text)
            enter(Phase::Waiting, text);
        scheduleStep(now.msecsTo(decision.notBefore));
        return;
    }
    SendRecord record;
    bool found = false;
    QString error;
    if (!m_log.nextWaiting(m_batch, m_cursor, &record, &found, &error)) {
        enter(Phase::Paused, error);
        return;
    }
    if (!found) {
        m_progress.remaining = 0;
        emit progressChanged();
        enter(Phase::Finished, QStringLiteral("发送完毕。"));
        return;
    }
    if (m_log.isOptedOut(record.mobile)) {
        // Refused further messages after the batch was made (a reply).
        SendRecord skipped = record;
        skipped.state = RecordState::Failed;
        skipped.note = QStringLiteral("已在退订名单上，没有发送");
        skipped.time = LogTime::text(now);
        m_cursor = record.id;
        m_inFlight = true;
        m_unwritten = skipped;
        writeOutcome();
        return;
    }
    switch (m_log.markSending(record.id, now, &error)) {
    case LogWrite::Busy:
        if (m_phase != Phase::Running)
            enter(Phase::Running);
        scheduleStep(BusyRetryMs);
        return;
    case LogWrite::Failed:
        enter(Phase::Paused, error);
        return;
    case LogWrite::Written:
        break;
    }
    if (m_phase != Phase::Running)
        enter(Phase::Running);
    sendRecord(record);
}

void BatchRunner::sendRecord(const SendRecord &record)
{
    m_cursor = record.id;
    m_inFlight = true;
    m_sendStarted = m_clock();
    const qint64 id = record.id;
    m_channel->send(
        record.mobile, record.text,
        [this, id](const QString &smsPath) { m_log.notePath(id, smsPath, nullptr); },
        [this, record, guard = QPointer<BatchRunner>(this)](const SendResult &result) {
            if (!guard)
                return;
            SendRecord written = record;
            written.state = result.state;
            written.note = result.note;
            written.smsPath = result.smsPath;
            written.reference = result.reference;
            written.time = LogTime::text(m_clock());
            m_unwritten = written;
            onResult(result);
        });
}

void BatchRunner::onResult(const SendResult &result)
{
    m_sendMsTotal += std::max<qint64>(0, m_sendStarted.msecsTo(m_clock()));
    ++m_sendsTimed;
    if (result.state == RecordState::Failed) {
        ++m_failuresInARow;
        m_lastFailure = result.note;
    } else {
        m_failuresInARow = 0;
    }
    writeOutcome();
}

void BatchRunner::writeOutcome()
{
    QString error;
    switch (m_log.markOutcome(*m_unwritten, &error)) {
    case LogWrite::Busy:
        m_timer.start(BusyRetryMs);
        return;
    case LogWrite::Failed:
        // Kept in memory and written again on 继续; nothing else leaves.
        m_inFlight = false;
        enter(Phase::Paused, error);
        return;
    case LogWrite::Written:
        outcomeWritten();
        return;
    }
}

void BatchRunner::outcomeWritten()
{
    const RecordState state = m_unwritten->state;
    m_unwritten.reset();
    m_inFlight = false;
    --m_progress.remaining;
    if (state == RecordState::Failed)
        ++m_progress.failed;
    else
        ++m_progress.sent;
    emit progressChanged();

    if (m_after) {
        const After after = *m_after;
        m_after.reset();
        enter(after.phase, after.text);
        return;
    }
    if (m_failuresInARow >= FailuresInARowToPause) {
        enter(Phase::Paused, QStringLiteral("连续 %1 条发送失败（%2），发送已暂停。")
                                 .arg(m_failuresInARow)
                                 .arg(m_lastFailure));
        return;
    }
    scheduleStep(0);
}
