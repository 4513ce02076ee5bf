#include "sendingfixture.h"

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
    m_log = std::make_unique<SendLog>(m_database);
    return true;
}

QString SendLogFile::path() const
{
    return m_folder.filePath(QStringLiteral("通讯录.dat"));
}

QStringList SendLogFile::states(qint64 batch)
{
    QList<SendRecord> records;
    m_log->records(batch, &records, nullptr);
    QStringList states;
    for (const SendRecord &record : std::as_const(records))
        states.append(RecordStates::text(record.state));
    return states;
}

QStringList SendLogFile::notes(qint64 batch)
{
    QList<SendRecord> records;
    m_log->records(batch, &records, nullptr);
    QStringList notes;
    for (const SendRecord &record : std::as_const(records))
        notes.append(record.note);
    return notes;
}

QList<BatchRecipient> recipientsFor(const QStringList &mobiles, const QString &text)
{
    QList<BatchRecipient> recipients;
    for (const QString &mobile : mobiles)
        recipients.append({mobile, QString(), text + u' ' + mobile});
    return recipients;
}
