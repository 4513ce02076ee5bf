#pragma once

#include "sending/modeminfo.h"
#include "sending/sendchannel.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class QDBusServiceWatcher;
class QTimer;

// ModemManager on the system bus: the modems it knows, sending through one
// of them, and the messages and delivery reports the modems receive. Every
// call is asynchronous; callbacks run later on the calling thread.
//
// A modem is named by its id (ModemInfo::id), which survives a new object
// path (the modem plugged in again, ModemManager restarted).
class ModemManagerLink : public QObject
{
    Q_OBJECT

public:
    // The states of a message on the modem (Sms.State). A message made here
    // is Unknown until it was sent, also while it is being sent and after a
    // failed attempt.
    enum SmsState : uint {
        Unknown = 0,
        Stored = 1,
        Receiving = 2,
        Received = 3,
        Sending = 4,
        Sent = 5
    };

    // ModemManager waits up to 300 s for the modem to answer a send; ours
    // waits longer, so that ModemManager's own answer comes first.
    static constexpr int DefaultSendTimeoutMs = 330'000;

    explicit ModemManagerLink(const QDBusConnection &bus = QDBusConnection::systemBus(),
                              QObject *parent = nullptr);

    // Every modem ModemManager knows, locked ones included, in path order.
    QList<ModemInfo> modems() const { return m_modems; }
    std::optional<ModemInfo> modem(const QString &id) const;
    // Has ModemManager (or its absence) answered since the start?
    bool hasAnswered() const { return m_answered; }
    // Are messages the modems hold still being read? readingDone() follows.
    bool isReading() const;
    // Reads the modems anew; modemsChanged() follows when they differ.
    void refresh();

    // Enables the modem (Modem.Enable) unless it is enabled already; done(true)
    // once it is, done(false, reason) when it cannot be (no SIM, PIN, refused).
    void enable(const QString &id, std::function<void(bool ok, const QString &error)> done);

    // Makes the message on the modem (asking for a delivery report), then
    // sends it; a disabled modem is enabled first. created(smsPath) runs after
    // the message was made, before it is sent. done runs once: Sent (with the
    // message reference); Failed when the message surely did not leave;
    // Unconfirmed when it may have (no answer in time, ModemManager gone
    // during the send).
    void send(const QString &id, const QString &number, const QString &text,
              const SendChannel::Created &created, const SendChannel::Done &done);
    // The state of a message made earlier on that modem, only when the object
    // at smsPath still holds this number and text (paths are given out again
    // after ModemManager restarts); nullopt otherwise.
    void readSmsState(const QString &id, const QString &smsPath, const QString &number,
                      const QString &text, const std::function<void(std::optional<uint>)> &done);
    // Removes a message from the modem (best effort): a received message or
    // status report once it is kept elsewhere, a sent one no longer needed.
    void deleteSms(const QString &id, const QString &smsPath);
    // Removes the modem's messages made to be sent for which mayDelete(smsPath)
    // says yes (the caller knows which ones are settled), and the status
    // reports this link handed on. done(how many were removed) once they are.
    void cleanUp(const QString &id, const std::function<bool(const QString &smsPath)> &mayDelete,
                 const std::function<void(int removed)> &done = {});

    // For tests: how long a send waits for ModemManager's answer.
    void setSendTimeout(int ms) { m_sendTimeoutMs = ms; }

    // A ModemManager error as the user reads it: the reason in Chinese, then
    // the error's D-Bus name in brackets.
    static QString describeError(const QString &errorName, const QString &errorMessage);

signals:
    // The list, a label, a readiness or a path changed.
    void modemsChanged();
    // Every message listed or announced so far has been read.
    void readingDone();
    // A message the modem received (also those it held when first seen).
    // stamp is the network's time stamp, or, for a message without one, a
    // text made from the modem, the sender and the text, the same at every
    // reading; smsPath is where it lies until deleteSms().
    void messageReceived(const QString &modemId, const QString &number, const QString &text,
                         const QString &stamp, const QString &smsPath);
    // A final delivery report (delivered, or failed for good) for the message
    // with this reference; reports of a network still trying are dropped.
    void statusReport(const QString &modemId, const QString &number, qint64 reference,
                      bool delivered, const QString &reportPath);

private Q_SLOTS:
    void onServiceOwnerChanged(const QString &service, const QString &oldOwner,
                               const QString &newOwner);
    void onInterfacesAdded(const QDBusMessage &message);
    void onInterfacesRemoved(const QDBusMessage &message);
    void onPropertiesChanged(const QDBusMessage &message);
    void onMessageAdded(const QDBusMessage &message);

private:
    using Reply = std::function<void(const QDBusMessage &reply)>;
    using Interfaces = QMap<QString, QVariantMap>;
    struct QueuedCall
    {
        QDBusMessage message;
        Reply then;
    };
    struct Deletion
    {
        QDBusMessage message;
        int attemptsLeft = 0;
        std::function<void(bool removed)> done;
    };

    void call(const QDBusMessage &message, int timeoutMs, const Reply &then);
    // Calls that come in numbers (a modem's held messages) wait their turn:
    // the bus refuses more than 128 replies pending on one connection.
    void queue(const QDBusMessage &message, const Reply &then);
    void pumpQueue();
    void noteReadingDone();
    void removeMessage(const QString &modemPath, const QString &smsPath,
                       const std::function<void(bool removed)> &done);
    void pumpDeletions();
    void readObjects(const QDBusMessage &reply);
    void readSim(const QString &simPath);
    bool isSimOfAModem(const QString &simPath) const;
    void rebuild();
    void failLater(const SendChannel::Done &done, const QString &note);
    void createAndSend(const QString &id, const QString &number, const QString &text,
                       const SendChannel::Created &created, const SendChannel::Done &done);
    void finishEnable(const QString &path, bool ok, const QString &error);
    void listHeldMessages(const QString &modemPath);
    void readMessage(const QString &smsPath, const QString &modemPath);
    void takeMessage(const QString &smsPath, const QString &modemPath, const QVariantMap &sms);
    QString idAt(const QString &modemPath) const;

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_serviceWatcher = nullptr;
    // The modem and SIM objects ModemManager exports, with their properties
    // (a SIM's read apart: the object manager lists only modems).
    QMap<QString, Interfaces> m_objects;
    QSet<QString> m_simsReading;
    QList<ModemInfo> m_modems;
    bool m_refreshing = false;
    bool m_answered = false;
    int m_listing = 0; // List calls under way
    bool m_refreshAgain = false;
    QTimer *m_resync = nullptr;
    // Bumped when ModemManager starts anew: answers of the one before are
    // of no use (paths are given out again).
    quint64 m_generation = 0;
    int m_sendTimeoutMs = DefaultSendTimeoutMs;
    QHash<QString, QList<std::function<void(bool, const QString &)>>> m_enabling;
    QSet<QString> m_listedModems;
    // Messages read (or about to be) since ModemManager started, and those
    // still receiving their parts, with the modem path of each.
    QHash<QString, QString> m_knownMessages;
    QSet<QString> m_receiving;
    QSet<QString> m_handedReports;
    QList<QueuedCall> m_queue;
    int m_callsInFlight = 0;
    QList<Deletion> m_deletions;
    bool m_deleting = false;
};

// One modem as a channel for a batch. A disabled modem is enabled by its
// first send. Present while the modem exists and is not refused (locked,
// no SIM, failed); a modem still enabling or looking for a network counts
// as present.
class ModemChannel : public SendChannel
{
    Q_OBJECT

public:
    ModemChannel(ModemManagerLink &link, const QString &modemId, QObject *parent = nullptr);

    QString deviceId() const override { return m_modemId; }
    QString label() const override;
    // Enables a modem not enabled yet, before anybody is marked.
    void prepare(const Prepared &done) override;
    void send(const QString &number, const QString &text, const Created &created,
              const Done &done) override;
    bool isPresent() const override;
    QString absence() const override;

private:
    bool usable() const;

    ModemManagerLink &m_link;
    QString m_modemId;
    QString m_label; // the SIM as last seen
    bool m_present = false;
};
