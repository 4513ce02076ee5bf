#pragma once

#include "sending/sendrecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

struct sqlite3;

class Database;
class WorkProgress;

// What a write to the log came to. Busy: another connection (a long command
// on a worker thread) was committing; nothing was written and the caller
// tries again later. The window is never held up waiting for the file.
enum class LogWrite { Written, Busy, Failed };

struct BatchRecipient
{
    QString mobile;
    QString name;
    QString text; // as this recipient gets it
};

struct BatchSummary
{
    qint64 id = 0;
    QString time;
    BatchSettings settings;
    QString status;
    QHash<RecordState, int> counts;

    int total() const;
    int count(RecordState state) const { return counts.value(state); }
};

struct ReceivedMessage
{
    QString mobile;
    QString name; // of a contact with this mobile, "" when none
    QString text;
    QString time;
};

struct OptOut
{
    QString mobile;
    QString time;
    QString source;
};

// The send log, the received messages, the opt-out list and the send
// dialog's remembered choices, all in the program's database, read and
// written through its one connection on the window's thread. Writes never
// wait for a lock: they answer LogWrite::Busy instead. The one exception is
// prepareBatch(), made for a worker thread's connection of its own.
class SendLog
{
public:
    // Batch statuses.
    static QString running() { return QStringLiteral("进行中"); }
    static QString paused() { return QStringLiteral("已暂停"); }
    static QString stopped() { return QStringLiteral("已停止"); }
    static QString interrupted() { return QStringLiteral("已中断"); }
    static QString finished() { return QStringLiteral("已完成"); }

    explicit SendLog(Database &database);

    // One batch row and its recipients, all 待发送, in one transaction.
    LogWrite createBatch(const BatchSettings &settings, const QList<BatchRecipient> &recipients,
                         const QDateTime &now, qint64 *batchId, QString *error);
    // The same through a worker thread's own connection (see PrepareBatchCommand):
    // waits for the other connection's lock as the connection is set to,
    // reports each recipient to progress and, once it is cancelled, rolls
    // everything back and fails with WorkProgress::cancelledMessage().
    LogWrite prepareBatch(const BatchSettings &settings, const QList<BatchRecipient> &recipients,
                          const QDateTime &now, WorkProgress &progress, qint64 *batchId,
                          QString *error);
    // The file the log is in, for a worker thread's own connection.
    QString databasePath() const;
    LogWrite setBatchStatus(qint64 batch, const QString &status, QString *error);
    LogWrite deleteBatch(qint64 batch, QString *error);

    // Newest first, with the number of recipients in each state.
    bool batches(QList<BatchSummary> *out, QString *error) const;
    bool batch(qint64 id, BatchSummary *out, QString *error) const;
    bool records(qint64 batch, QList<SendRecord> *out, QString *error) const;
    bool recordsInState(qint64 batch, const QList<RecordState> &states, QList<SendRecord> *out,
                        QString *error) const;
    // The first 待发送 recipient of the batch after afterId (0: from the
    // start); found false when there is none.
    bool nextWaiting(qint64 batch, qint64 afterId, SendRecord *out, bool *found,
                     QString *error) const;

    // The recipient is about to be sent to: 发送中, committed, with the time.
    LogWrite markSending(qint64 record, const QDateTime &now, QString *error);
    // Sets state, 说明, time, the message's path and reference.
    LogWrite markOutcome(const SendRecord &record, QString *error);
    // Writes the path of the message made on the modem, before it is sent.
    LogWrite notePath(qint64 record, const QString &smsPath, QString *error);

    // Batches left 进行中 by a program that stopped while sending, and how
    // many of their recipients still wait.
    bool interruptedBatches(QList<qint64> *batches, int *waiting, QString *error) const;
    // Every 发送中 row (the program stopped after writing it).
    bool sendingRecords(QList<SendRecord> *out, QString *error) const;

    // Messages that really left through a device (the caps count them):
    // the number since a time, and the time of the n-th newest (invalid when
    // there are fewer).
    int sendsSince(const QString &deviceId, const QDateTime &since, QString *error) const;
    QDateTime nthNewestSend(const QString &deviceId, int n, QString *error) const;

    // A delivery report for the newest 已发送 message to mobile with this
    // reference; false in found when none matches.
    LogWrite applyDeliveryReport(const QString &mobile, qint64 reference, bool delivered,
                                 bool *found, QString *error);

    // A message already recorded with the same sender, text and network
    // time stamp (read again from the modem) is not added twice.
    LogWrite addReceived(const QString &mobile, const QString &text, const QString &stamp,
                         const QDateTime &time, const QString &smsPath, QString *error);
    bool received(QList<ReceivedMessage> *out, QString *error) const;

    // Adds the numbers not yet on the list; added receives how many were new.
    LogWrite addOptOuts(const QStringList &mobiles, const QString &source, const QDateTime &time,
                        int *added, QString *error);
    LogWrite removeOptOuts(const QStringList &mobiles, QString *error);
    bool optOuts(QList<OptOut> *out, QString *error) const;
    bool optOutNumbers(QSet<QString> *out, QString *error) const;
    bool isOptedOut(const QString &mobile) const;

    QString setting(const QString &name, const QString &fallback = QString()) const;
    LogWrite setSetting(const QString &name, const QString &value, QString *error);

private:
    enum class Scope { Statement, Transaction };
    // Runs statements (which answer SQLite's code, SQLITE_DONE or SQLITE_OK
    // on success) on the window's connection without waiting for another
    // connection's lock, in one transaction when scope says so.
    LogWrite write(const std::function<int(sqlite3 *db)> &statements, Scope scope,
                   QString *error);

    Database &m_database;
};
