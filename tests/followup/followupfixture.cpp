#include "followupfixture.h"

#include "storage/migrations.h"
#include "storage/statement.h"
#include "storage/template/databasetemplate.h"

bool FollowUpFixture::open(QString *error)
{
    const QString path = m_dir.filePath(QStringLiteral("通讯录.dat"));
    if (DatabaseTemplate::ensureDatabaseFile(path, error) == DatabaseTemplate::EnsureResult::Failed)
        return false;
    if (m_database.open(path, Database::Access::ReadWrite, error) != Database::OpenResult::Ok)
        return false;
    if (!Migrations::upgrade(m_database.handle(), error))
        return false;
    m_contacts = std::make_unique<ContactStore>(m_database);
    m_store = std::make_unique<FollowUpStore>(m_database);
    return true;
}

FollowUpRecord FollowUpFixture::parse(const QString &line)
{
    const QStringList parts = line.split(u'|');
    FollowUpRecord record;
    record.mobile = parts.value(0);
    record.time = parts.value(1);
    record.method = parts.value(2);
    record.result = parts.value(3);
    record.nextDate = parts.value(4);
    record.content = QStringLiteral("内容 ") + line;
    return record;
}

bool FollowUpFixture::add(const QString &line, QString *error)
{
    FollowUpRecord record = parse(line);
    return m_store->add(&record, error) == StoreResult::Ok;
}

bool FollowUpFixture::addSentMessage(const QString &mobile, const QString &text,
                                     const QString &state, const QString &time,
                                     const QString &batchTime)
{
    Statement batch(m_database.handle(),
                    "INSERT INTO [发送批次] ([时间], [发送方式], [短信内容]) VALUES (?, '手机', ?)");
    batch.bind(1, batchTime);
    batch.bind(2, text);
    if (batch.step() != SQLITE_DONE)
        return false;
    Statement sent(m_database.handle(),
                   "INSERT INTO [发送记录] ([批次], [手机号], [发送内容], [状态], [时间]) "
                   "VALUES (?, ?, ?, ?, NULLIF(?, ''))");
    sent.bind(1, sqlite3_last_insert_rowid(m_database.handle()));
    sent.bind(2, mobile);
    sent.bind(3, text);
    sent.bind(4, state);
    sent.bind(5, time);
    return sent.step() == SQLITE_DONE;
}

bool FollowUpFixture::addContact(const QString &group, const QString &mobile, const QString &name)
{
    if (!m_contacts->groupExists(group) && m_contacts->addGroup(group) != StoreResult::Ok)
        return false;
    Contact contact(mobile, name, QStringLiteral("先生"), QString());
    return m_contacts->addContact(group, &contact) == StoreResult::Ok;
}
