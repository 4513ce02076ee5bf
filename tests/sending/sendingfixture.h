#pragma once

#include "sending/log/batchlog.h"
#include "sending/log/inbox.h"
#include "sending/log/optoutlist.h"
#include "sending/log/sendledger.h"
#include "storage/database.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A fresh contact database with the send log's tables, in a folder of its own.
class SendLogFile
{
public:
    // false (with error) when the file could not be made.
    bool open(QString *error);
    Database &database() { return m_database; }
    BatchLog &log() { return *m_log; }
    OptOutList &optOuts() { return *m_optOuts; }
    SendLedger &ledger() { return *m_ledger; }
    Inbox &inbox() { return *m_inbox; }
    QString path() const;

    // A batch written the way the starter writes one; 0 when it failed.
    qint64 addBatch(const BatchSettings &settings, const QList<BatchRecipient> &recipients,
                    const QDateTime &now, const QDateTime &scheduledAt = QDateTime());
    // The states of a batch's recipients, in order, as the file says.
    QStringList states(qint64 batch);
    QStringList notes(qint64 batch);
    QStringList devices(qint64 batch);
    // Runs statements on the file as another program would.
    bool execute(const char *sql);

private:
    QTemporaryDir m_folder;
    Database m_database;
    std::unique_ptr<BatchLog> m_log;
    std::unique_ptr<OptOutList> m_optOuts;
    std::unique_ptr<SendLedger> m_ledger;
    std::unique_ptr<Inbox> m_inbox;
};

// The batch's recipients with these numbers, each getting "<text> <number>".
QList<BatchRecipient> recipientsFor(const QStringList &mobiles, const QString &text);
// "13800000001" … as many as asked.
QStringList mobiles(int count, qint64 first = 13800000001);
