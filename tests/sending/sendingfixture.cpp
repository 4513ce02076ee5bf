#include "sendingfixture.h"

#include "core/workprogress.h"
#include "storage/migrations.h"
#include "storage/template/databasetemplate.h"

bool SendLogFile::open(QString *error)
{
    if (!m_folder.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    if (DatabaseTemplate::ensureDatabaseFile(path(), error)
            == DatabaseTemplate::EnsureResult::Failed
        || m_database.open(path(), Database::Access::ReadWrite, error) != Database::OpenResult::Ok
        || !Migrations::upgrade(m_database.handle(), error))
        return false;
    m_log = std::make_unique<BatchLog>(m_database);
    m_optOuts = std::make_unique<OptOutList>(m_database);
    m_ledger = std::make_unique<SendLedger>(m_database);
    m_inbox = std::make_unique<Inbox>(m_database);
    return true;
}

QString SendLogFile::path() const
{
    return m_folder.filePath(QStringLiteral("通讯录.dat"));
}

qint64 SendLogFile::addBatch(const BatchSettings &settings, const QList<BatchRecipient> &recipients,
                             const QDateTime &now, const QDateTime &scheduledAt)
{
    WorkProgress progress;
    qint64 batch = 0;
    QString error;
    if (BatchLog::prepare(m_database, settings, recipients, now, scheduledAt, progress, &batch,
                          &error)
        != LogResult::Ok)
        qWarning("batch not written: %s", qPrintable(error));
    return batch;
}

bool SendLogFile::execute(const char *sql)
{
    QString error;
    const bool done = m_database.execute(sql, &error);
    if (!done)
        qWarning("%s: %s", sql, qPrintable(error));
    return done;
}

namespace {

QStringList column(BatchLog &log, qint64 batch, const std::function<QString(const SendRecord &)> &part)
{
    QList<SendRecord> records;
    log.records(batch, {}, &records, nullptr);
    QStringList values;
    for (const SendRecord &record : std::as_const(records))
        values.append(part(record));
    return values;
}

} // namespace

QStringList SendLogFile::states(qint64 batch)
{
    return column(*m_log, batch, [](const SendRecord &r) { return RecordStates::text(r.state); });
}

QStringList SendLogFile::notes(qint64 batch)
{
    return column(*m_log, batch, [](const SendRecord &r) { return r.note; });
}

QStringList SendLogFile::devices(qint64 batch)
{
    return column(*m_log, batch, [](const SendRecord &r) { return r.device; });
}

QList<BatchRecipient> recipientsFor(const QStringList &mobiles, const QString &text)
{
    QList<BatchRecipient> recipients;
    for (const QString &mobile : mobiles)
        recipients.append({mobile, QString(), text + u' ' + mobile});
    return recipients;
}

QStringList mobiles(int count, qint64 first)
{
    QStringList numbers;
    for (int i = 0; i < count; ++i)
        numbers.append(QString::number(first + i));
    return numbers;
}
