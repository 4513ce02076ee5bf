#pragma once

#include "followup/followuprecord.h"
#include "storage/contactstore.h"

#include <QVector>

#include <functional>

class Database;

// One line of a person's history: a follow-up record, or a message of the
// send log (read only there, 方式 短信, 结果 its 状态).
struct HistoryEntry
{
    bool fromSendLog = false;
    qint64 id = 0; // 编号 in its own table
    QString time;
    QString method;
    QString result;
    QString content;
    QString nextDate;
};

// A person whose newest record asks for a call on or before today.
struct DueEntry
{
    QString mobile;
    QString nextDate;
    QString lastTime;
    QString lastResult;
    // The first contact (in stored order) that holds the number; 0 and
    // empty texts when no group holds it any more.
    qint64 contactRowId = 0;
    QString name;
    QString salutation;
    QString remark;
    QString firstGroup;
    QString groups; // every group that holds the number, joined by "、"
};

// A record as exported: the record with the person and the groups.
struct ExportRow
{
    FollowUpRecord record;
    QString name;
    QString groups;
};

// Every statement on the follow-up records, on the program's one connection.
// Results as ContactStore's; on Failed error receives the reason.
class FollowUpStore
{
public:
    explicit FollowUpStore(Database &database);

    // Stores a new record (record->id receives its 编号), or rewrites the
    // stored one of that 编号. A record that breaks FollowUpRules::problem()
    // is refused (Failed, with that sentence); a rewritten one may keep a
    // time or 下次回访 as the file holds it.
    StoreResult add(FollowUpRecord *record, QString *error = nullptr);
    StoreResult update(const FollowUpRecord &record, QString *error = nullptr);
    StoreResult remove(qint64 id, QString *error = nullptr);
    StoreResult record(qint64 id, FollowUpRecord *out, QString *error = nullptr);

    // The number's records and the messages the send log holds for it,
    // newest first.
    StoreResult history(const QString &mobile, QVector<HistoryEntry> *out,
                        QString *error = nullptr);

    // Everyone whose newest record has a 下次回访 on or before today, the
    // longest due first.
    StoreResult dueList(QDate today, QVector<DueEntry> *out, QString *error = nullptr);
    StoreResult dueCount(QDate today, qsizetype *count, QString *error = nullptr);

    // The 结果 texts offered, in order; a new one is added at the end.
    StoreResult results(QStringList *out, QString *error = nullptr);
    StoreResult rememberResult(const QString &result, QString *error = nullptr);

    // Every record, person by person, oldest first; visit returns false to
    // stop (the result is then Ok).
    StoreResult forEachRecord(const std::function<bool(const ExportRow &)> &visit,
                              QString *error = nullptr);
    StoreResult recordCount(qsizetype *count, QString *error = nullptr);

private:
    StoreResult write(FollowUpRecord *record, bool insert, QString *error);

    Database &m_database;
};
