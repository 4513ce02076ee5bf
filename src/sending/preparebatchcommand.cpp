#include "sending/preparebatchcommand.h"

#include "storage/database.h"

PrepareBatchCommand::PrepareBatchCommand(QString databasePath, BatchSettings settings,
                                         QList<BatchRecipient> recipients, QDateTime now,
                                         QDateTime scheduledAt, QObject *parent)
    : Command(parent)
    , m_databasePath(std::move(databasePath))
    , m_settings(std::move(settings))
    , m_recipients(std::move(recipients))
    , m_now(std::move(now))
    , m_scheduledAt(std::move(scheduledAt))
{
}

QString PrepareBatchCommand::title() const
{
    return QStringLiteral("开始发送");
}

QString PrepareBatchCommand::text() const
{
    return QStringLiteral("正在把 %1 位收信人写入发送记录…").arg(m_recipients.size());
}

bool PrepareBatchCommand::run(WorkProgress &progress, QString *error)
{
    Database database;
    if (database.open(m_databasePath, Database::Access::ReadWrite, error)
        != Database::OpenResult::Ok)
        return false;
    qint64 batch = 0;
    const LogResult written = BatchLog::prepare(database, m_settings, m_recipients, m_now,
                                                m_scheduledAt, progress, &batch, error);
    database.close();
    m_busy = written == LogResult::Busy;
    if (written != LogResult::Ok)
        return false;
    m_batch = batch;
    return true;
}
