#include "sending/log/sendsettings.h"

#include "storage/statement.h"

SendSettings::SendSettings(Database &database)
    : m_db(database)
{
}

QString SendSettings::value(const QString &name, const QString &fallback) const
{
    QString found = fallback;
    m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT [值] FROM [发送设置] WHERE [名称] = ?1");
            select.bind(1, name);
            const int code = select.step();
            if (code == SQLITE_ROW)
                found = select.text(0);
            return code;
        },
        nullptr); // a choice not remembered is only a choice to make again
    return found;
}

LogResult SendSettings::setValue(const QString &name, const QString &value, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            Statement upsert(db, "INSERT OR REPLACE INTO [发送设置] ([名称], [值]) VALUES (?1, ?2)");
            upsert.bind(1, name);
            upsert.bind(2, value);
            return upsert.step();
        },
        LogDatabase::Scope::Statement, error);
}
