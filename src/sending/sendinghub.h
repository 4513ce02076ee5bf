#pragma once

#include "sending/batchrunner.h"
#include "sending/sendlog.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class Database;
class KdeConnectPhones;
class ModemManagerLink;

// A modem or a phone a batch can go out through.
struct SendDevice
{
    BatchSettings::Channel channel = BatchSettings::Channel::Modem;
    QString id;
    QString label;
};

// Everything about sending that outlives one dialog: the log, the modems
// and phones, the one batch that runs, the messages the modems receive
// (replies that refuse further messages go on the opt-out list at once) and
// their delivery reports.
class SendingHub : public QObject
{
    Q_OBJECT

public:
    SendingHub(Database &database, const QDBusConnection &systemBus,
               const QDBusConnection &sessionBus, BatchRunner::Clock clock,
               QObject *parent = nullptr);
    ~SendingHub() override;

    SendLog &log() { return m_log; }
    BatchRunner::Clock clock() const { return m_clock; }

    // Modems first, then phones.
    QList<SendDevice> devices() const;

    // The batch that runs, paused or waits (nullptr when none).
    BatchRunner *runner() const { return m_runner; }
    bool isSending() const { return m_runner && m_runner->isActive(); }
    // Makes the runner of a batch on a device (the one before is dropped).
    BatchRunner *makeRunner(qint64 batch, const BatchSettings &settings, const SendDevice &device);

    // Settles recipients left 发送中 by a program that stopped while sending:
    // a message the modem still holds is read back (sent → 已发送), every
    // other one becomes 未确认. done runs once all are settled.
    void settleInterrupted(std::function<void()> done);
    // Takes a batch nobody is to send out of the log (its preparation was
    // cancelled after all its rows had been committed).
    void discardBatch(qint64 batch);

    // Does a reply's whole text refuse further messages (T, TD, N, 退订, 取消)?
    static bool isOptOutReply(const QString &text);

signals:
    void devicesChanged();
    void runnerChanged();
    // The log changed outside a runner: a reply, an opt-out, a delivery report.
    void logChanged();

private:
    void onReceived(const QString &modemId, const QString &number, const QString &text,
                    const QString &stamp, const QString &smsPath);
    void onStatusReport(const QString &modemId, const QString &number, qint64 reference,
                        bool delivered, const QString &reportPath);
    // Runs write now, and again on a timer while the file is busy.
    void writeSoon(std::function<LogWrite()> write);
    void flushWrites();

    SendLog m_log;
    BatchRunner::Clock m_clock;
    ModemManagerLink *m_modems;
    KdeConnectPhones *m_phones;
    QPointer<BatchRunner> m_runner;
    QList<std::function<LogWrite()>> m_pendingWrites;
    QTimer m_retry;
};
