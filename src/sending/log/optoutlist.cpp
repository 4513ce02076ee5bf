#include "sending/log/optoutlist.h"

#include "sending/sendrecord.h"
#include "storage/statement.h"

OptOutList::OptOutList(Database &database)
    : m_db(database)
{
}

LogResult OptOutList::add(const QStringList &mobiles, const QString &source,
                          const QDateTime &time, int *added, QString *error)
{
    int count = 0;
    const LogResult written = m_db.write(
        [&](sqlite3 *db) {
            Statement insert(db, "INSERT OR IGNORE INTO [退订名单] ([手机号], [时间], [来源]) "
                                 "VALUES (?1, ?2, ?3)");
            for (const QString &mobile : mobiles) {
                insert.reset();
                insert.bind(1, mobile);
                insert.bind(2, LogTime::text(time));
                insert.bind(3, source);
                if (const int code = insert.step(); code != SQLITE_DONE)
                    return code;
                count += sqlite3_changes(db);
            }
            return SQLITE_DONE;
        },
        LogDatabase::Scope::Transaction, error);
    if (written == LogResult::Ok && added)
        *added = count;
    return written;
}

LogResult OptOutList::remove(const QStringList &mobiles, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            Statement remove(db, "DELETE FROM [退订名单] WHERE [手机号] = ?1");
            for (const QString &mobile : mobiles) {
                remove.reset();
                remove.bind(1, mobile);
                if (const int code = remove.step(); code != SQLITE_DONE)
                    return code;
            }
            return SQLITE_DONE;
        },
        LogDatabase::Scope::Transaction, error);
}

LogResult OptOutList::entries(QList<OptOut> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT [手机号], [时间], [来源] FROM [退订名单] "
                                 "ORDER BY [时间] DESC, rowid DESC");
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append({select.text(0), select.text(1), select.text(2)});
            return code;
        },
        error);
}

LogResult OptOutList::numbers(QSet<QString> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT [手机号] FROM [退订名单]");
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->insert(select.text(0));
            return code;
        },
        error);
}

LogResult OptOutList::contains(const QString &mobile, bool *optedOut, QString *error) const
{
    *optedOut = true; // until the list said otherwise
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT 1 FROM [退订名单] WHERE [手机号] = ?1");
            select.bind(1, mobile);
            const int code = select.step();
            if (code == SQLITE_ROW || code == SQLITE_DONE)
                *optedOut = code == SQLITE_ROW;
            return code;
        },
        error);
}
