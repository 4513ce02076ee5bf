#pragma once

#include "sending/log/batchlog.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class BatchRunner;
class Command;
class CommandQueue;
class PrepareBatchCommand;
class SendingService;

// Sets batches going, for the send dialog and the log window alike: a new
// batch of chosen recipients (now, or left to a set time), the rest of a
// batch in the log, or a batch's failed recipients (and, when asked, its
// 未确认 ones) again as a new batch. A new batch is written on a worker
// thread through the command queue; while the file is busy or another piece
// of long work runs, it is tried again a moment later. Nothing waits here.
class BatchStarter : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        qint64 batch = 0;              // 0 when none was made
        BatchRunner *runner = nullptr; // when it runs at once
        bool cancelled = false;
        QString error; // why not, in Chinese ("" when it went)
    };
    using Done = std::function<void(const Outcome &outcome)>;

    BatchStarter(SendingService &service, CommandQueue &commands, QObject *parent = nullptr);
    ~BatchStarter() override;

    // Writes the batch, then runs it, or leaves it waiting for scheduledAt
    // when that is valid. Refused while another batch is being written.
    void startNew(const BatchSettings &settings, const QList<BatchRecipient> &recipients,
                  const QDateTime &scheduledAt, Done done);
    // Runs a batch of the log: its waiting recipients, on its devices.
    void continueBatch(qint64 batch, const Done &done);
    // The batch's failed recipients, and its 未确认 ones when asked, minus
    // the numbers on the opt-out list, as a new batch on the same devices.
    void resend(qint64 batch, bool includeUnconfirmed, Done done);

    bool isWriting() const { return m_pending != nullptr; }
    // What the writing waits for ("" while it simply runs).
    QString waitText() const { return m_waitText; }
    // Stops writing the batch; nothing of it stays in the log.
    void cancel();

signals:
    void writingChanged();

private:
    struct Pending;
    void tryWrite();
    void written(Command &command);
    void finish(const Outcome &outcome);

    SendingService &m_service;
    CommandQueue &m_commands;
    std::unique_ptr<Pending> m_pending;
    QString m_waitText;
    QTimer m_retry;
};
