#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QDBusMessage;
class QDBusPendingCall;

// A phone the user paired with KDE Connect and that answers right now.
struct PhoneDevice
{
    QString id;
    QString name;

    friend bool operator==(const PhoneDevice &, const PhoneDevice &) = default;
};

// The user's own phones as the KDE Connect daemon on the session bus knows
// them, kept current as phones come and go, and the two things the program
// asks of one: send an SMS, dial a number. Every call is asynchronous, so the
// window never waits on the daemon or the phone.
class KdeConnectPhones : public QObject
{
    Q_OBJECT

public:
    // ok false: error holds the reason (D-Bus's message, or its error name).
    using Done = std::function<void(bool ok, const QString &error)>;

    explicit KdeConnectPhones(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                              QObject *parent = nullptr);

    // The reachable paired phones of the last answer, in the daemon's order;
    // empty before the first answer and when no daemon runs.
    QList<PhoneDevice> phones() const { return m_phones; }
    QList<PhoneDevice> smsPhones() const { return m_phones; }
    // Has the daemon (or its absence) answered since the start?
    bool hasAnswered() const { return m_answered; }

    // Asks the daemon for its phones again; phonesChanged() follows.
    void refresh();

    // Hands one SMS to the phone, which sends it from its own SIM (the
    // default one). done runs once the daemon took it: KDE Connect reports
    // nothing about the message itself.
    void sendSms(const QString &deviceId, const QString &number, const QString &text, Done done);
    // Asks the phone to dial number (a tel: address shared to it).
    void dial(const QString &deviceId, const QString &number, Done done);

signals:
    // After every answer of the daemon, changed or not.
    void phonesChanged();
    void messageReceived(const QString &deviceId, const QString &number, const QString &text,
                         const QString &stamp);

private slots:
    void onDaemonSignal(const QDBusMessage &message);

private:
    void watch(const QString &path, const QString &interface, const QStringList &signalNames);
    void listed(quint64 generation, const QStringList &ids);
    void named(quint64 generation, const QList<PhoneDevice> &phones);
    void finish(const QDBusPendingCall &call, Done done);

    QDBusConnection m_bus;
    QList<PhoneDevice> m_phones;
    bool m_answered = false;
    // Answers to an older refresh() are dropped when a newer one is under way.
    quint64 m_generation = 0;
};
