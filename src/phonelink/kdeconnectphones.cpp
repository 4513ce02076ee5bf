#include "phonelink/kdeconnectphones.h"

#include "phonelink/conversationreader.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaMethod>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

const QString Service = QStringLiteral("org.kde.kdeconnect");
const QString DaemonPath = QStringLiteral("/modules/kdeconnect");
const QString DaemonInterface = QStringLiteral("org.kde.kdeconnect.daemon");
const QString DeviceInterface = QStringLiteral("org.kde.kdeconnect.device");

// Signals of the daemon and its devices come in bursts (a phone arriving
// says reachable, plugins, status icon, list changed): one refresh for all.
constexpr int RefreshDelayMs = 20;

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

PhoneDevice describe(const QString &id, const QVariantMap &properties,
                     const QStringList &loadedPlugins, bool loadedKnown)
{
    PhoneDevice device;
    device.id = id;
    device.name = properties.value(QStringLiteral("name")).toString();
    if (device.name.isEmpty())
        device.name = id;
    device.type = properties.value(QStringLiteral("type")).toString();
    // What the device supports and the user did not switch off.
    const QStringList supported =
        properties.value(QStringLiteral("supportedPlugins")).toStringList();
    const auto has = [&](const QString &plugin) {
        return supported.contains(plugin) && (!loadedKnown || loadedPlugins.contains(plugin));
    };
    const bool phone =
        device.type == QStringLiteral("smartphone") || device.type == QStringLiteral("phone");
    device.canSendSms = has(QStringLiteral("kdeconnect_sms"));
    device.canReadMessages = device.canSendSms;
    device.canDial = has(QStringLiteral("kdeconnect_share"))
        && (phone || has(QStringLiteral("kdeconnect_telephony")));
    return device;
}

QString describeError(const QDBusError &error, const QString &device)
{
    switch (error.type()) {
    case QDBusError::UnknownObject:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
        // The daemon drops a device's plugin objects when the link breaks.
        return QStringLiteral("手机“%1”已经断开，或不在连接范围内（%2）").arg(device, error.name());
    case QDBusError::ServiceUnknown:
        return QStringLiteral("KDE Connect 没有运行（%1）").arg(error.name());
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return QStringLiteral("KDE Connect 没有回应（%1）").arg(error.name());
    case QDBusError::Disconnected:
        return QStringLiteral("没有连接到桌面会话总线（%1）").arg(error.name());
    case QDBusError::AccessDenied:
        return QStringLiteral("KDE Connect 拒绝了请求（%1）").arg(error.name());
    default:
        return QStringLiteral("手机“%1”未能接受请求（%2：%3）")
            .arg(device, error.name(), error.message());
    }
}

} // namespace

Q_DECLARE_METATYPE(SmsAddress)

KdeConnectPhones::KdeConnectPhones(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<SmsAddress>();
    auto *soon = new QTimer(this);
    soon->setSingleShot(true);
    soon->setInterval(RefreshDelayMs);
    connect(soon, &QTimer::timeout, this, &KdeConnectPhones::refresh);
    m_refreshSoon = soon;
    watch(DaemonPath, DaemonInterface,
          {QStringLiteral("deviceAdded"), QStringLiteral("deviceRemoved"),
           QStringLiteral("deviceVisibilityChanged"), QStringLiteral("deviceListChanged")});
    // Pairing, reachability and plugins of one device are said on its own object.
    watch(QString(), DeviceInterface,
          {QStringLiteral("reachableChanged"), QStringLiteral("trustedChanged"),
           QStringLiteral("nameChanged"), QStringLiteral("typeChanged"),
           QStringLiteral("pluginsChanged")});
    auto *daemonWatch = new QDBusServiceWatcher(Service, m_bus,
                                                QDBusServiceWatcher::WatchForRegistration
                                                    | QDBusServiceWatcher::WatchForUnregistration,
                                                this);
    connect(daemonWatch, &QDBusServiceWatcher::serviceRegistered, this, &KdeConnectPhones::refresh);
    connect(daemonWatch, &QDBusServiceWatcher::serviceUnregistered, this,
            &KdeConnectPhones::refresh);
    refresh();
}

KdeConnectPhones::~KdeConnectPhones() = default;

QList<PhoneDevice> KdeConnectPhones::smsPhones() const
{
    QList<PhoneDevice> able;
    std::copy_if(m_phones.cbegin(), m_phones.cend(), std::back_inserter(able),
                 [](const PhoneDevice &phone) { return phone.canSendSms; });
    return able;
}

QList<PhoneDevice> KdeConnectPhones::dialPhones() const
{
    QList<PhoneDevice> able;
    std::copy_if(m_phones.cbegin(), m_phones.cend(), std::back_inserter(able),
                 [](const PhoneDevice &phone) { return phone.canDial; });
    return able;
}

void KdeConnectPhones::watch(const QString &path, const QString &interface,
                             const QStringList &signalNames)
{
    for (const QString &name : signalNames)
        m_bus.connect(Service, path, interface, name, this, SLOT(onDaemonSignal(QDBusMessage)));
}

void KdeConnectPhones::onDaemonSignal(const QDBusMessage &)
{
    m_refreshSoon->start();
}

void KdeConnectPhones::refresh()
{
    m_refreshSoon->stop();
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
        described(generation, {});
        return;
    }
    // Two calls a device (its properties, the plugins it has loaded); the
    // list is complete once all answered.
    auto waiting = std::make_shared<qsizetype>(2 * ids.size());
    auto loaded = std::make_shared<QList<std::optional<QStringList>>>(ids.size());
    auto properties = std::make_shared<QList<std::optional<QVariantMap>>>(ids.size());
    const auto oneAnswered = [this, generation, ids, waiting, loaded, properties] {
        if (--*waiting > 0)
            return;
        QList<PhoneDevice> phones;
        for (qsizetype i = 0; i < ids.size(); ++i) {
            if (!properties->at(i))
                continue; // gone between the list and its properties
            const std::optional<QStringList> &plugins = loaded->at(i);
            phones.append(describe(ids.at(i), *properties->at(i), plugins.value_or(QStringList()),
                                   plugins.has_value()));
        }
        described(generation, phones);
    };
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QString path = devicePath(ids.at(i));
        QDBusMessage getAll = QDBusMessage::createMethodCall(
            Service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("GetAll"));
        getAll << DeviceInterface;
        auto *propertiesWatch = new QDBusPendingCallWatcher(m_bus.asyncCall(getAll), this);
        connect(propertiesWatch, &QDBusPendingCallWatcher::finished, this,
                [properties, i, oneAnswered](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<QVariantMap> reply = *finished;
                    if (!reply.isError())
                        (*properties)[i] = reply.value();
                    oneAnswered();
                });
        const QDBusMessage plugins = QDBusMessage::createMethodCall(
            Service, path, DeviceInterface, QStringLiteral("loadedPlugins"));
        auto *pluginsWatch = new QDBusPendingCallWatcher(m_bus.asyncCall(plugins), this);
        connect(pluginsWatch, &QDBusPendingCallWatcher::finished, this,
                [loaded, i, oneAnswered](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<QStringList> reply = *finished;
                    if (!reply.isError())
                        (*loaded)[i] = reply.value();
                    oneAnswered();
                });
    }
}

void KdeConnectPhones::described(quint64 generation, const QList<PhoneDevice> &phones)
{
    if (generation != m_generation)
        return;
    m_phones = phones;
    for (const PhoneDevice &phone : phones)
        m_names.insert(phone.id, phone.name);
    m_answered = true;
    if (m_reader) {
        QStringList readable;
        for (const PhoneDevice &phone : phones) {
            if (phone.canReadMessages)
                readable.append(phone.id);
        }
        m_reader->setPhones(readable);
    }
    emit phonesChanged();
}

void KdeConnectPhones::setSeenUntil(qint64 msSinceEpoch)
{
    m_seenUntil = msSinceEpoch;
    if (m_reader)
        m_reader->setSeenUntil(msSinceEpoch);
}

void KdeConnectPhones::connectNotify(const QMetaMethod &signal)
{
    if (signal == QMetaMethod::fromSignal(&KdeConnectPhones::messageReceived))
        startReading();
}

void KdeConnectPhones::startReading()
{
    if (m_reader)
        return;
    m_reader = new ConversationReader(m_bus, this);
    m_reader->setSeenUntil(m_seenUntil);
    connect(m_reader, &ConversationReader::messageReceived, this,
            &KdeConnectPhones::messageReceived);
    if (m_answered)
        described(m_generation, m_phones);
}

QString KdeConnectPhones::nameOf(const QString &deviceId) const
{
    return m_names.value(deviceId, deviceId);
}

bool KdeConnectPhones::refuse(const QString &deviceId, bool PhoneDevice::*can, const QString &what,
                              const Done &done)
{
    const auto known = std::find_if(m_phones.cbegin(), m_phones.cend(),
                                    [&](const PhoneDevice &phone) { return phone.id == deviceId; });
    if (known == m_phones.cend() || (*known).*can)
        return false;
    const QString reason = QStringLiteral("“%1”不能%2，请选一部手机").arg(known->name, what);
    QTimer::singleShot(0, this, [done, reason] { done(false, reason); });
    return true;
}

void KdeConnectPhones::sendSms(const QString &deviceId, const QString &number, const QString &text,
                               Done done)
{
    if (refuse(deviceId, &PhoneDevice::canSendSms, QStringLiteral("发短信"), done))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, devicePath(deviceId) + QStringLiteral("/sms"),
        QStringLiteral("org.kde.kdeconnect.device.sms"), QStringLiteral("sendSms"));
    // One address a call: several addresses in one call make a group MMS.
    const QVariantList addresses{QVariant::fromValue(SmsAddress{number})};
    const QVariantList attachments;
    call << addresses << text << attachments << qint64(-1); // -1: the phone's default SIM
    finish(deviceId, m_bus.asyncCall(call), std::move(done));
}

void KdeConnectPhones::dial(const QString &deviceId, const QString &number, Done done)
{
    if (refuse(deviceId, &PhoneDevice::canDial, QStringLiteral("拨打电话"), done))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, devicePath(deviceId) + QStringLiteral("/share"),
        QStringLiteral("org.kde.kdeconnect.device.share"), QStringLiteral("shareUrl"));
    call << QStringLiteral("tel:") + number;
    finish(deviceId, m_bus.asyncCall(call), std::move(done));
}

void KdeConnectPhones::finish(const QString &deviceId, const QDBusPendingCall &call, Done done)
{
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, deviceId, done = std::move(done)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusError error = finished->error();
                if (!error.isValid()) {
                    done(true, QString());
                    return;
                }
                done(false, describeError(error, nameOf(deviceId)));
            });
}
