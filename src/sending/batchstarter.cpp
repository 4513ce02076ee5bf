#include "sending/batchstarter.h"

#include "commands/commandqueue.h"
#include "sending/preparebatchcommand.h"
#include "sending/sendingservice.h"

struct BatchStarter::Pending
{
    BatchSettings settings;
    QList<BatchRecipient> recipients;
    QDateTime scheduledAt;
    Done done;
    std::shared_ptr<PrepareBatchCommand> command; // the one under way
};

BatchStarter::BatchStarter(SendingService &service, CommandQueue &commands, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_commands(commands)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &BatchStarter::tryWrite);
}

BatchStarter::~BatchStarter()
{
    if (m_pending && m_pending->command)
        m_pending->command->cancel();
}

void BatchStarter::startNew(const BatchSettings &settings, const QList<BatchRecipient> &recipients,
                            const QDateTime &scheduledAt, Done done)
{
    if (m_pending) {
        done({0, nullptr, false, QStringLiteral("另一批短信正在写入发送记录，请稍候。")});
        return;
    }
    m_pending = std::make_unique<Pending>(Pending{settings, recipients, scheduledAt, std::move(done), {}});
    emit writingChanged();
    tryWrite();
}

void BatchStarter::tryWrite()
{
    Pending &pending = *m_pending;
    pending.command = std::make_shared<PrepareBatchCommand>(
        m_service.log().databasePath(), pending.settings, pending.recipients, m_service.clock()(),
        pending.scheduledAt);
    if (!m_commands.start(pending.command, [this](Command &command) { written(command); })) {
        pending.command.reset();
        m_waitText = QStringLiteral("另一项工作正在进行，稍后自动开始…");
        emit writingChanged();
        m_retry.start(PendingWrites::BusyRetryMs);
        return;
    }
    if (!m_waitText.isEmpty()) {
        m_waitText.clear();
        emit writingChanged();
    }
}

void BatchStarter::written(Command &command)
{
    if (!m_pending || m_pending->command.get() != &command)
        return;
    auto &prepared = static_cast<PrepareBatchCommand &>(command);
    const qint64 batch = prepared.batch();
    if (command.wasCancelled()) {
        // A cancel that came while the rows were committed is too late to
        // stop them: the batch is taken out again.
        if (batch > 0)
            m_service.discardBatch(batch);
        finish({0, nullptr, true, QString()});
        return;
    }
    if (!command.succeeded()) {
        if (prepared.wasBusy()) {
            m_pending->command.reset();
            m_waitText = QStringLiteral("数据库正忙，稍后自动重试…");
            emit writingChanged();
            m_retry.start(PendingWrites::BusyRetryMs);
            return;
        }
        finish({0, nullptr, false, command.error()});
        return;
    }
    if (m_pending->scheduledAt.isValid()) {
        m_service.scheduleChanged();
        finish({batch, nullptr, false, QString()});
        return;
    }
    // A device that went away meanwhile pauses the batch, which says so and
    // goes on once the device is back.
    finish({batch, m_service.run(batch), false, QString()});
}

void BatchStarter::finish(const Outcome &outcome)
{
    const Done done = std::move(m_pending->done);
    m_pending.reset();
    m_waitText.clear();
    m_retry.stop();
    emit writingChanged();
    done(outcome);
}

void BatchStarter::cancel()
{
    if (!m_pending)
        return;
    if (m_pending->command) {
        m_commands.cancel(); // written() follows and finishes
        return;
    }
    finish({0, nullptr, true, QString()});
}

void BatchStarter::continueBatch(qint64 batch, const Done &done)
{
    BatchSummary summary;
    QString error;
    if (m_service.log().batch(batch, &summary, &error) != LogResult::Ok) {
        done({0, nullptr, false, error});
        return;
    }
    if (summary.status == BatchStatus::Scheduled || summary.status == BatchStatus::Dropped) {
        // Started by hand: it no longer waits for its time or stays dropped.
        if (m_service.log().setStatus(batch, BatchStatus::Running, &error) != LogResult::Ok) {
            done({0, nullptr, false, error});
            return;
        }
    }
    BatchRunner *runner = m_service.run(batch);
    done({batch, runner, false, QString()});
}

void BatchStarter::resend(qint64 batch, bool includeUnconfirmed, Done done)
{
    BatchSummary summary;
    QList<SendRecord> records;
    QSet<QString> optOuts;
    QString error;
    QList<RecordState> states{RecordState::Failed};
    if (includeUnconfirmed)
        states.append(RecordState::Unconfirmed);
    if (m_service.log().batch(batch, &summary, &error) != LogResult::Ok
        || m_service.log().records(batch, states, &records, &error) != LogResult::Ok
        || m_service.optOuts().numbers(&optOuts, &error) != LogResult::Ok) {
        done({0, nullptr, false, error});
        return;
    }
    QList<BatchRecipient> recipients;
    for (const SendRecord &record : std::as_const(records)) {
        if (!optOuts.contains(record.mobile))
            recipients.append({record.mobile, record.name, record.text});
    }
    if (recipients.isEmpty()) {
        done({0, nullptr, false,
              records.isEmpty() ? QStringLiteral("这次发送没有需要重发的收信人。")
                                : QStringLiteral("需要重发的收信人都已在退订名单上，没有可以重发的。")});
        return;
    }
    startNew(summary.settings, recipients, QDateTime(), std::move(done));
}
