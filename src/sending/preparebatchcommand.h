#pragma once

#include "commands/command.h"
#include "sending/log/batchlog.h"

#include <QDateTime>
#include <QList>

// A new batch written to the send log: the batch row and a 待发送 row per
// recipient, through a connection of its own (see Command), in one
// transaction that a cancel rolls back. Nothing is sent from here.
class PrepareBatchCommand : public Command
{
    Q_OBJECT

public:
    // scheduledAt valid: the batch waits for that time (等待定时).
    PrepareBatchCommand(QString databasePath, BatchSettings settings,
                        QList<BatchRecipient> recipients, QDateTime now, QDateTime scheduledAt,
                        QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

    // The batch written, once finished with success (0 before).
    qint64 batch() const { return m_batch; }
    // Once finished without success: another connection held the file longer
    // than the connection waits, and trying again later may work.
    bool wasBusy() const { return m_busy; }

protected:
    bool run(WorkProgress &progress, QString *error) override;

private:
    const QString m_databasePath;
    const BatchSettings m_settings;
    const QList<BatchRecipient> m_recipients;
    const QDateTime m_now;
    const QDateTime m_scheduledAt;
    qint64 m_batch = 0;
    bool m_busy = false;
};
