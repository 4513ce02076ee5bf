#include "sending/log/sendledger.h"

#include "sending/sendrecord.h"
#include "storage/statement.h"

SendLedger::SendLedger(Database &database)
    : m_db(database)
{
}

LogResult SendLedger::nthNewest(const QString &device, int n, QDateTime *out,
                                QString *error) const
{
    *out = QDateTime();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT [时间] FROM [发出的短信] WHERE [设备] = ?1 "
                                 "ORDER BY [时间] DESC LIMIT 1 OFFSET ?2");
            select.bind(1, device);
            select.bind(2, qint64(n - 1));
            const int code = select.step();
            if (code == SQLITE_ROW)
                *out = LogTime::parse(select.text(0));
            return code;
        },
        error);
}

LogResult SendLedger::since(const QString &device, const QDateTime &from, QList<QDateTime> *out,
                            QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT [时间] FROM [发出的短信] WHERE [设备] = ?1 AND [时间] >= ?2 "
                                 "ORDER BY [时间]");
            select.bind(1, device);
            select.bind(2, LogTime::text(from));
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append(LogTime::parse(select.text(0)));
            return code;
        },
        error);
}

LogResult SendLedger::prune(const QDateTime &before, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            Statement remove(db, "DELETE FROM [发出的短信] WHERE [时间] < ?1");
            remove.bind(1, LogTime::text(before));
            return remove.step();
        },
        LogDatabase::Scope::Statement, error);
}
