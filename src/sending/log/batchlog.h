#pragma once

#include "sending/log/logdatabase.h"
#include "sending/sendrecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class Database;
class WorkProgress;

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
    BatchStatus status = BatchStatus::Running;
    QDateTime scheduledAt; // invalid unless it waits for a set time
    QHash<RecordState, int> counts;

    int total() const;
    int count(RecordState state) const { return counts.value(state); }
    // Left the device, or handed to the phone.
    int sent() const;
};

// The batches and their recipients: written as a batch is made, each
// recipient 发送中 (committed) before its message leaves and its outcome
// after, read by the windows. Every message handed to a device is also
// counted apart from its batch (see SendLedger), in the same transaction.
class BatchLog
{
public:
    explicit BatchLog(Database &database);

    // A new batch and its recipients, all 待发送, in one transaction through
    // a worker thread's own connection: waits for other connections' locks
    // as the connection is set to, reports each recipient to progress and,
    // once cancelled, rolls everything back and fails with
    // WorkProgress::cancelledMessage(). A batch with a valid scheduledAt is
    // written 等待定时. With several devices each recipient notes the device
    // that last wrote to the number in the last 30 days, which keeps it.
    static LogResult prepare(Database &database, const BatchSettings &settings,
                             const QList<BatchRecipient> &recipients, const QDateTime &now,
                             const QDateTime &scheduledAt, WorkProgress &progress,
                             qint64 *batchId, QString *error);
    // The file, for a worker thread's own connection.
    QString databasePath() const { return m_db.path(); }

    LogResult setStatus(qint64 batch, BatchStatus status, QString *error);
    // A scheduled batch's new time (still 等待定时).
    LogResult setSchedule(qint64 batch, const QDateTime &at, QString *error);
    // The batch and its recipients; the messages it handed to devices stay
    // counted for the caps.
    LogResult deleteBatch(qint64 batch, QString *error);

    // Newest first, with the number of recipients in each state.
    LogResult batches(QList<BatchSummary> *out, QString *error) const;
    LogResult batch(qint64 id, BatchSummary *out, QString *error) const;
    // In order; every state when states is empty.
    LogResult records(qint64 batch, const QList<RecordState> &states, QList<SendRecord> *out,
                      QString *error) const;

    // The first 待发送 recipient of the batch after afterId (0: from the
    // start) that may go through device: not one kept for another device in
    // keptBy (devices of the batch that keep the numbers they last wrote to).
    // found false when there is none.
    LogResult nextWaiting(qint64 batch, qint64 afterId, const QString &device,
                          const QStringList &keptBy, SendRecord *out, bool *found,
                          QString *error) const;
    LogResult waitingCount(qint64 batch, int *count, QString *error) const;

    // The recipient is about to be sent to through device: 发送中, with the
    // time and the device, and counted in the ledger, in one transaction.
    // taken false (nothing written) when the recipient no longer waits.
    LogResult markSending(qint64 record, const QString &device, const QDateTime &now,
                          bool *taken, QString *error);
    // State, 说明, time, the message's path and reference.
    LogResult markOutcome(const SendRecord &record, QString *error);
    // The path of the message made on the modem, before it is sent.
    LogResult notePath(qint64 record, const QString &smsPath, QString *error);
    // Forgets the path once the message was removed from the modem.
    LogResult clearPath(qint64 record, QString *error);

    // Batches not finished, not dropped by the user and not waiting for
    // their time that still have recipients to send, oldest first, with how
    // many wait in each.
    LogResult unfinishedBatches(QList<QPair<qint64, int>> *out, QString *error) const;
    // Batches waiting for their time, soonest first.
    LogResult scheduledBatches(QList<BatchSummary> *out, QString *error) const;
    // Every 发送中 row (a program stopped after writing it).
    LogResult sendingRecords(QList<SendRecord> *out, QString *error) const;
    // Messages still on a device that are done with: failed, delivered or
    // not, or sent before dayAgo; with their paths, numbers and texts.
    LogResult settledOnDevice(const QString &device, const QDateTime &dayAgo,
                              QList<SendRecord> *out, QString *error) const;

    // A delivery report for the newest 已发送 message to mobile with this
    // reference through device; found receives the record (its id 0 when
    // none matched).
    LogResult applyDeliveryReport(const QString &device, const QString &mobile, qint64 reference,
                                  bool delivered, SendRecord *found, QString *error);

    // The name a device was shown with, for the records that went through it.
    LogResult nameDevice(const QString &device, const QString &name, QString *error);

private:
    LogDatabase m_db;
};
