#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ConversationReader;
class QDBusMessage;
class QDBusPendingCall;
class QMetaMethod;
class QTimer;

// A device the user paired with KDE Connect and that answers right now: a
// phone, or a tablet or computer, with what the program may ask of it.
struct PhoneDevice
{
    QString id;
    QString name;
    // As the daemon says: "smartphone", "tablet", "desktop", "laptop", "tv",
    // "unknown".
    QString type;
    // The SMS plugin is loaded for it.
    bool canSendSms = false;
    // It can open a tel: address to dial: the share plugin is loaded and it
    // is a phone (its type, or the telephony plugin). A computer that would
    // only open the address on its own screen does not count.
    bool canDial = false;
    // Its conversations are offered (they come with the SMS plugin).
    bool canReadMessages = false;

    friend bool operator==(const PhoneDevice &, const PhoneDevice &) = default;
};

// The user's devices as the KDE Connect daemon on the session bus knows
// them, kept current as they come and go; the two things the program asks
// of a phone (send an SMS, dial a number); and the SMS the phones receive.
// Every call is asynchronous, so the window never waits on the daemon or
// the phone.
class KdeConnectPhones : public QObject
{
    Q_OBJECT

public:
    // ok false: error says why in Chinese (a D-Bus error's name may follow
    // in brackets).
    using Done = std::function<void(bool ok, const QString &error)>;

    explicit KdeConnectPhones(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                              QObject *parent = nullptr);
    ~KdeConnectPhones() override;

    // The reachable paired devices of the last answer, every kind, in the
    // daemon's order; empty before the first answer and when no daemon runs.
    QList<PhoneDevice> phones() const { return m_phones; }
    // Those that can send an SMS.
    QList<PhoneDevice> smsPhones() const;
    // Those that can dial.
    QList<PhoneDevice> dialPhones() const;
    // Has the daemon (or its absence) answered since the start?
    bool hasAnswered() const { return m_answered; }

    // Asks the daemon for its devices again; phonesChanged() follows.
    void refresh();

    // Messages dated up to this time (ms since the epoch) were taken in an
    // earlier run: they are not reported again, and the first read of a
    // phone fetches whole conversations only where something is newer.
    // Unset, everything the phones hold is read.
    void setSeenUntil(qint64 msSinceEpoch);

    // Hands one SMS to the phone, which sends it from its own SIM (the
    // default one). done runs once the daemon took it: KDE Connect reports
    // nothing about the message itself.
    void sendSms(const QString &deviceId, const QString &number, const QString &text, Done done);
    // Asks the phone to dial number (a tel: address shared to it).
    void dial(const QString &deviceId, const QString &number, Done done);

signals:
    // After every answer of the daemon, changed or not.
    void phonesChanged();
    // An SMS the phone received (an inbox message of its conversations):
    // those that arrive while the program runs, and at each connection of a
    // phone those it received before. number as the program keeps mobiles
    // (+86 dropped), stamp the message's date in ms since the epoch, as
    // text. The same message may come again after the phone reconnects or
    // the program restarts. Read only while something listens.
    void messageReceived(const QString &deviceId, const QString &number, const QString &text,
                         const QString &stamp);

protected:
    void connectNotify(const QMetaMethod &signal) override;

private slots:
    void onDaemonSignal(const QDBusMessage &message);

private:
    void watch(const QString &path, const QString &interface, const QStringList &signalNames);
    void listed(quint64 generation, const QStringList &ids);
    void described(quint64 generation, const QList<PhoneDevice> &phones);
    // Runs done later with an error when the device is known not to do what is asked.
    bool refuse(const QString &deviceId, bool PhoneDevice::*can, const QString &what,
                const Done &done);
    void finish(const QString &deviceId, const QDBusPendingCall &call, Done done);
    QString nameOf(const QString &deviceId) const;
    void startReading();

    QDBusConnection m_bus;
    QList<PhoneDevice> m_phones;
    // Every device's name seen in this run, to name one that went away.
    QHash<QString, QString> m_names;
    QTimer *m_refreshSoon = nullptr;
    bool m_answered = false;
    // Answers to an older refresh() are dropped when a newer one is under way.
    quint64 m_generation = 0;
    qint64 m_seenUntil = 0;
    ConversationReader *m_reader = nullptr; // made once something listens for messages
};
