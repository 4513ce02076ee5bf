#include "sending/modemmanagerlink.h"

#include "sending/batchrecipients.h"
#include "sending/modemerrors.h"

#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

#include <algorithm>

namespace {

const QString Service = QStringLiteral("org.freedesktop.ModemManager1");
const QString RootPath = QStringLiteral("/org/freedesktop/ModemManager1");
const QString ObjectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString ModemInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem");
const QString MessagingInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem.Messaging");
const QString SimInterface = QStringLiteral("org.freedesktop.ModemManager1.Sim");
const QString SmsInterface = QStringLiteral("org.freedesktop.ModemManager1.Sms");
const QString InterfacePrefix = QStringLiteral("org.freedesktop.ModemManager1.");
const QString Prefix = QStringLiteral("org.freedesktop.ModemManager1.Error.");

constexpr int ShortCallMs = 25'000;
// Enabling waits for the modem's answers to a few dozen commands.
constexpr int EnableCallMs = 120'000;
constexpr int MaxCallsInFlight = 8;
constexpr int RetryMs = 200;
constexpr int SimRetryMs = 1000;
constexpr int ResyncMs = 20'000;
constexpr int DeleteAttempts = 50;

// Sms.PduType
constexpr uint DeliverPdu = 1;
constexpr uint StatusReportPdu = 3;
constexpr uint CdmaDeliverPdu = 32;

// Is a status report's DeliveryState final, and was the message delivered?
// GSM (23.040 TP-Status): below 0x20 delivered; 0x20..0x3F the network still
// tries; from 0x40 it gave up. 0x100 is ModemManager's "unknown"; CDMA's
// permanent errors lie at 0x2xx, its temporary ones at 0x3xx.
std::optional<bool> deliveryOutcome(uint state)
{
    if (state < 0x20)
        return true;
    if (state < 0x40 || state == 0x100 || (state >= 0x300 && state < 0x400))
        return std::nullopt;
    return false;
}

QVariantMap mapOf(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

QMap<QString, QVariantMap> interfacesOf(const QVariant &value)
{
    QMap<QString, QVariantMap> interfaces;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> interfaces;
    return interfaces;
}

bool isOurs(const QMap<QString, QVariantMap> &interfaces)
{
    return interfaces.contains(ModemInterface) || interfaces.contains(SimInterface);
}

// "/org/freedesktop/ModemManager1/Modem/10" after ".../Modem/9".
bool pathLess(const ModemInfo &a, const ModemInfo &b)
{
    const QString aNumber = a.path.section(u'/', -1);
    const QString bNumber = b.path.section(u'/', -1);
    if (aNumber.size() != bNumber.size())
        return aNumber.size() < bNumber.size();
    return a.path < b.path;
}

// A received message's time stamp, or for one without (some modems and
// networks send none) a text that is the same whenever the same message is
// read again, whatever its object path.
QString stampOf(const QString &modemId, const QVariantMap &sms)
{
    QString stamp = sms.value(QStringLiteral("Timestamp")).toString();
    if (!stamp.isEmpty())
        return stamp;
    const QString content = QStringList{modemId, sms.value(QStringLiteral("Number")).toString(),
                                        sms.value(QStringLiteral("Text")).toString(),
                                        sms.value(QStringLiteral("SMSC")).toString()}
                                .join(u'\n');
    return QStringLiteral("无时间戳-")
        + QString::fromLatin1(QCryptographicHash::hash(content.toUtf8(), QCryptographicHash::Sha1)
                                  .toHex()
                                  .left(16));
}

} // namespace

ModemManagerLink::ModemManagerLink(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_serviceWatcher =
        new QDBusServiceWatcher(Service, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &ModemManagerLink::onServiceOwnerChanged);
    m_bus.connect(Service, RootPath, ObjectManagerInterface, QStringLiteral("InterfacesAdded"),
                  this, SLOT(onInterfacesAdded(QDBusMessage)));
    m_bus.connect(Service, RootPath, ObjectManagerInterface, QStringLiteral("InterfacesRemoved"),
                  this, SLOT(onInterfacesRemoved(QDBusMessage)));
    // Signal, operator, state and registration change only through these.
    m_bus.connect(Service, QString(), PropertiesInterface, QStringLiteral("PropertiesChanged"),
                  this, SLOT(onPropertiesChanged(QDBusMessage)));
    m_bus.connect(Service, QString(), MessagingInterface, QStringLiteral("Added"), this,
                  SLOT(onMessageAdded(QDBusMessage)));
    // The list is read again now and then: a modem whose InterfacesAdded
    // never arrived (seen once, under load) would stay hidden until the
    // program starts again.
    m_resync = new QTimer(this);
    connect(m_resync, &QTimer::timeout, this, &ModemManagerLink::refresh);
    m_resync->start(ResyncMs);
    refresh();
}

std::optional<ModemInfo> ModemManagerLink::modem(const QString &id) const
{
    for (const ModemInfo &info : m_modems) {
        if (info.id == id)
            return info;
    }
    return std::nullopt;
}

QString ModemManagerLink::idAt(const QString &modemPath) const
{
    for (const ModemInfo &info : m_modems) {
        if (info.path == modemPath)
            return info.id;
    }
    return {};
}

void ModemManagerLink::call(const QDBusMessage &message, int timeoutMs, const Reply &then)
{
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [then](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                then(finished->reply());
            });
}

void ModemManagerLink::queue(const QDBusMessage &message, const Reply &then)
{
    m_queue.append({message, then});
    pumpQueue();
}

void ModemManagerLink::pumpQueue()
{
    while (m_callsInFlight < MaxCallsInFlight && !m_queue.isEmpty()) {
        const QueuedCall next = m_queue.takeFirst();
        ++m_callsInFlight;
        const quint64 generation = m_generation;
        call(next.message, ShortCallMs, [this, next, generation](const QDBusMessage &reply) {
            --m_callsInFlight;
            if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.LimitsExceeded")
                && generation == m_generation) {
                // Someone else's calls fill the bus's quota: try again shortly.
                QTimer::singleShot(RetryMs, this, [this, next] { queue(next.message, next.then); });
            } else if (generation == m_generation) {
                next.then(reply);
            }
            pumpQueue();
            noteReadingDone();
        });
    }
}

void ModemManagerLink::refresh()
{
    if (!m_bus.isConnected()) {
        m_answered = true; // no bus: nothing will ever be listed
        return;
    }
    if (m_refreshing) {
        m_refreshAgain = true;
        return;
    }
    m_refreshing = true;
    call(QDBusMessage::createMethodCall(Service, RootPath, ObjectManagerInterface,
                                        QStringLiteral("GetManagedObjects")),
         ShortCallMs, [this](const QDBusMessage &reply) {
             m_refreshing = false;
             m_answered = true;
             // A slow or refused answer says nothing about the modems: the
             // list stays as it was (ModemManager's leaving comes through
             // the service watcher).
             const bool told = reply.type() == QDBusMessage::ReplyMessage
                 || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
                 || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
             if (told)
                 readObjects(reply);
             if (m_refreshAgain) {
                 m_refreshAgain = false;
                 refresh();
             }
         });
}

void ModemManagerLink::onServiceOwnerChanged(const QString &, const QString &,
                                             const QString &newOwner)
{
    // ModemManager went away or started anew: its objects and paths are gone.
    ++m_generation;
    m_objects.clear();
    m_simsReading.clear();
    m_listedModems.clear();
    m_knownMessages.clear();
    m_receiving.clear();
    m_handedReports.clear();
    m_queue.clear();
    m_deletions.clear();
    m_deleting = false;
    rebuild();
    const auto enabling = m_enabling.keys();
    for (const QString &path : enabling)
        finishEnable(
            path, false,
            describeError(QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"), QString()));
    if (!newOwner.isEmpty())
        refresh();
}

void ModemManagerLink::readObjects(const QDBusMessage &reply)
{
    QMap<QString, Interfaces> objects;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto argument = reply.arguments().constFirst().value<QDBusArgument>();
        argument.beginMap();
        while (!argument.atEnd()) {
            QDBusObjectPath path;
            Interfaces interfaces;
            argument.beginMapEntry();
            argument >> path >> interfaces;
            argument.endMapEntry();
            if (isOurs(interfaces))
                objects.insert(path.path(), interfaces);
        }
        argument.endMap();
    }
    // SIMs are not among the managed objects: keep those read already.
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        if (!it.value().contains(ModemInterface) && it.value().contains(SimInterface))
            objects.insert(it.key(), it.value());
    }
    m_objects = objects;
    rebuild();
}

void ModemManagerLink::readSim(const QString &simPath)
{
    m_simsReading.insert(simPath);
    QDBusMessage getAll = QDBusMessage::createMethodCall(Service, simPath, PropertiesInterface,
                                                         QStringLiteral("GetAll"));
    getAll << SimInterface;
    const quint64 generation = m_generation;
    call(getAll, ShortCallMs, [this, simPath, generation](const QDBusMessage &reply) {
        if (generation != m_generation)
            return;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            // Not exported yet, or ModemManager too slow to answer: the
            // modem stays unlisted until its SIM is read, since an id from
            // the IMEI now and the ICCID later would split its caps.
            QTimer::singleShot(SimRetryMs, this, [this, simPath, generation] {
                if (generation != m_generation)
                    return;
                if (isSimOfAModem(simPath))
                    readSim(simPath);
                else
                    m_simsReading.remove(simPath);
            });
            return;
        }
        m_simsReading.remove(simPath);
        m_objects[simPath][SimInterface] = mapOf(reply.arguments().value(0));
        rebuild();
    });
}

bool ModemManagerLink::isSimOfAModem(const QString &simPath) const
{
    return std::any_of(m_objects.cbegin(), m_objects.cend(), [&simPath](const Interfaces &object) {
        return object.value(ModemInterface).value(QStringLiteral("Sim")).value<QDBusObjectPath>().path()
            == simPath;
    });
}

void ModemManagerLink::onInterfacesAdded(const QDBusMessage &message)
{
    const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
    const Interfaces added = interfacesOf(message.arguments().value(1));
    if (!isOurs(added) && !m_objects.contains(path))
        return; // a message: those come through Messaging.Added
    Interfaces &interfaces = m_objects[path];
    for (auto it = added.cbegin(); it != added.cend(); ++it)
        interfaces.insert(it.key(), it.value());
    rebuild();
}

void ModemManagerLink::onInterfacesRemoved(const QDBusMessage &message)
{
    const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
    if (!m_objects.contains(path))
        return;
    Interfaces &interfaces = m_objects[path];
    for (const QString &name : message.arguments().value(1).toStringList())
        interfaces.remove(name);
    if (!isOurs(interfaces))
        m_objects.remove(path);
    rebuild();
}

void ModemManagerLink::onPropertiesChanged(const QDBusMessage &message)
{
    const QString path = message.path();
    const QList<QVariant> arguments = message.arguments();
    const QString interface = arguments.value(0).toString();
    if (!interface.startsWith(InterfacePrefix))
        return;
    const QVariantMap changed = mapOf(arguments.value(1));
    if (m_objects.contains(path)) {
        if (!m_objects[path].contains(interface))
            return; // its InterfacesAdded brings every property
        QVariantMap &properties = m_objects[path][interface];
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            properties.insert(it.key(), it.value());
        if (!arguments.value(2).toStringList().isEmpty())
            refresh(); // told only that they changed: read them anew
        rebuild();
        return;
    }
    // A long message whose last part came in.
    if (interface == SmsInterface && m_receiving.contains(path)
        && changed.value(QStringLiteral("State")).toUInt() == Received) {
        m_receiving.remove(path);
        const QString modemPath = m_knownMessages.value(path);
        m_knownMessages.remove(path);
        readMessage(path, modemPath);
    }
}

void ModemManagerLink::rebuild()
{
    QList<ModemInfo> modems;
    QSet<QString> sims;
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        const QVariantMap modem = it.value().value(ModemInterface);
        if (modem.isEmpty())
            continue;
        const QString simPath = modem.value(QStringLiteral("Sim")).value<QDBusObjectPath>().path();
        if (!simPath.isEmpty() && simPath != QLatin1String("/")) {
            sims.insert(simPath);
            // Listed once its SIM is read, so that its id does not change.
            if (!m_objects.contains(simPath)) {
                if (!m_simsReading.contains(simPath))
                    readSim(simPath);
                continue;
            }
        }
        modems.append(ModemInfo::fromProperties(it.key(), it.value(),
                                                m_objects.value(simPath).value(SimInterface)));
    }
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (!it.value().contains(ModemInterface) && !sims.contains(it.key()))
            it = m_objects.erase(it);
        else
            ++it;
    }
    std::sort(modems.begin(), modems.end(), pathLess);

    QSet<QString> present;
    for (const ModemInfo &modem : std::as_const(modems)) {
        present.insert(modem.path);
        // A modem reads its SIM's messages when it is enabled: only then
        // does ModemManager list them.
        const bool listable = modem.state >= ModemInfo::StateEnabled
            && m_objects.value(modem.path).contains(MessagingInterface);
        if (listable && !m_listedModems.contains(modem.path)) {
            m_listedModems.insert(modem.path);
            listHeldMessages(modem.path);
        }
    }
    m_listedModems.intersect(present);

    if (modems != m_modems) {
        m_modems = modems;
        emit modemsChanged();
    }
}

void ModemManagerLink::enable(const QString &id,
                              std::function<void(bool ok, const QString &error)> done)
{
    const std::optional<ModemInfo> info = modem(id);
    const auto later = [this, done](bool ok, const QString &error) {
        QTimer::singleShot(0, this, [done, ok, error] { done(ok, error); });
    };
    if (!info) {
        later(false, QStringLiteral("短信猫已经不在了"));
        return;
    }
    if (info->state >= ModemInfo::StateEnabled) {
        later(true, QString());
        return;
    }
    using R = ModemInfo::Readiness;
    if (info->readiness == R::Locked || info->readiness == R::NoSim
        || info->readiness == R::Failed) {
        later(false, info->problem);
        return;
    }
    QList<std::function<void(bool, const QString &)>> &waiting = m_enabling[info->path];
    waiting.append(std::move(done));
    if (waiting.size() > 1)
        return; // already asked
    QDBusMessage enable = QDBusMessage::createMethodCall(Service, info->path, ModemInterface,
                                                         QStringLiteral("Enable"));
    enable << true;
    const QString path = info->path;
    const quint64 generation = m_generation;
    call(enable, EnableCallMs, [this, path, generation](const QDBusMessage &reply) {
        if (generation != m_generation)
            return;
        if (reply.type() == QDBusMessage::ReplyMessage)
            finishEnable(path, true, QString());
        else
            finishEnable(path, false, describeError(reply.errorName(), reply.errorMessage()));
    });
}

void ModemManagerLink::finishEnable(const QString &path, bool ok, const QString &error)
{
    const QList<std::function<void(bool, const QString &)>> waiting = m_enabling.take(path);
    for (const auto &done : waiting)
        done(ok, error);
}

void ModemManagerLink::failLater(const SendChannel::Done &done, const QString &note)
{
    QTimer::singleShot(0, this, [done, note] {
        SendResult result;
        result.state = RecordState::Failed;
        result.note = note;
        done(result);
    });
}

void ModemManagerLink::send(const QString &id, const QString &number, const QString &text,
                            const SendChannel::Created &created, const SendChannel::Done &done)
{
    const std::optional<ModemInfo> info = modem(id);
    if (!info) {
        failLater(done, QStringLiteral("短信猫已经不在了"));
        return;
    }
    if (info->state >= ModemInfo::StateEnabled) {
        createAndSend(id, number, text, created, done);
        return;
    }
    enable(id, [this, id, number, text, created, done](bool ok, const QString &error) {
        if (ok)
            createAndSend(id, number, text, created, done);
        else
            failLater(done, error);
    });
}

void ModemManagerLink::createAndSend(const QString &id, const QString &number, const QString &text,
                                     const SendChannel::Created &created,
                                     const SendChannel::Done &done)
{
    const std::optional<ModemInfo> info = modem(id);
    if (!info) {
        failLater(done, QStringLiteral("短信猫已经不在了"));
        return;
    }
    QDBusMessage create = QDBusMessage::createMethodCall(Service, info->path, MessagingInterface,
                                                         QStringLiteral("Create"));
    create << QVariantMap{{QStringLiteral("number"), number},
                          {QStringLiteral("text"), text},
                          {QStringLiteral("delivery-report-request"), true}};
    call(create, ShortCallMs, [this, created, done](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            SendResult result;
            result.note = describeError(reply.errorName(), reply.errorMessage());
            done(result);
            return;
        }
        const QString smsPath = reply.arguments().value(0).value<QDBusObjectPath>().path();
        created(smsPath);
        call(QDBusMessage::createMethodCall(Service, smsPath, SmsInterface, QStringLiteral("Send")),
             m_sendTimeoutMs, [this, smsPath, done](const QDBusMessage &sent) {
                 if (sent.type() != QDBusMessage::ReplyMessage) {
                     SendResult result;
                     result.smsPath = smsPath;
                     result.note = describeError(sent.errorName(), sent.errorMessage());
                     if (ModemErrors::mayHaveLeft(sent.errorName())) {
                         result.state = RecordState::Unconfirmed;
                         result.note = QStringLiteral("无法确认短信是否已经发出：") + result.note;
                     }
                     done(result);
                     return;
                 }
                 // The reference names the message in its delivery report.
                 QDBusMessage get = QDBusMessage::createMethodCall(
                     Service, smsPath, PropertiesInterface, QStringLiteral("Get"));
                 get << SmsInterface << QStringLiteral("MessageReference");
                 call(get, ShortCallMs, [smsPath, done](const QDBusMessage &reference) {
                     SendResult result;
                     result.state = RecordState::Sent;
                     result.smsPath = smsPath;
                     if (reference.type() == QDBusMessage::ReplyMessage) {
                         const QVariant value =
                             reference.arguments().value(0).value<QDBusVariant>().variant();
                         if (value.isValid())
                             result.reference = value.toLongLong();
                     }
                     done(result);
                 });
             });
    });
}

void ModemManagerLink::readSmsState(const QString &id, const QString &smsPath,
                                    const QString &number, const QString &text,
                                    const std::function<void(std::optional<uint>)> &done)
{
    const std::optional<ModemInfo> info = modem(id);
    if (!info || smsPath.isEmpty()) {
        QTimer::singleShot(0, this, [done] { done(std::nullopt); });
        return;
    }
    // The message must be that modem's, and still the one made then.
    QDBusMessage list = QDBusMessage::createMethodCall(Service, info->path, MessagingInterface,
                                                       QStringLiteral("List"));
    call(list, ShortCallMs, [this, smsPath, number, text, done](const QDBusMessage &listed) {
        const auto paths = listed.type() == QDBusMessage::ReplyMessage
            ? qdbus_cast<QList<QDBusObjectPath>>(listed.arguments().value(0))
            : QList<QDBusObjectPath>();
        if (!paths.contains(QDBusObjectPath(smsPath))) {
            done(std::nullopt);
            return;
        }
        QDBusMessage getAll = QDBusMessage::createMethodCall(Service, smsPath, PropertiesInterface,
                                                             QStringLiteral("GetAll"));
        getAll << SmsInterface;
        call(getAll, ShortCallMs, [number, text, done](const QDBusMessage &reply) {
            if (reply.type() != QDBusMessage::ReplyMessage) {
                done(std::nullopt);
                return;
            }
            const QVariantMap sms = mapOf(reply.arguments().value(0));
            const bool same =
                localMobile(sms.value(QStringLiteral("Number")).toString()) == localMobile(number)
                && sms.value(QStringLiteral("Text")).toString() == text;
            done(same ? std::optional<uint>(sms.value(QStringLiteral("State")).toUInt())
                      : std::nullopt);
        });
    });
}

void ModemManagerLink::deleteSms(const QString &id, const QString &smsPath)
{
    const std::optional<ModemInfo> info = modem(id);
    if (info && !smsPath.isEmpty())
        removeMessage(info->path, smsPath, {});
}

void ModemManagerLink::removeMessage(const QString &modemPath, const QString &smsPath,
                                     const std::function<void(bool removed)> &done)
{
    QDBusMessage remove = QDBusMessage::createMethodCall(Service, modemPath, MessagingInterface,
                                                         QStringLiteral("Delete"));
    remove << QVariant::fromValue(QDBusObjectPath(smsPath));
    m_handedReports.remove(smsPath);
    m_receiving.remove(smsPath);
    m_deletions.append({remove, DeleteAttempts, done});
    pumpDeletions();
}

void ModemManagerLink::pumpDeletions()
{
    // One at a time: ModemManager locks the SIM's storage for each and
    // refuses a second meanwhile ("try again later").
    if (m_deleting || m_deletions.isEmpty())
        return;
    m_deleting = true;
    const Deletion next = m_deletions.takeFirst();
    const quint64 generation = m_generation;
    call(next.message, ShortCallMs, [this, next, generation](const QDBusMessage &reply) {
        if (generation != m_generation)
            return;
        if (reply.errorName() == Prefix + QLatin1String("Core.Retry") && next.attemptsLeft > 1) {
            QTimer::singleShot(RetryMs, this, [this, next] {
                m_deletions.prepend({next.message, next.attemptsLeft - 1, next.done});
                m_deleting = false;
                pumpDeletions();
            });
            return;
        }
        m_deleting = false;
        if (next.done)
            next.done(reply.type() == QDBusMessage::ReplyMessage);
        pumpDeletions();
    });
}

void ModemManagerLink::cleanUp(const QString &id,
                               const std::function<bool(const QString &smsPath)> &mayDelete,
                               const std::function<void(int removed)> &done)
{
    const std::optional<ModemInfo> info = modem(id);
    const auto finish = [this, done](int removed) {
        if (done)
            QTimer::singleShot(0, this, [done, removed] { done(removed); });
    };
    if (!info) {
        finish(0);
        return;
    }
    const QString modemPath = info->path;
    call(QDBusMessage::createMethodCall(Service, modemPath, MessagingInterface,
                                        QStringLiteral("List")),
         ShortCallMs, [this, modemPath, mayDelete, finish](const QDBusMessage &reply) {
             const auto paths = reply.type() == QDBusMessage::ReplyMessage
                 ? qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0))
                 : QList<QDBusObjectPath>();
             struct Tally
             {
                 qsizetype left = 0;
                 int removed = 0;
             };
             auto tally = std::make_shared<Tally>();
             tally->left = paths.size();
             if (paths.isEmpty()) {
                 finish(0);
                 return;
             }
             const auto counted = [tally, finish] {
                 if (--tally->left == 0)
                     finish(tally->removed);
             };
             for (const QDBusObjectPath &path : paths) {
                 const QString smsPath = path.path();
                 QDBusMessage getAll = QDBusMessage::createMethodCall(
                     Service, smsPath, PropertiesInterface, QStringLiteral("GetAll"));
                 getAll << SmsInterface;
                 queue(getAll,
                       [this, modemPath, smsPath, mayDelete, tally,
                        counted](const QDBusMessage &got) {
                           const QVariantMap sms = mapOf(got.arguments().value(0));
                           const uint pdu = sms.value(QStringLiteral("PduType")).toUInt();
                           const bool received = pdu == DeliverPdu || pdu == CdmaDeliverPdu;
                           const bool remove = got.type() == QDBusMessage::ReplyMessage
                               && ((pdu == StatusReportPdu && m_handedReports.contains(smsPath))
                                   || (pdu != StatusReportPdu && !received && mayDelete(smsPath)));
                           if (!remove) {
                               counted();
                               return;
                           }
                           removeMessage(modemPath, smsPath, [tally, counted](bool removed) {
                               if (removed)
                                   ++tally->removed;
                               counted();
                           });
                       });
             }
         });
}

void ModemManagerLink::listHeldMessages(const QString &modemPath)
{
    const quint64 generation = m_generation;
    ++m_listing;
    call(QDBusMessage::createMethodCall(Service, modemPath, MessagingInterface,
                                        QStringLiteral("List")),
         ShortCallMs, [this, modemPath, generation](const QDBusMessage &reply) {
             --m_listing;
             if (reply.type() == QDBusMessage::ReplyMessage && generation == m_generation) {
                 const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
                 for (const QDBusObjectPath &path : paths)
                     readMessage(path.path(), modemPath);
             }
             noteReadingDone();
         });
}

bool ModemManagerLink::isReading() const
{
    return m_listing > 0 || m_callsInFlight > 0 || !m_queue.isEmpty();
}

void ModemManagerLink::noteReadingDone()
{
    if (!isReading())
        emit readingDone();
}

void ModemManagerLink::onMessageAdded(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || !arguments.at(1).toBool())
        return; // made by a program, not received
    readMessage(arguments.at(0).value<QDBusObjectPath>().path(), message.path());
}

void ModemManagerLink::readMessage(const QString &smsPath, const QString &modemPath)
{
    if (m_knownMessages.contains(smsPath))
        return;
    m_knownMessages.insert(smsPath, modemPath);
    QDBusMessage getAll = QDBusMessage::createMethodCall(Service, smsPath, PropertiesInterface,
                                                         QStringLiteral("GetAll"));
    getAll << SmsInterface;
    queue(getAll, [this, smsPath, modemPath](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            m_knownMessages.remove(smsPath); // gone already; seen again only if listed again
            return;
        }
        takeMessage(smsPath, modemPath, mapOf(reply.arguments().value(0)));
    });
}

void ModemManagerLink::takeMessage(const QString &smsPath, const QString &modemPath,
                                   const QVariantMap &sms)
{
    const QString modemId = idAt(modemPath);
    if (modemId.isEmpty()) {
        m_knownMessages.remove(smsPath);
        return;
    }
    const uint pdu = sms.value(QStringLiteral("PduType")).toUInt();
    const QString number = localMobile(sms.value(QStringLiteral("Number")).toString());
    if (pdu == StatusReportPdu) {
        const std::optional<bool> delivered =
            deliveryOutcome(sms.value(QStringLiteral("DeliveryState")).toUInt());
        if (!delivered) {
            // The network still tries: a final report follows; this one says nothing.
            deleteSms(modemId, smsPath);
            return;
        }
        m_handedReports.insert(smsPath);
        emit statusReport(modemId, number,
                          sms.value(QStringLiteral("MessageReference")).toLongLong(), *delivered,
                          smsPath);
        return;
    }
    if (pdu != DeliverPdu && pdu != CdmaDeliverPdu)
        return; // made here to be sent, or an acknowledgement
    const uint state = sms.value(QStringLiteral("State")).toUInt();
    if (state == Receiving) {
        // The parts of a long message are still coming in: read it again
        // when its state says it is complete.
        m_receiving.insert(smsPath);
        return;
    }
    const QString text = sms.value(QStringLiteral("Text")).toString();
    if (text.isEmpty() && !sms.value(QStringLiteral("Data")).toByteArray().isEmpty())
        return; // binary data (a WAP push, an operator's configuration), no text
    emit messageReceived(modemId, number, text, stampOf(modemId, sms), smsPath);
}

QString ModemManagerLink::describeError(const QString &errorName, const QString &errorMessage)
{
    return ModemErrors::describe(errorName, errorMessage);
}

ModemChannel::ModemChannel(ModemManagerLink &link, const QString &modemId, QObject *parent)
    : SendChannel(parent)
    , m_link(link)
    , m_modemId(modemId)
{
    m_present = usable();
    if (const std::optional<ModemInfo> modem = m_link.modem(m_modemId))
        m_label = modem->simLabel();
    connect(&link, &ModemManagerLink::modemsChanged, this, [this] {
        if (const std::optional<ModemInfo> modem = m_link.modem(m_modemId))
            m_label = modem->simLabel();
        const bool present = usable();
        if (present != m_present) {
            m_present = present;
            emit availabilityChanged();
        }
    });
}

QString ModemChannel::label() const
{
    return m_label.isEmpty() ? m_modemId : m_label;
}

void ModemChannel::prepare(const Prepared &done)
{
    // Enabling loads what the SIM holds: the replies among it (a refusal
    // perhaps) are read before anybody is sent to.
    m_link.enable(m_modemId, [this, done](bool ok, const QString &error) {
        if (!ok || !m_link.isReading()) {
            done(ok, error);
            return;
        }
        connect(&m_link, &ModemManagerLink::readingDone, this, [done] { done(true, QString()); },
                Qt::SingleShotConnection);
    });
}

void ModemChannel::send(const QString &number, const QString &text, const Created &created,
                        const Done &done)
{
    m_link.send(m_modemId, number, text, created, done);
}

bool ModemChannel::isPresent() const
{
    return usable();
}

QString ModemChannel::absence() const
{
    const std::optional<ModemInfo> modem = m_link.modem(m_modemId);
    if (!modem)
        return QStringLiteral("短信猫“%1”已经不在了（拔出、ModemManager 停止或重新识别中）").arg(label());
    if (!usable())
        return QStringLiteral("短信猫“%1”%2").arg(label(), modem->problem);
    return QString();
}

bool ModemChannel::usable() const
{
    const std::optional<ModemInfo> modem = m_link.modem(m_modemId);
    if (!modem)
        return false;
    using R = ModemInfo::Readiness;
    return modem->readiness != R::Locked && modem->readiness != R::NoSim
        && modem->readiness != R::Failed;
}
