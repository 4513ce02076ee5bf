#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>

#include <memory>
#include <vector>

class QProcess;

// A private D-Bus bus for one test run, with python3-dbusmock stand-ins for
// the services the program talks to. start() names the bus in the
// environment (DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS), so the
// code under test finds it the way it finds the real one; start it before
// anything opens that bus.
class DBusMockBus
{
public:
    enum class Kind { Session, System };

    explicit DBusMockBus(Kind kind);
    ~DBusMockBus();
    DBusMockBus(const DBusMockBus &) = delete;
    DBusMockBus &operator=(const DBusMockBus &) = delete;

    bool start(QString *error);
    QString address() const { return m_address; }
    // A connection of the test's own to the bus.
    QDBusConnection connection() const;

    // Starts a stand-in from a template in tests/support/dbusmocks/
    // ("kdeconnect.py") and waits until it owns busName.
    bool startService(const QString &templateName, const QString &busName, QString *error);
    // Ends the stand-in that owns busName, as when the real service quits.
    void stopService(const QString &busName);

    // Steers a stand-in (blocking, test side only); the reply, or an error message.
    QDBusMessage call(const QString &busName, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &arguments = {}) const;
    // A property of a stand-in's object, read back.
    QVariant property(const QString &busName, const QString &path, const QString &interface,
                      const QString &name) const;

private:
    struct Service
    {
        QString busName;
        std::unique_ptr<QProcess> process;
    };

    Kind m_kind;
    QString m_connectionName;
    QString m_address;
    std::unique_ptr<QProcess> m_daemon;
    std::vector<Service> m_services;
};
