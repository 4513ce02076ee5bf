#include "phonelink/kdeconnectphones.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <memory>

namespace {

const QString Service = QStringLiteral("org.kde.kdeconnect");
const QString DaemonPath = QStringLiteral("/modules/kdeconnect");
const QString DaemonInterface = QStringLiteral("org.kde.kdeconnect.daemon");
const QString DeviceInterface = QStringLiteral("org.kde.kdeconnect.device");

QString devicePath(const QString &deviceId)
{
    return DaemonPath + QStringLiteral("/devices/") + deviceId;
}

// One recipient of sendSms: the daemon takes each address as a struct (s)
// inside a variant.
struct SmsAddress
{
    QString address;
};

QDBusArgument &operator<<(QDBusArgument &argument, const SmsAddress &value)
{
    argument.beginStructure();
    argument << value.address;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, SmsAddress &value)
{
    argument.beginStructure();
    argument >> value.address;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(SmsAddress)

KdeConnectPhones::KdeConnectPhones(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<SmsAddress>();
    watch(DaemonPath, DaemonInterface,
          {QStringLiteral("deviceAdded"), QStringLiteral("deviceRemoved"),
           QStringLiteral("deviceVisibilityChanged"), QStringLiteral("deviceListChanged")});
    // Pairing and reachability of one phone are said on its own object.
    watch(QString(), DeviceInterface,
          {QStringLiteral("reachableChanged"), QStringLiteral("pairStateChanged"),
           QStringLiteral("trustedChanged"), QStringLiteral("nameChanged")});
    auto *daemonWatch = new QDBusServiceWatcher(
        Service, m_bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(daemonWatch, &QDBusServiceWatcher::serviceRegistered, this, &KdeConnectPhones::refresh);
    connect(daemonWatch, &QDBusServiceWatcher::serviceUnregistered, this,
            &KdeConnectPhones::refresh);
    refresh();
}

void KdeConnectPhones::watch(const QString &path, const QString &interface,
                             const QStringList &signalNames)
{
    for (const QString &name : signalNames)
        m_bus.connect(Service, path, interface, name, this,
                      SLOT(onDaemonSignal(QDBusMessage)));
}

void KdeConnectPhones::onDaemonSignal(const QDBusMessage &)
{
    refresh();
}

void KdeConnectPhones::refresh()
{
    const quint64 generation = ++m_generation;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, DaemonPath, DaemonInterface,
                                                       QStringLiteral("devices"));
    call << true << true; // only reachable, only paired
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<QStringList> reply = *finished;
                // No daemon, or one that refuses: no phone to offer.
                listed(generation, reply.isError() ? QStringList() : reply.value());
            });
}

void KdeConnectPhones::listed(quint64 generation, const QStringList &ids)
{
    if (generation != m_generation)
        return;
    if (ids.isEmpty()) {
        named(generation, {});
        return;
    }
    // The names come one call a phone; the list is complete once all answered.
    auto phones = std::make_shared<QList<PhoneDevice>>();
    auto waiting = std::make_shared<qsizetype>(ids.size());
    for (const QString &id : ids) {
        phones->append({id, id});
        const qsizetype index = phones->size() - 1;
        QDBusMessage get = QDBusMessage::createMethodCall(
            Service, devicePath(id), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << DeviceInterface << QStringLiteral("name");
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, generation, phones, waiting, index](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<QDBusVariant> reply = *finished;
                    const QString name = reply.isError() ? QString()
                                                         : reply.value().variant().toString();
                    if (!name.isEmpty())
                        (*phones)[index].name = name;
                    if (--*waiting == 0)
                        named(generation, *phones);
                });
    }
}

void KdeConnectPhones::named(quint64 generation, const QList<PhoneDevice> &phones)
{
    if (generation != m_generation)
        return;
    m_phones = phones;
    m_answered = true;
    emit phonesChanged();
}

void KdeConnectPhones::sendSms(const QString &deviceId, const QString &number,
                               const QString &text, Done done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, devicePath(deviceId) + QStringLiteral("/sms"),
        QStringLiteral("org.kde.kdeconnect.device.sms"), QStringLiteral("sendSms"));
    // One address a call: several addresses in one call make a group MMS.
    const QVariantList addresses{QVariant::fromValue(SmsAddress{number})};
    const QVariantList attachments;
    call << addresses << text << attachments << qint64(-1); // -1: the phone's default SIM
    finish(m_bus.asyncCall(call), std::move(done));
}

void KdeConnectPhones::dial(const QString &deviceId, const QString &number, Done done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, devicePath(deviceId) + QStringLiteral("/share"),
        QStringLiteral("org.kde.kdeconnect.device.share"), QStringLiteral("shareUrl"));
    call << QStringLiteral("tel:") + number;
    finish(m_bus.asyncCall(call), std::move(done));
}

void KdeConnectPhones::finish(const QDBusPendingCall &call, Done done)
{
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusError error = finished->error();
                if (!error.isValid()) {
                    done(true, QString());
                    return;
                }
                done(false, error.message().isEmpty() ? error.name() : error.message());
            });
}
