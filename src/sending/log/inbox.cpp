#include "sending/log/inbox.h"

#include "sending/sendrecord.h"
#include "storage/statement.h"

Inbox::Inbox(Database &database)
    : m_db(database)
{
}

LogResult Inbox::add(const QString &device, const QString &mobile, const QString &text,
                     const QString &stamp, const QDateTime &time, const QString &smsPath,
                     bool *added, QString *error)
{
    *added = false;
    return m_db.write(
        [&](sqlite3 *db) {
            // Without a stamp the same text from the same number at the same
            // place on the device is the same message read again.
            Statement insert(
                db, "INSERT INTO [收到的短信] ([手机号], [内容], [时间], [短信路径], [短信时间], [设备]) "
                    "SELECT ?1, ?2, ?3, ?4, ?5, ?6 WHERE NOT EXISTS (SELECT 1 FROM [收到的短信] "
                    "WHERE [手机号] = ?1 AND [内容] = ?2 AND ifnull([短信时间], '') = ?5 "
                    "AND ifnull([设备], '') = ?6 AND (?5 <> '' OR ifnull([短信路径], '') = ?4))");
            insert.bind(1, mobile);
            insert.bind(2, text);
            insert.bind(3, LogTime::text(time));
            insert.bind(4, smsPath);
            insert.bind(5, stamp);
            insert.bind(6, device);
            const int code = insert.step();
            *added = code == SQLITE_DONE && sqlite3_changes(db) == 1;
            return code;
        },
        LogDatabase::Scope::Statement, error);
}

LogResult Inbox::messages(QList<ReceivedMessage> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, "SELECT m.[手机号], (SELECT c.[姓名] FROM [通讯录] c "
                                 "WHERE c.[手机号] = m.[手机号] ORDER BY c.rowid LIMIT 1), m.[内容], "
                                 "m.[时间], ifnull((SELECT d.[名称] FROM [发送设备] d "
                                 "WHERE d.[设备] = m.[设备]), ifnull(m.[设备], '')) "
                                 "FROM [收到的短信] m ORDER BY m.[编号] DESC");
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append({select.text(0), select.text(1), select.text(2), select.text(3),
                             select.text(4)});
            return code;
        },
        error);
}

LogResult Inbox::newestPhoneStamp(qint64 *out, QString *error) const
{
    *out = 0;
    return m_db.read(
        [&](sqlite3 *db) {
            // A phone's stamps are all digits; a modem's are dates.
            Statement select(db, "SELECT ifnull(max(CAST([短信时间] AS INTEGER)), 0) "
                                 "FROM [收到的短信] WHERE [短信时间] <> '' "
                                 "AND [短信时间] NOT GLOB '*[^0-9]*'");
            const int code = select.step();
            if (code == SQLITE_ROW)
                *out = select.int64(0);
            return code;
        },
        error);
}
