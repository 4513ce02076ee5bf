#include "sending/log/batchlog.h"

#include "core/workprogress.h"
#include "storage/database.h"
#include "storage/statement.h"

namespace {

// A number keeps the device that last wrote to it for this long.
constexpr int KeepDeviceDays = 30;

const QString TimeOfDayFormat = QStringLiteral("HH:mm");

constexpr const char *BatchColumns =
    "[编号], [时间], [发送方式], [设备], [设备名称], [短信内容], [回T退订], [每条间隔], "
    "[每小时最多], [每天最多], [时段开始], [时段结束], [状态], ifnull([定时], '')";

constexpr const char *RecordColumns =
    "r.[编号], r.[批次], r.[手机号], r.[姓名], r.[发送内容], r.[状态], r.[说明], r.[时间], "
    "r.[短信路径], ifnull(r.[短信编号], -1), ifnull(r.[设备], ''), "
    "ifnull((SELECT d.[名称] FROM [发送设备] d WHERE d.[设备] = r.[设备]), '')";

QByteArray sql(std::initializer_list<QByteArrayView> parts)
{
    QByteArray text;
    for (QByteArrayView part : parts)
        text.append(part);
    return text;
}

QByteArray word(RecordState state)
{
    return RecordStates::sqlList({state});
}

SendRecord readRecord(const Statement &row)
{
    SendRecord record;
    record.id = row.int64(0);
    record.batch = row.int64(1);
    record.mobile = row.text(2);
    record.name = row.text(3);
    record.text = row.text(4);
    // A word this program does not write is taken at its most careful.
    record.state = RecordStates::fromText(row.text(5)).value_or(RecordState::Unconfirmed);
    record.note = row.text(6);
    record.time = row.text(7);
    record.smsPath = row.text(8);
    record.reference = row.int64(9);
    record.device = row.text(10);
    record.deviceName = row.text(11);
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
    settings.deviceIds = BatchSettings::devicesFromText(row.text(3));
    settings.deviceName = row.text(4);
    settings.text = row.text(5);
    settings.optOutLine = row.int64(6) != 0;
    settings.intervalSeconds = int(row.int64(7));
    settings.perHour = int(row.int64(8));
    settings.perDay = int(row.int64(9));
    settings.windowStart = QTime::fromString(row.text(10), TimeOfDayFormat);
    settings.windowEnd = QTime::fromString(row.text(11), TimeOfDayFormat);
    settings.windowOn = settings.windowStart.isValid() && settings.windowEnd.isValid();
    // An unknown word: treated as stopped, so that nothing starts by itself.
    batch.status = BatchStatuses::fromText(row.text(12)).value_or(BatchStatus::Stopped);
    batch.scheduledAt = LogTime::parse(row.text(13));
    return batch;
}

// Adds the number of recipients in each state to the batches of the list.
int readCounts(sqlite3 *db, QList<BatchSummary> &batches, qint64 onlyBatch)
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
        const RecordState state =
            RecordStates::fromText(counts.text(1)).value_or(RecordState::Unconfirmed);
        if (batch)
            batch->counts[state] += int(counts.int64(2));
    }
    return code;
}

// The device that last wrote to mobile since, "" when none.
class LastDevice
{
public:
    LastDevice(sqlite3 *db, const QDateTime &since)
        : m_select(db, sql({"SELECT [设备] FROM [发送记录] WHERE [手机号] = ?1 AND [时间] >= ?2 "
                            "AND ifnull([设备], '') <> '' AND [状态] IN ",
                            RecordStates::sqlList(RecordStates::MayHaveLeft),
                            " ORDER BY [时间] DESC LIMIT 1"})
                           .constData())
        , m_since(LogTime::text(since))
    {
    }

    int find(const QString &mobile, QString *device)
    {
        m_select.reset();
        m_select.bind(1, mobile);
        m_select.bind(2, m_since);
        const int code = m_select.step();
        *device = code == SQLITE_ROW ? m_select.text(0) : QString();
        return code == SQLITE_ROW ? SQLITE_DONE : code;
    }

private:
    Statement m_select;
    QString m_since;
};

// The batch row and its recipients in one transaction; the first code that
// is not a success, SQLITE_INTERRUPT when progress was cancelled (all rolled
// back then).
int writeBatch(sqlite3 *db, const BatchSettings &settings, const QList<BatchRecipient> &recipients,
               const QDateTime &now, const QDateTime &scheduledAt, WorkProgress &progress,
               qint64 *batchId)
{
    WriteTransaction transaction(db);
    if (transaction.beginCode() != SQLITE_OK)
        return transaction.beginCode();
    Statement insertBatch(
        db, "INSERT INTO [发送批次] ([时间], [发送方式], [设备], [设备名称], [短信内容], [回T退订], "
            "[每条间隔], [每小时最多], [每天最多], [时段开始], [时段结束], [状态], [定时]) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
    insertBatch.bind(1, LogTime::text(now));
    insertBatch.bind(2, BatchSettings::channelText(settings.channel));
    insertBatch.bind(3, settings.deviceText());
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
    const bool scheduled = scheduledAt.isValid();
    insertBatch.bind(12, BatchStatuses::text(scheduled ? BatchStatus::Scheduled
                                                       : BatchStatus::Running));
    insertBatch.bind(13, scheduled ? LogTime::text(scheduledAt) : QString());
    int code = insertBatch.step();
    if (code != SQLITE_DONE)
        return code;
    const qint64 id = sqlite3_last_insert_rowid(db);
    Statement insertRecord(db, sql({"INSERT INTO [发送记录] ([批次], [手机号], [姓名], [发送内容], "
                                    "[状态], [原设备]) VALUES (?1, ?2, ?3, ?4, ",
                                    word(RecordState::Waiting), ", ?5)"})
                                   .constData());
    // Only a batch with a choice of devices needs to know who wrote last.
    std::optional<LastDevice> lastDevice;
    if (settings.deviceIds.size() > 1)
        lastDevice.emplace(db, now.addDays(-KeepDeviceDays));
    qint64 written = 0;
    for (const BatchRecipient &recipient : recipients) {
        if (!progress.advance(written))
            return SQLITE_INTERRUPT;
        QString kept;
        if (lastDevice && (code = lastDevice->find(recipient.mobile, &kept)) != SQLITE_DONE)
            return code;
        insertRecord.reset();
        insertRecord.bind(1, id);
        insertRecord.bind(2, recipient.mobile);
        insertRecord.bind(3, recipient.name);
        insertRecord.bind(4, recipient.text);
        insertRecord.bind(5, kept);
        code = insertRecord.step();
        if (code != SQLITE_DONE)
            return code;
        ++written;
    }
    // A cancel that came while the rows were written still counts.
    if (!progress.advance(written))
        return SQLITE_INTERRUPT;
    code = transaction.commit();
    if (code != SQLITE_OK)
        return code;
    *batchId = id;
    return SQLITE_DONE;
}

int runUpdate(sqlite3 *db, const char *text, const std::function<void(Statement &)> &bind)
{
    Statement update(db, text);
    bind(update);
    return update.step();
}

} // namespace

int BatchSummary::total() const
{
    int sum = 0;
    for (int count : counts)
        sum += count;
    return sum;
}

int BatchSummary::sent() const
{
    return count(RecordState::Sent) + count(RecordState::Delivered)
           + count(RecordState::DeliveryFailed) + count(RecordState::HandedToPhone);
}

BatchLog::BatchLog(Database &database)
    : m_db(database)
{
}

LogResult BatchLog::prepare(Database &database, const BatchSettings &settings,
                            const QList<BatchRecipient> &recipients, const QDateTime &now,
                            const QDateTime &scheduledAt, WorkProgress &progress,
                            qint64 *batchId, QString *error)
{
    sqlite3 *db = database.handle();
    progress.setTotal(recipients.size());
    const int code = writeBatch(db, settings, recipients, now, scheduledAt, progress, batchId);
    if (code == SQLITE_INTERRUPT && progress.isCancelled()) {
        if (error)
            *error = WorkProgress::cancelledMessage();
        return LogResult::Failed;
    }
    if (code == SQLITE_DONE)
        return LogResult::Ok;
    const int primary = code & 0xff;
    if (error)
        *error = QStringLiteral("发送记录无法写入数据库：%1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? LogResult::Busy : LogResult::Failed;
}

LogResult BatchLog::setStatus(qint64 batch, BatchStatus status, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            return runUpdate(db, "UPDATE [发送批次] SET [状态] = ?2 WHERE [编号] = ?1",
                             [&](Statement &update) {
                                 update.bind(1, batch);
                                 update.bind(2, BatchStatuses::text(status));
                             });
        },
        LogDatabase::Scope::Statement, error);
}

LogResult BatchLog::setSchedule(qint64 batch, const QDateTime &at, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            return runUpdate(db, "UPDATE [发送批次] SET [定时] = ?2, [状态] = ?3 WHERE [编号] = ?1",
                             [&](Statement &update) {
                                 update.bind(1, batch);
                                 update.bind(2, LogTime::text(at));
                                 update.bind(3, BatchStatuses::text(BatchStatus::Scheduled));
                             });
        },
        LogDatabase::Scope::Statement, error);
}

LogResult BatchLog::deleteBatch(qint64 batch, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            for (const char *text : {"DELETE FROM [发送记录] WHERE [批次] = ?1",
                                     "DELETE FROM [发送批次] WHERE [编号] = ?1"}) {
                if (const int code = runUpdate(db, text, [&](Statement &remove) { remove.bind(1, batch); });
                    code != SQLITE_DONE)
                    return code;
            }
            return SQLITE_DONE;
        },
        LogDatabase::Scope::Transaction, error);
}

LogResult BatchLog::batches(QList<BatchSummary> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT ", BatchColumns,
                                      " FROM [发送批次] ORDER BY [编号] DESC"})
                                     .constData());
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append(readBatch(select));
            return code == SQLITE_DONE ? readCounts(db, *out, 0) : code;
        },
        error);
}

LogResult BatchLog::batch(qint64 id, BatchSummary *out, QString *error) const
{
    bool found = false;
    const LogResult read = m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT ", BatchColumns, " FROM [发送批次] WHERE [编号] = ?1"})
                                     .constData());
            select.bind(1, id);
            const int code = select.step();
            if (code != SQLITE_ROW)
                return code;
            found = true;
            QList<BatchSummary> one{readBatch(select)};
            const int counted = readCounts(db, one, id);
            *out = one.first();
            return counted;
        },
        error);
    if (read == LogResult::Ok && !found) {
        if (error)
            *error = QStringLiteral("这次发送的记录已经不在了。");
        return LogResult::Failed;
    }
    return read;
}

LogResult BatchLog::records(qint64 batch, const QList<RecordState> &states,
                            QList<SendRecord> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT ", RecordColumns,
                                      " FROM [发送记录] r WHERE r.[批次] = ?1 ORDER BY r.[编号]"})
                                     .constData());
            select.bind(1, batch);
            int code;
            while ((code = select.step()) == SQLITE_ROW) {
                SendRecord record = readRecord(select);
                if (states.isEmpty() || states.contains(record.state))
                    out->append(std::move(record));
            }
            return code;
        },
        error);
}

LogResult BatchLog::nextWaiting(qint64 batch, qint64 afterId, const QString &device,
                                const QStringList &keptBy, SendRecord *out, bool *found,
                                QString *error) const
{
    *found = false;
    QByteArray text = sql({"SELECT ", RecordColumns,
                           " FROM [发送记录] r WHERE r.[批次] = ?1 AND r.[编号] > ?2 AND r.[状态] = ",
                           word(RecordState::Waiting)});
    QStringList others = keptBy;
    others.removeAll(device);
    if (!others.isEmpty()) {
        text.append(" AND (ifnull(r.[原设备], '') NOT IN (");
        for (qsizetype i = 0; i < others.size(); ++i)
            text.append(i == 0 ? "?" : ", ?").append(QByteArray::number(i + 3));
        text.append("))");
    }
    text.append(" ORDER BY r.[编号] LIMIT 1");
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, text.constData());
            select.bind(1, batch);
            select.bind(2, afterId);
            for (qsizetype i = 0; i < others.size(); ++i)
                select.bind(int(i + 3), others.at(i));
            const int code = select.step();
            if (code == SQLITE_ROW) {
                *found = true;
                *out = readRecord(select);
            }
            return code;
        },
        error);
}

LogResult BatchLog::waitingCount(qint64 batch, int *count, QString *error) const
{
    *count = 0;
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT count(*) FROM [发送记录] WHERE [批次] = ?1 AND [状态] = ",
                                      word(RecordState::Waiting)})
                                     .constData());
            select.bind(1, batch);
            const int code = select.step();
            if (code == SQLITE_ROW)
                *count = int(select.int64(0));
            return code;
        },
        error);
}

LogResult BatchLog::markSending(qint64 record, const QString &device, const QDateTime &now,
                                bool *taken, QString *error)
{
    *taken = false;
    return m_db.write(
        [&](sqlite3 *db) {
            int code = runUpdate(db,
                                 sql({"UPDATE [发送记录] SET [状态] = ", word(RecordState::Sending),
                                      ", [时间] = ?2, [说明] = '', [设备] = ?3 WHERE [编号] = ?1 "
                                      "AND [状态] = ",
                                      word(RecordState::Waiting)})
                                     .constData(),
                                 [&](Statement &update) {
                                     update.bind(1, record);
                                     update.bind(2, LogTime::text(now));
                                     update.bind(3, device);
                                 });
            // Someone removed it or it no longer waits: it must not leave.
            if (code != SQLITE_DONE || sqlite3_changes(db) != 1)
                return code;
            code = runUpdate(db, "INSERT INTO [发出的短信] ([设备], [时间]) VALUES (?1, ?2)",
                             [&](Statement &insert) {
                                 insert.bind(1, device);
                                 insert.bind(2, LogTime::text(now));
                             });
            *taken = code == SQLITE_DONE;
            return code;
        },
        LogDatabase::Scope::Transaction, error);
}

LogResult BatchLog::markOutcome(const SendRecord &record, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            return runUpdate(db,
                             "UPDATE [发送记录] SET [状态] = ?2, [说明] = ?3, [时间] = ?4, "
                             "[短信路径] = ?5, [短信编号] = CASE WHEN ?6 >= 0 THEN ?6 END "
                             "WHERE [编号] = ?1",
                             [&](Statement &update) {
                                 update.bind(1, record.id);
                                 update.bind(2, RecordStates::text(record.state));
                                 update.bind(3, record.note);
                                 update.bind(4, record.time);
                                 update.bind(5, record.smsPath);
                                 update.bind(6, record.reference);
                             });
        },
        LogDatabase::Scope::Statement, error);
}

LogResult BatchLog::notePath(qint64 record, const QString &smsPath, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            return runUpdate(db, "UPDATE [发送记录] SET [短信路径] = ?2 WHERE [编号] = ?1",
                             [&](Statement &update) {
                                 update.bind(1, record);
                                 update.bind(2, smsPath);
                             });
        },
        LogDatabase::Scope::Statement, error);
}

LogResult BatchLog::clearPath(qint64 record, QString *error)
{
    return notePath(record, QString(), error);
}

LogResult BatchLog::unfinishedBatches(QList<QPair<qint64, int>> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(
                db, sql({"SELECT b.[编号], count(*) FROM [发送批次] b JOIN [发送记录] r ON r.[批次] = b.[编号] WHERE r.[状态] = ",
                         word(RecordState::Waiting), " AND b.[状态] NOT IN (",
                         BatchStatuses::sqlWord(BatchStatus::Dropped), ", ",
                         BatchStatuses::sqlWord(BatchStatus::Finished), ", ",
                         BatchStatuses::sqlWord(BatchStatus::Scheduled),
                         ") GROUP BY b.[编号] ORDER BY b.[编号]"})
                        .constData());
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append({select.int64(0), int(select.int64(1))});
            return code;
        },
        error);
}

LogResult BatchLog::scheduledBatches(QList<BatchSummary> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT ", BatchColumns, " FROM [发送批次] WHERE [状态] = ",
                                      BatchStatuses::sqlWord(BatchStatus::Scheduled),
                                      " ORDER BY [定时], [编号]"})
                                     .constData());
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append(readBatch(select));
            if (code != SQLITE_DONE)
                return code;
            for (BatchSummary &batch : *out) {
                QList<BatchSummary> one{batch};
                if (const int counted = readCounts(db, one, batch.id); counted != SQLITE_DONE)
                    return counted;
                batch = one.first();
            }
            return SQLITE_DONE;
        },
        error);
}

LogResult BatchLog::sendingRecords(QList<SendRecord> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT ", RecordColumns, " FROM [发送记录] r WHERE r.[状态] = ",
                                      word(RecordState::Sending), " ORDER BY r.[编号]"})
                                     .constData());
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append(readRecord(select));
            return code;
        },
        error);
}

LogResult BatchLog::settledOnDevice(const QString &device, const QDateTime &dayAgo,
                                    QList<SendRecord> *out, QString *error) const
{
    out->clear();
    return m_db.read(
        [&](sqlite3 *db) {
            Statement select(
                db, sql({"SELECT ", RecordColumns,
                         " FROM [发送记录] r WHERE r.[设备] = ?1 AND ifnull(r.[短信路径], '') <> '' AND (r.[状态] IN ",
                         RecordStates::sqlList({RecordState::Delivered, RecordState::DeliveryFailed,
                                                RecordState::Failed}),
                         " OR (r.[状态] IN ",
                         RecordStates::sqlList({RecordState::Sent, RecordState::Unconfirmed}),
                         " AND r.[时间] < ?2)) ORDER BY r.[编号]"})
                        .constData());
            select.bind(1, device);
            select.bind(2, LogTime::text(dayAgo));
            int code;
            while ((code = select.step()) == SQLITE_ROW)
                out->append(readRecord(select));
            return code;
        },
        error);
}

LogResult BatchLog::applyDeliveryReport(const QString &device, const QString &mobile,
                                        qint64 reference, bool delivered, SendRecord *found,
                                        QString *error)
{
    *found = SendRecord();
    return m_db.write(
        [&](sqlite3 *db) {
            Statement select(db, sql({"SELECT ", RecordColumns,
                                      " FROM [发送记录] r WHERE r.[手机号] = ?1 AND r.[短信编号] = ?2 AND r.[设备] = ?3 AND r.[状态] = ",
                                      word(RecordState::Sent), " ORDER BY r.[编号] DESC LIMIT 1"})
                                     .constData());
            select.bind(1, mobile);
            select.bind(2, reference);
            select.bind(3, device);
            int code = select.step();
            if (code != SQLITE_ROW)
                return code;
            const SendRecord record = readRecord(select);
            code = runUpdate(db, "UPDATE [发送记录] SET [状态] = ?2 WHERE [编号] = ?1",
                             [&](Statement &update) {
                                 update.bind(1, record.id);
                                 update.bind(2, RecordStates::text(delivered
                                                                       ? RecordState::Delivered
                                                                       : RecordState::DeliveryFailed));
                             });
            if (code == SQLITE_DONE)
                *found = record;
            return code;
        },
        LogDatabase::Scope::Transaction, error);
}

LogResult BatchLog::nameDevice(const QString &device, const QString &name, QString *error)
{
    return m_db.write(
        [&](sqlite3 *db) {
            return runUpdate(db,
                             "INSERT OR REPLACE INTO [发送设备] ([设备], [名称]) VALUES (?1, ?2)",
                             [&](Statement &upsert) {
                                 upsert.bind(1, device);
                                 upsert.bind(2, name);
                             });
        },
        LogDatabase::Scope::Statement, error);
}
