#include "followup/followupstore.h"

#include "core/textrules.h"
#include "storage/database.h"
#include "storage/statement.h"

namespace {

StoreResult failed(const QString &message, QString *error)
{
    if (error)
        *error = message;
    return StoreResult::Failed;
}

// A subquery: the groups that hold the number in the outer query's column,
// in stored order, joined by "、".
QByteArray groupsOf(const char *column)
{
    return QByteArray("(SELECT group_concat([组别], '、') FROM (SELECT [组别] FROM [通讯录] "
                      "WHERE [手机号] = ") + column + " ORDER BY rowid))";
}

} // namespace

FollowUpStore::FollowUpStore(Database &database)
    : m_database(database)
{
}

StoreResult FollowUpStore::write(FollowUpRecord *record, bool insert, QString *error)
{
    record->mobile = TextRules::trimBlanks(record->mobile);
    // A rewritten record may keep what the file holds, as it is.
    FollowUpRecord stored;
    if (!insert) {
        const StoreResult read = this->record(record->id, &stored, error);
        if (read != StoreResult::Ok)
            return read;
    }
    const QString problem = FollowUpRules::problem(*record, insert ? nullptr : &stored);
    if (!problem.isEmpty())
        return failed(problem, error);
    // An empty 下次回访 is stored as Null: "no date", not a date that sorts first.
    Statement statement(m_database.handle(),
                        insert ? "INSERT INTO [回访记录] ([手机号], [时间], [方式], [结果], [内容], "
                                 "[下次回访]) VALUES (?1, ?2, ?3, ?4, ?5, NULLIF(?6, ''))"
                               : "UPDATE [回访记录] SET [手机号] = ?1, [时间] = ?2, [方式] = ?3, "
                                 "[结果] = ?4, [内容] = ?5, [下次回访] = NULLIF(?6, '') "
                                 "WHERE [编号] = ?7");
    statement.bind(1, record->mobile);
    statement.bind(2, record->time);
    statement.bind(3, record->method);
    statement.bind(4, record->result);
    statement.bind(5, record->content);
    statement.bind(6, record->nextDate);
    if (!insert)
        statement.bind(7, record->id);
    if (statement.step(error) != SQLITE_DONE)
        return StoreResult::Failed;
    if (insert)
        record->id = sqlite3_last_insert_rowid(m_database.handle());
    else if (sqlite3_changes(m_database.handle()) == 0)
        return StoreResult::NotFound;
    return StoreResult::Ok;
}

StoreResult FollowUpStore::add(FollowUpRecord *record, QString *error)
{
    return write(record, true, error);
}

StoreResult FollowUpStore::update(const FollowUpRecord &record, QString *error)
{
    FollowUpRecord copy = record;
    return write(&copy, false, error);
}

StoreResult FollowUpStore::remove(qint64 id, QString *error)
{
    Statement remove(m_database.handle(), "DELETE FROM [回访记录] WHERE [编号] = ?");
    remove.bind(1, id);
    if (remove.step(error) != SQLITE_DONE)
        return StoreResult::Failed;
    return sqlite3_changes(m_database.handle()) == 0 ? StoreResult::NotFound : StoreResult::Ok;
}

StoreResult FollowUpStore::record(qint64 id, FollowUpRecord *out, QString *error)
{
    Statement select(m_database.handle(),
                     "SELECT [手机号], [时间], [方式], [结果], [内容], [下次回访] FROM [回访记录] "
                     "WHERE [编号] = ?");
    select.bind(1, id);
    const int code = select.step(error);
    if (code == SQLITE_DONE)
        return StoreResult::NotFound;
    if (code != SQLITE_ROW)
        return StoreResult::Failed;
    *out = {id,
            select.text(0),
            select.text(1),
            select.text(2),
            select.text(3),
            select.text(4),
            select.text(5)};
    return StoreResult::Ok;
}

StoreResult FollowUpStore::history(const QString &mobile, QVector<HistoryEntry> *out,
                                   QString *error)
{
    out->clear();
    // A message not sent yet has no time of its own: its batch's time stands in.
    Statement select(m_database.handle(),
                     "SELECT 0, [编号], [时间], [方式], [结果], [内容], [下次回访] "
                     "FROM [回访记录] WHERE [手机号] = ?1 "
                     "UNION ALL "
                     "SELECT 1, s.[编号], ifnull(s.[时间], b.[时间]), '短信', s.[状态], "
                     "s.[发送内容], NULL "
                     "FROM [发送记录] s LEFT JOIN [发送批次] b ON b.[编号] = s.[批次] "
                     "WHERE s.[手机号] = ?1 "
                     "ORDER BY 3 DESC, 1, 2 DESC");
    select.bind(1, TextRules::trimBlanks(mobile));
    int code;
    while ((code = select.step(error)) == SQLITE_ROW)
        out->append({select.int64(0) != 0, select.int64(1), select.text(2), select.text(3),
                     select.text(4), select.text(5), select.text(6)});
    if (code != SQLITE_DONE) {
        out->clear();
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

StoreResult FollowUpStore::dueList(QDate today, QVector<DueEntry> *out, QString *error)
{
    out->clear();
    const QByteArray sql =
        "SELECT l.[手机号], l.[下次回访], r.[时间], r.[结果], c.rowid, c.[姓名], c.[称呼], "
        "c.[备注], c.[组别], " + groupsOf("l.[手机号]") + " "
        "FROM [回访最新] l JOIN [回访记录] r ON r.[编号] = l.[编号] "
        "LEFT JOIN [通讯录] c ON c.rowid = "
        "(SELECT rowid FROM [通讯录] WHERE [手机号] = l.[手机号] ORDER BY rowid LIMIT 1) "
        "WHERE l.[下次回访] <= ?1 "
        "ORDER BY l.[下次回访], r.[时间], l.[手机号]";
    Statement select(m_database.handle(), sql.constData());
    select.bind(1, FollowUpRules::dateText(today));
    int code;
    while ((code = select.step(error)) == SQLITE_ROW)
        out->append({select.text(0), select.text(1), select.text(2), select.text(3),
                     select.int64(4), select.text(5), select.text(6), select.text(7),
                     select.text(8), select.text(9)});
    if (code != SQLITE_DONE) {
        out->clear();
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

StoreResult FollowUpStore::dueCount(QDate today, qsizetype *count, QString *error)
{
    *count = 0;
    Statement select(m_database.handle(),
                     "SELECT count(*) FROM [回访最新] WHERE [下次回访] <= ?");
    select.bind(1, FollowUpRules::dateText(today));
    if (select.step(error) != SQLITE_ROW)
        return StoreResult::Failed;
    *count = qsizetype(select.int64(0));
    return StoreResult::Ok;
}

StoreResult FollowUpStore::results(QStringList *out, QString *error)
{
    out->clear();
    Statement select(m_database.handle(), "SELECT [结果] FROM [回访结果] ORDER BY rowid");
    int code;
    while ((code = select.step(error)) == SQLITE_ROW)
        *out << select.text(0);
    if (code != SQLITE_DONE) {
        out->clear();
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

StoreResult FollowUpStore::rememberResult(const QString &result, QString *error)
{
    const QString trimmed = result.trimmed();
    if (trimmed.isEmpty())
        return StoreResult::Ok;
    Statement insert(m_database.handle(), "INSERT OR IGNORE INTO [回访结果] ([结果]) VALUES (?)");
    insert.bind(1, trimmed);
    if (insert.step(error) != SQLITE_DONE)
        return StoreResult::Failed;
    return StoreResult::Ok;
}

StoreResult FollowUpStore::forEachRecord(const std::function<bool(const ExportRow &)> &visit,
                                         QString *error)
{
    const QByteArray sql =
        "SELECT r.[编号], r.[手机号], r.[时间], r.[方式], r.[结果], r.[内容], r.[下次回访], "
        "(SELECT [姓名] FROM [通讯录] WHERE [手机号] = r.[手机号] ORDER BY rowid LIMIT 1), "
        + groupsOf("r.[手机号]")
        + " FROM [回访记录] r INDEXED BY [回访记录手机号] ORDER BY r.[手机号], r.[时间], r.[编号]";
    Statement select(m_database.handle(), sql.constData());
    ExportRow row;
    int code;
    while ((code = select.step(error)) == SQLITE_ROW) {
        row.record = {select.int64(0), select.text(1), select.text(2), select.text(3),
                      select.text(4), select.text(5), select.text(6)};
        row.name = select.text(7);
        row.groups = select.text(8);
        if (!visit(row))
            return StoreResult::Ok;
    }
    if (code != SQLITE_DONE)
        return StoreResult::Failed;
    return StoreResult::Ok;
}

StoreResult FollowUpStore::recordCount(qsizetype *count, QString *error)
{
    *count = 0;
    Statement select(m_database.handle(), "SELECT count(*) FROM [回访记录]");
    if (select.step(error) != SQLITE_ROW)
        return StoreResult::Failed;
    *count = qsizetype(select.int64(0));
    return StoreResult::Ok;
}
