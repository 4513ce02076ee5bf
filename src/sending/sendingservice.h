#pragma once

#include "sending/batchrunner.h"
#include "sending/log/batchlog.h"
#include "sending/log/inbox.h"
#include "sending/log/optoutlist.h"
#include "sending/log/sendledger.h"
#include "sending/log/sendsettings.h"
#include "sending/pendingwrites.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>

class Database;
class KdeConnectPhones;
class ModemManagerLink;

// A modem (its SIM) or a phone a batch can go out through, as the send
// dialog lists it.
struct SendDevice
{
    BatchSettings::Channel channel = BatchSettings::Channel::Modem;
    QString id;
    QString label;      // the dialog's entry, with its state
    QString shortLabel; // how the log names it
    bool usable = true; // may be chosen
};

// Everything about sending that outlives a window: the log, the devices, the
// batch that runs and those waiting their turn or their time, and what the
// devices receive (a reply that refuses further messages goes on the opt-out
// list, and nothing is sent to that number even before the list took it;
// delivery reports settle their records). A message is removed from a modem
// once the log holds what it said.
class SendingService : public QObject
{
    Q_OBJECT

public:
    using Clock = BatchServices::Clock;

    SendingService(Database &database, ModemManagerLink &modems, KdeConnectPhones &phones,
                   Clock clock, QObject *parent = nullptr);
    ~SendingService() override;

    BatchLog &log() { return m_log; }
    Inbox &inbox() { return m_inbox; }
    OptOutList &optOuts() { return m_optOuts; }
    SendSettings &settings() { return m_settings; }
    PendingWrites &writes() { return m_writes; }
    Clock clock() const { return m_clock; }

    // Modems first, then the phones that can send SMS.
    QList<SendDevice> devices() const;
    // When a batch of this many recipients would be done if it began at
    // from (see SendPlan).
    SendPlan::Result plan(const BatchSettings &settings, int recipients,
                          const QDateTime &from) const;

    // The batch that runs, waits or is paused (nullptr when none).
    BatchRunner *runner() const { return m_runner; }
    bool isSending() const { return m_runner && m_runner->isActive(); }
    // Runs a batch of the log through its devices: now, or once the one
    // that runs has ended. Gives the runner when it started at once.
    BatchRunner *run(qint64 batch);
    // Batches waiting for the one that runs.
    QList<qint64> queued() const { return m_queue; }

    // Settles recipients left 发送中 by a program that stopped while sending:
    // only the modem itself saying "sent" makes one 已发送; every other one
    // becomes 未确认 and is never sent again by itself. done runs once all
    // are settled.
    void settleInterrupted(std::function<void()> done);
    // Takes a batch nobody is to send out of the log (its preparation was
    // cancelled after all its rows had been committed).
    void discardBatch(qint64 batch);
    // Reads the scheduled batches again (one was made, moved or dropped):
    // each starts at its time while the program runs. Those whose time had
    // passed before now are left to the caller to offer.
    void scheduleChanged();
    // The program is going: nothing more leaves.
    void stopForExit();
    bool isExiting() const { return m_exiting; }

signals:
    void devicesChanged();
    void runnerChanged();
    // The log changed outside a runner: a reply, an opt-out, a report.
    void logChanged();
    // A scheduled batch reached its time and was started or queued.
    void scheduledStarted(qint64 batch);

private:
    SendChannel *channelFor(BatchSettings::Channel channel, const QString &device);
    void startNext();
    void onModemMessage(const QString &modemId, const QString &number, const QString &text,
                        const QString &stamp, const QString &smsPath);
    void onPhoneMessage(const QString &phoneId, const QString &number, const QString &text,
                        const QString &stamp);
    void takeReply(const QString &device, const QString &number, const QString &text,
                   const QString &stamp, const QString &smsPath);
    void onStatusReport(const QString &modemId, const QString &number, qint64 reference,
                        bool delivered, const QString &reportPath);
    // Removes a sent message from its modem once it is verified to be the
    // one the record names.
    void removeSent(const SendRecord &record);
    void sweepModems();
    void nameDevices();
    void checkSchedule();

    Database &m_database;
    ModemManagerLink &m_modems;
    KdeConnectPhones &m_phones;
    Clock m_clock;
    BatchLog m_log;
    SendLedger m_ledger;
    Inbox m_inbox;
    OptOutList m_optOuts;
    SendSettings m_settings;
    PendingWrites m_writes;
    QSet<QString> m_optOutsUnwritten;
    QHash<QString, QString> m_named; // the device names written to the log
    QSet<qint64> m_starting;         // scheduled batches being started
    QSet<QString> m_sweptModems;     // the modems there at the last sweep
    QPointer<BatchRunner> m_runner;
    QList<qint64> m_queue;
    QTimer m_sweep;
    QTimer m_schedule;
    QDateTime m_scheduleSince; // batches due before this were there at the start
    bool m_exiting = false;
};
