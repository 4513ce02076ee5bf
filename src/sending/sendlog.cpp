#include "sending/sendlog.h"

#include "core/workprogress.h"
#include "storage/database.h"
#include "storage/statement.h"

namespace {

// The states of a message that left through the device, or may have.
constexpr const char *LeftStates =
    "('发送中', '已发送', '已送达', '送达失败', '未确认', '已交给手机')";

constexpr const char *BatchColumns =
    "[编号], [时间], [发送方式], [设备], [设备名称], [短信内容], [回T退订], [每条间隔], "
    "[每小时最多], [每天最多], [时段开始], [时段结束], [状态]";

constexpr const char *RecordColumns =
    "[编号], [批次], [手机号], [姓名], [发送内容], [状态], [说明], [时间], [短信路径], "
    "ifnull([短信编号], -1)";

const QString TimeOfDayFormat = QStringLiteral("HH:mm");

bool isBusy(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Writes of the log do not wait for another connection's lock: while one is
// alive, a busy file answers at once.
class NoBusyWait
{
public:
    explicit NoBusyWait(sqlite3 *db)
        : m_db(db)
    {
        sqlite3_busy_timeout(m_db, 0);
    }
    ~NoBusyWait() { sqlite3_busy_timeout(m_db, Database::BusyTimeoutMs); }
    NoBusyWait(const NoBusyWait &) = delete;
    NoBusyWait &operator=(const NoBusyWait &) = delete;

private:
    sqlite3 *m_db;
};

LogWrite outcome(int code, sqlite3 *db, QString *error)
{
    if (code == SQLITE_DONE || code == SQLITE_OK || code == SQLITE_ROW)
        return LogWrite::Written;
    if (error) {
        *error = isBusy(code) ? QStringLiteral("数据库正忙")
                              : QStringLiteral("发送记录无法写入数据库：%1")
                                    .arg(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    return isBusy(code) ? LogWrite::Busy : LogWrite::Failed;
}

// The database is closed for a moment (a backup being restored) or for good
// (the program is closing): nothing is written, nothing may leave.
LogWrite closedFile(QString *error)
{
    if (error)
        *error = QStringLiteral("数据库已经关闭，发送记录无法写入。");
    return LogWrite::Failed;
}

bool readFailed(sqlite3 *db, QString *error)
{
    if (error) {
        *error = QStringLiteral("发送记录无法读取：%1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    return false;
}

// One transaction of several statements; rolled back unless committed.
class WriteTransaction
{
public:
    explicit WriteTransaction(sqlite3 *db)
        : m_db(db)
        , m_code(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))
    {
    }
    ~WriteTransaction()
    {
        if (m_code == SQLITE_OK)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    int beginCode() const { return m_code; }
    int commit()
    {
        const int code = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (code == SQLITE_OK)
            m_code = SQLITE_DONE; // nothing left to roll back
        return code;
    }

private:
    sqlite3 *m_db;
    int m_code;
};

SendRecord readRecord(const Statement &row)
{
    SendRecord record;
    record.id = row.int64(0);
    record.batch = row.int64(1);
    record.mobile = row.text(2);
    record.name = row.text(3);
    record.text = row.text(4);
    record.state = RecordStates::fromText(row.text(5)).value_or(RecordState::Unconfirmed);
    record.note = row.text(6);
    record.time = row.text(7);
    record.smsPath = row.text(8);
    record.reference = row.int64(9);
    return record;
}

BatchSummary readBatch(const Statement &row)
{
    BatchSummary batch;
    batch.id = row.int64(0);
    batch.time = row.text(1);
    BatchSettings &settings = batch.settings;
    settings.channel =
        BatchSettings::channelFromText(row.text(2)).value_or(BatchSettings::Channel::Modem);
    settings.deviceId = row.text(3);
    settings.deviceName = row.text(4);
    settings.text = row.text(5);
    settings.optOutLine = row.int64(6) != 0;
    settings.intervalSeconds = int(row.int64(7));
    settings.perHour = int(row.int64(8));
    settings.perDay = int(row.int64(9));
    settings.windowStart = QTime::fromString(row.text(10), TimeOfDayFormat);
    settings.windowEnd = QTime::fromString(row.text(11), TimeOfDayFormat);
    settings.windowOn = settings.windowStart.isValid() && settings.windowEnd.isValid();
    batch.status = row.text(12);
    return batch;
}

// Adds the number of recipients in each state to the batches of the list.
bool readCounts(sqlite3 *db, QList<BatchSummary> &batches, qint64 onlyBatch, QString *error)
{
    QHash<qint64, BatchSummary *> byId;
    for (BatchSummary &batch : batches)
        byId.insert(batch.id, &batch);
    Statement counts(db, onlyBatch > 0
                             ? "SELECT [批次], [状态], count(*) FROM [发送记录] WHERE [批次] = ?1 "
                               "GROUP BY [批次], [状态]"
                             : "SELECT [批次], [状态], count(*) FROM [发送记录] "
                               "GROUP BY [批次], [状态]");
    if (onlyBatch > 0)
        counts.bind(1, onlyBatch);
    int code;
    while ((code = counts.step()) == SQLITE_ROW) {
        BatchSummary *batch = byId.value(counts.int64(0));
        const std::optional<RecordState> state = RecordStates::fromText(counts.text(1));
        if (batch && state)
            batch->counts[*state] += int(counts.int64(2));
    }
    return code == SQLITE_DONE || readFailed(db, error);
}

// The batch row and its recipients in one transaction; the first code that
// is not a success, SQLITE_INTERRUPT when progress was cancelled (all rolled
// back then).
int writeBatch(sqlite3 *db, const BatchSettings &settings, const QList<BatchRecipient> &recipients,
               const QDateTime &now, WorkProgress *progress, qint64 *batchId)
{
    WriteTransaction transaction(db);
    if (transaction.beginCode() != SQLITE_OK)
        return transaction.beginCode();
    Statement insertBatch(
        db, "INSERT INTO [发送批次] ([时间], [发送方式], [设备], [设备名称], [短信内容], [回T退订], "
            "[每条间隔], [每小时最多], [每天最多], [时段开始], [时段结束], [状态]) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, '进行中')");
    insertBatch.bind(1, LogTime::text(now));
    insertBatch.bind(2, BatchSettings::channelText(settings.channel));
    insertBatch.bind(3, settings.deviceId);
    insertBatch.bind(4, settings.deviceName);
    insertBatch.bind(5, settings.text);
    insertBatch.bind(6, qint64(settings.optOutLine ? 1 : 0));
    insertBatch.bind(7, qint64(settings.intervalSeconds));
    insertBatch.bind(8, qint64(settings.perHour));
    insertBatch.bind(9, qint64(settings.perDay));
    insertBatch.bind(10, settings.windowOn ? settings.windowStart.toString(TimeOfDayFormat)
                                           : QString());
    insertBatch.bind(11, settings.windowOn ? settings.windowEnd.toString(TimeOfDayFormat)
                                           : QString());
    int code = insertBatch.step();
    if (code != SQLITE_DONE)
        return code;
    const qint64 id = sqlite3_last_insert_rowid(db);
    Statement insertRecord(db, "INSERT INTO [发送记录] ([批次], [手机号], [姓名], [发送内容], [状态]) "
                               "VALUES (?1, ?2, ?3, ?4, '待发送')");
    qint64 written = 0;
    for (const BatchRecipient &recipient : recipients) {
        if (progress && !progress->advance(written))
            return SQLITE_INTERRUPT;
        insertRecord.reset();
        insertRecord.bind(1, id);
        insertRecord.bind(2, recipient.mobile);
        insertRecord.bind(3, recipient.name);
        insertRecord.bind(4, recipient.text);
        code = insertRecord.step();
        if (code != SQLITE_DONE)
            return code;
        ++written;
    }
    // A cancel that came while the rows were written still counts.
    if (progress && !progress->advance(written))
        return SQLITE_INTERRUPT;
    code = transaction.commit();
    if (code != SQLITE_OK)
        return code;
    *batchId = id;
    return SQLITE_DONE;
}

} // namespace

int BatchSummary::total() const
{
    int sum = 0;
    for (int count : counts)
        sum += count;
    return sum;
}

SendLog::SendLog(Database &database)
    : m_database(database)
{
}

LogWrite SendLog::createBatch(const BatchSettings &settings,
                              const QList<BatchRecipient> &recipients, const QDateTime &now,
                              qint64 *batchId, QString *error)
{
    return write(
        [&](sqlite3 *db) { return writeBatch(db, settings, recipients, now, nullptr, batchId); },
        Scope::Statement, error);
}

LogWrite SendLog::write(const std::function<int(sqlite3 *db)> &statements, Scope scope,
                        QString *error)
{
    sqlite3 *db = m_database.handle();
    if (!db)
        return closedFile(error);
    NoBusyWait noWait(db);
    if (scope == Scope::Statement)
        return outcome(statements(db), db, error);
    WriteTransaction transaction(db);
    if (transaction.beginCode() != SQLITE_OK)
        return outcome(transaction.beginCode(), db, error);
    const int code = statements(db);
    if (code != SQLITE_DONE && code != SQLITE_OK)
        return outcome(code, db, error);
    return outcome(transaction.commit(), db, error);
}

LogWrite SendLog::prepareBatch(const BatchSettings &settings,
                               const QList<BatchRecipient> &recipients, const QDateTime &now,
                               WorkProgress &progress, qint64 *batchId, QString *error)
{
    sqlite3 *db = m_database.handle();
    if (!db)
        return closedFile(error);
    progress.setTotal(recipients.size());
    const int code = writeBatch(db, settings, recipients, now, &progress, batchId);
    if (code == SQLITE_INTERRUPT && progress.isCancelled()) {
        if (error)
            *error = WorkProgress::cancelledMessage();
        return LogWrite::Failed;
    }
    return outcome(code, db, error);
}

QString SendLog::databasePath() const
{
    return m_database.path();
}

LogWrite SendLog::setBatchStatus(qint64 batch, const QString &status, QString *error)
{
    return write(
        [&](sqlite3 *db) {
            Statement update(db, "UPDATE [发送批次] SET [状态] = ?2 WHERE [编号] = ?1");
            update.bind(1, batch);
            update.bind(2, status);
            return update.step();
        },
        Scope::Statement, error);
}

LogWrite SendLog::deleteBatch(qint64 batch, QString *error)
{
    return write(
        [&](sqlite3 *db) {
            for (const char *sql : {"DELETE FROM [发送记录] WHERE [批次] = ?1",
                                    "DELETE FROM [发送批次] WHERE [编号] = ?1"}) {
                Statement remove(db, sql);
                remove.bind(1, batch);
                if (const int code = remove.step(); code != SQLITE_DONE)
                    return code;
            }
            return SQLITE_DONE;
        },
        Scope::Transaction, error);
}

bool SendLog::batches(QList<BatchSummary> *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    out->clear();
    Statement select(db, QByteArray("SELECT ").append(BatchColumns)
                             .append(" FROM [发送批次] ORDER BY [编号] DESC")
                             .constData());
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        out->append(readBatch(select));
    if (code != SQLITE_DONE)
        return readFailed(db, error);
    return readCounts(db, *out, 0, error);
}

bool SendLog::batch(qint64 id, BatchSummary *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    Statement select(db, QByteArray("SELECT ").append(BatchColumns)
                             .append(" FROM [发送批次] WHERE [编号] = ?1")
                             .constData());
    select.bind(1, id);
    const int code = select.step();
    if (code != SQLITE_ROW) {
        if (code == SQLITE_DONE && error)
            *error = QStringLiteral("这次发送的记录已经不在了。");
        return code == SQLITE_DONE ? false : readFailed(db, error);
    }
    QList<BatchSummary> one{readBatch(select)};
    if (!readCounts(db, one, id, error))
        return false;
    *out = one.first();
    return true;
}

bool SendLog::records(qint64 batch, QList<SendRecord> *out, QString *error) const
{
    return recordsInState(batch, {}, out, error);
}

bool SendLog::recordsInState(qint64 batch, const QList<RecordState> &states,
                             QList<SendRecord> *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    out->clear();
    Statement select(db, QByteArray("SELECT ").append(RecordColumns)
                             .append(" FROM [发送记录] WHERE [批次] = ?1 ORDER BY [编号]")
                             .constData());
    select.bind(1, batch);
    int code;
    while ((code = select.step()) == SQLITE_ROW) {
        SendRecord record = readRecord(select);
        if (states.isEmpty() || states.contains(record.state))
            out->append(std::move(record));
    }
    return code == SQLITE_DONE || readFailed(db, error);
}

bool SendLog::nextWaiting(qint64 batch, qint64 afterId, SendRecord *out, bool *found,
                          QString *error) const
{
    sqlite3 *db = m_database.handle();
    Statement select(db, QByteArray("SELECT ").append(RecordColumns)
                             .append(" FROM [发送记录] WHERE [批次] = ?1 AND [编号] > ?2 "
                                     "AND [状态] = '待发送' ORDER BY [编号] LIMIT 1")
                             .constData());
    select.bind(1, batch);
    select.bind(2, afterId);
    const int code = select.step();
    *found = code == SQLITE_ROW;
    if (*found)
        *out = readRecord(select);
    return code == SQLITE_ROW || code == SQLITE_DONE || readFailed(db, error);
}

LogWrite SendLog::markSending(qint64 record, const QDateTime &now, QString *error)
{
    bool waiting = true;
    const LogWrite written = write(
        [&](sqlite3 *db) {
            Statement update(db, "UPDATE [发送记录] SET [状态] = '发送中', [时间] = ?2, [说明] = '' "
                                 "WHERE [编号] = ?1 AND [状态] = '待发送'");
            update.bind(1, record);
            update.bind(2, LogTime::text(now));
            const int code = update.step();
            waiting = code != SQLITE_DONE || sqlite3_changes(db) == 1;
            return code;
        },
        Scope::Statement, error);
    if (written == LogWrite::Written && !waiting) {
        // Someone removed it or it is no longer waiting: it must not leave.
        if (error)
            *error = QStringLiteral("这位收信人已经不在待发送之列。");
        return LogWrite::Failed;
    }
    return written;
}

LogWrite SendLog::markOutcome(const SendRecord &record, QString *error)
{
    return write(
        [&](sqlite3 *db) {
            Statement update(db, "UPDATE [发送记录] SET [状态] = ?2, [说明] = ?3, [时间] = ?4, "
                                 "[短信路径] = ?5, [短信编号] = CASE WHEN ?6 >= 0 THEN ?6 END "
                                 "WHERE [编号] = ?1");
            update.bind(1, record.id);
            update.bind(2, RecordStates::text(record.state));
            update.bind(3, record.note);
            update.bind(4, record.time);
            update.bind(5, record.smsPath);
            update.bind(6, record.reference);
            return update.step();
        },
        Scope::Statement, error);
}

LogWrite SendLog::notePath(qint64 record, const QString &smsPath, QString *error)
{
    return write(
        [&](sqlite3 *db) {
            Statement update(db, "UPDATE [发送记录] SET [短信路径] = ?2 WHERE [编号] = ?1");
            update.bind(1, record);
            update.bind(2, smsPath);
            return update.step();
        },
        Scope::Statement, error);
}

bool SendLog::interruptedBatches(QList<qint64> *batches, int *waiting, QString *error) const
{
    sqlite3 *db = m_database.handle();
    batches->clear();
    *waiting = 0;
    Statement select(db, "SELECT b.[编号], (SELECT count(*) FROM [发送记录] r "
                         "WHERE r.[批次] = b.[编号] AND r.[状态] = '待发送') "
                         "FROM [发送批次] b WHERE b.[状态] = '进行中' ORDER BY b.[编号]");
    int code;
    while ((code = select.step()) == SQLITE_ROW) {
        batches->append(select.int64(0));
        *waiting += int(select.int64(1));
    }
    return code == SQLITE_DONE || readFailed(db, error);
}

bool SendLog::sendingRecords(QList<SendRecord> *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    out->clear();
    Statement select(db, QByteArray("SELECT ").append(RecordColumns)
                             .append(" FROM [发送记录] WHERE [状态] = '发送中' ORDER BY [编号]")
                             .constData());
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        out->append(readRecord(select));
    return code == SQLITE_DONE || readFailed(db, error);
}

int SendLog::sendsSince(const QString &deviceId, const QDateTime &since, QString *error) const
{
    sqlite3 *db = m_database.handle();
    Statement count(db, QByteArray("SELECT count(*) FROM [发送记录] r JOIN [发送批次] b "
                                   "ON b.[编号] = r.[批次] WHERE b.[设备] = ?1 AND r.[时间] >= ?2 "
                                   "AND r.[状态] IN ")
                            .append(LeftStates)
                            .constData());
    count.bind(1, deviceId);
    count.bind(2, LogTime::text(since));
    if (count.step() != SQLITE_ROW) {
        readFailed(db, error);
        return 0;
    }
    return int(count.int64(0));
}

QDateTime SendLog::nthNewestSend(const QString &deviceId, int n, QString *error) const
{
    sqlite3 *db = m_database.handle();
    Statement select(db, QByteArray("SELECT r.[时间] FROM [发送记录] r JOIN [发送批次] b "
                                    "ON b.[编号] = r.[批次] WHERE b.[设备] = ?1 "
                                    "AND r.[时间] <> '' AND r.[状态] IN ")
                             .append(LeftStates)
                             .append(" ORDER BY r.[时间] DESC LIMIT 1 OFFSET ?2")
                             .constData());
    select.bind(1, deviceId);
    select.bind(2, qint64(n - 1));
    const int code = select.step();
    if (code == SQLITE_ROW)
        return LogTime::parse(select.text(0));
    if (code != SQLITE_DONE)
        readFailed(db, error);
    return QDateTime();
}

LogWrite SendLog::applyDeliveryReport(const QString &mobile, qint64 reference, bool delivered,
                                      bool *found, QString *error)
{
    *found = false;
    return write(
        [&](sqlite3 *db) {
            Statement update(db, "UPDATE [发送记录] SET [状态] = ?3 WHERE [编号] = "
                                 "(SELECT [编号] FROM [发送记录] WHERE [手机号] = ?1 AND "
                                 "[短信编号] = ?2 AND [状态] = '已发送' ORDER BY [编号] DESC LIMIT 1)");
            update.bind(1, mobile);
            update.bind(2, reference);
            update.bind(3, RecordStates::text(delivered ? RecordState::Delivered
                                                        : RecordState::DeliveryFailed));
            const int code = update.step();
            *found = code == SQLITE_DONE && sqlite3_changes(db) == 1;
            return code;
        },
        Scope::Statement, error);
}

LogWrite SendLog::addReceived(const QString &mobile, const QString &text, const QString &stamp,
                              const QDateTime &time, const QString &smsPath, QString *error)
{
    return write(
        [&](sqlite3 *db) {
            Statement insert(
                db, "INSERT INTO [收到的短信] ([手机号], [内容], [时间], [短信路径], [短信时间]) "
                    "SELECT ?1, ?2, ?3, ?4, ?5 WHERE ?5 = '' OR NOT EXISTS (SELECT 1 FROM "
                    "[收到的短信] WHERE [手机号] = ?1 AND [内容] = ?2 AND [短信时间] = ?5)");
            insert.bind(1, mobile);
            insert.bind(2, text);
            insert.bind(3, LogTime::text(time));
            insert.bind(4, smsPath);
            insert.bind(5, stamp);
            return insert.step();
        },
        Scope::Statement, error);
}

bool SendLog::received(QList<ReceivedMessage> *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    out->clear();
    Statement select(db, "SELECT m.[手机号], (SELECT c.[姓名] FROM [通讯录] c "
                         "WHERE c.[手机号] = m.[手机号] ORDER BY c.rowid LIMIT 1), m.[内容], m.[时间] "
                         "FROM [收到的短信] m ORDER BY m.[编号] DESC");
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        out->append({select.text(0), select.text(1), select.text(2), select.text(3)});
    return code == SQLITE_DONE || readFailed(db, error);
}

LogWrite SendLog::addOptOuts(const QStringList &mobiles, const QString &source,
                             const QDateTime &time, int *added, QString *error)
{
    int count = 0;
    const LogWrite written = write(
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
        Scope::Transaction, error);
    if (written == LogWrite::Written && added)
        *added = count;
    return written;
}

LogWrite SendLog::removeOptOuts(const QStringList &mobiles, QString *error)
{
    return write(
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
        Scope::Transaction, error);
}

bool SendLog::optOuts(QList<OptOut> *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    out->clear();
    Statement select(db, "SELECT [手机号], [时间], [来源] FROM [退订名单] ORDER BY [时间] DESC, rowid DESC");
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        out->append({select.text(0), select.text(1), select.text(2)});
    return code == SQLITE_DONE || readFailed(db, error);
}

bool SendLog::optOutNumbers(QSet<QString> *out, QString *error) const
{
    sqlite3 *db = m_database.handle();
    out->clear();
    Statement select(db, "SELECT [手机号] FROM [退订名单]");
    int code;
    while ((code = select.step()) == SQLITE_ROW)
        out->insert(select.text(0));
    return code == SQLITE_DONE || readFailed(db, error);
}

bool SendLog::isOptedOut(const QString &mobile) const
{
    Statement select(m_database.handle(), "SELECT 1 FROM [退订名单] WHERE [手机号] = ?1");
    select.bind(1, mobile);
    return select.step() == SQLITE_ROW;
}

QString SendLog::setting(const QString &name, const QString &fallback) const
{
    Statement select(m_database.handle(), "SELECT [值] FROM [发送设置] WHERE [名称] = ?1");
    select.bind(1, name);
    return select.step() == SQLITE_ROW ? select.text(0) : fallback;
}

LogWrite SendLog::setSetting(const QString &name, const QString &value, QString *error)
{
    return write(
        [&](sqlite3 *db) {
            Statement upsert(db, "INSERT OR REPLACE INTO [发送设置] ([名称], [值]) VALUES (?1, ?2)");
            upsert.bind(1, name);
            upsert.bind(2, value);
            return upsert.step();
        },
        Scope::Statement, error);
}
