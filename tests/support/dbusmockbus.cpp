#include "support/dbusmockbus.h"

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

namespace {

QString fromDaemon(QProcess &daemon, QDeadlineTimer deadline)
{
    while (!daemon.canReadLine() && !deadline.hasExpired()) {
        if (!daemon.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

} // namespace

DBusMockBus::DBusMockBus(Kind kind)
    : m_kind(kind)
    , m_connectionName(QStringLiteral("dbusmock-test-%1").arg(kind == Kind::Session ? "session"
                                                                                    : "system"))
{
}

DBusMockBus::~DBusMockBus()
{
    for (Service &service : m_services) {
        service.process->kill();
        service.process->waitForFinished();
    }
    QDBusConnection::disconnectFromBus(m_connectionName);
    if (m_daemon) {
        m_daemon->kill();
        m_daemon->waitForFinished();
    }
}

bool DBusMockBus::start(QString *error)
{
    m_daemon = std::make_unique<QProcess>();
    m_daemon->start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!m_daemon->waitForStarted()) {
        *error = QStringLiteral("dbus-daemon: ") + m_daemon->errorString();
        return false;
    }
    m_address = fromDaemon(*m_daemon, QDeadlineTimer(10000));
    if (m_address.isEmpty()) {
        *error = QStringLiteral("dbus-daemon printed no address");
        return false;
    }
    qputenv(m_kind == Kind::Session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS",
            m_address.toUtf8());
    if (!connection().isConnected()) {
        *error = connection().lastError().message();
        return false;
    }
    return true;
}

QDBusConnection DBusMockBus::connection() const
{
    return QDBusConnection::connectToBus(m_address, m_connectionName);
}

bool DBusMockBus::startService(const QString &templateName, const QString &busName,
                               QString *error)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("-m"), QStringLiteral("dbusmock")};
    if (m_kind == Kind::System)
        arguments << QStringLiteral("--system");
    arguments << QStringLiteral("--template")
              << QStringLiteral(LANZHOU_DBUS_MOCKS "/") + templateName;
    // Debian's python3-dbusmock lives with the system's Python.
    process->start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!process->waitForStarted()) {
        *error = QStringLiteral("python3 -m dbusmock: ") + process->errorString();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!connection().interface()->isServiceRegistered(busName)) {
        if (deadline.hasExpired() || process->state() != QProcess::Running) {
            *error = QStringLiteral("the stand-in for %1 did not start").arg(busName);
            return false;
        }
        QThread::msleep(20);
    }
    m_services.push_back({busName, std::move(process)});
    return true;
}

void DBusMockBus::stopService(const QString &busName)
{
    for (auto it = m_services.begin(); it != m_services.end(); ++it) {
        if (it->busName != busName)
            continue;
        it->process->terminate();
        it->process->waitForFinished();
        m_services.erase(it);
        return;
    }
}

QDBusMessage DBusMockBus::call(const QString &busName, const QString &path,
                               const QString &interface, const QString &method,
                               const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(busName, path, interface, method);
    message.setArguments(arguments);
    return connection().call(message);
}

QVariant DBusMockBus::property(const QString &busName, const QString &path,
                               const QString &interface, const QString &name) const
{
    const QDBusMessage reply = call(busName, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}
