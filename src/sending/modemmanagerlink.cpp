#include "sending/modemmanagerlink.h"

#include "sending/batchrecipients.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

#include <array>

namespace {

const QString Service = QStringLiteral("org.freedesktop.ModemManager1");
const QString RootPath = QStringLiteral("/org/freedesktop/ModemManager1");
const QString ObjectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString ModemInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem");
const QString Modem3gppInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem.Modem3gpp");
const QString MessagingInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem.Messaging");
const QString SmsInterface = QStringLiteral("org.freedesktop.ModemManager1.Sms");

constexpr int ShortCallMs = 25'000;
// Sending waits for the network: ModemManager gives up by itself well before.
constexpr int SendCallMs = 180'000;
constexpr uint StatusReportPdu = 3;
// Messages a modem made to send (GSM and CDMA): not received ones.
constexpr uint SubmitPdu = 2;
constexpr uint CdmaSubmitPdu = 5;
// GSM delivery states below this are "received by the recipient" (or
// forwarded, replaced); from PermanentErrorStates on the network gave up.
constexpr uint DeliveredBelow = 0x20;
constexpr uint PermanentErrorStates = 0x40;
constexpr int ReceiveAttempts = 30;
constexpr int ReceiveRetryMs = 1000;

struct ErrorText
{
    const char *suffix;
    const char16_t *text;
};

constexpr std::array<ErrorText, 16> ErrorTexts = {{
    {"NetworkTimeout", u"网络超时"},
    {"NoNetwork", u"没有网络"},
    {"NetworkNotAllowed", u"网络不允许发送"},
    {"NetworkOutOfOrder", u"网络故障"},
    {"SimNotInserted", u"没有插入 SIM 卡"},
    {"SimPin", u"SIM 卡需要输入 PIN 码"},
    {"SimPuk", u"SIM 卡已锁，需要 PUK 码"},
    {"SimFailure", u"SIM 卡故障"},
    {"SimBusy", u"SIM 卡忙"},
    {"SimWrong", u"SIM 卡无法使用"},
    {"MemoryFull", u"短信猫的存储已满"},
    {"WrongState", u"短信猫还没有准备好"},
    {"NoReply", u"短信猫没有应答"},
    {"ServiceUnknown", u"ModemManager 没有运行"},
    {"UnknownObject", u"短信猫已经不在了"},
    {"Unauthorized", u"没有发送短信的权限"},
}};

QString lastPart(const QString &name)
{
    return name.section(u'.', -1);
}

int signalPercent(const QVariant &value)
{
    if (!value.canConvert<QDBusArgument>())
        return -1;
    const auto argument = value.value<QDBusArgument>();
    uint quality = 0;
    bool recent = false;
    argument.beginStructure();
    argument >> quality >> recent;
    argument.endStructure();
    return int(quality);
}

QVariantMap propertiesOf(const QDBusMessage &reply)
{
    const QVariant first = reply.arguments().value(0);
    if (first.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(first.value<QDBusArgument>());
    return first.toMap();
}

} // namespace

QString ModemInfo::label() const
{
    QString text = QStringList{manufacturer, model}.join(u' ').trimmed();
    if (text.isEmpty())
        text = QStringLiteral("短信猫");
    QStringList details;
    if (!operatorName.isEmpty())
        details.append(operatorName);
    if (signalPercent >= 0)
        details.append(QStringLiteral("信号 %1%").arg(signalPercent));
    if (!details.isEmpty())
        text += QStringLiteral("（%1）").arg(details.join(u'，'));
    return text;
}

ModemManagerLink::ModemManagerLink(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_serviceWatcher = new QDBusServiceWatcher(Service, m_bus,
                                               QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &ModemManagerLink::onObjectsChanged);
    for (const char *name : {"InterfacesAdded", "InterfacesRemoved"}) {
        m_bus.connect(Service, RootPath, ObjectManagerInterface, QString::fromLatin1(name), this,
                      SLOT(onObjectsChanged()));
    }
    m_bus.connect(Service, QString(), MessagingInterface, QStringLiteral("Added"), this,
                  SLOT(onMessageAdded(QDBusMessage)));
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

bool ModemManagerLink::hasModem(const QString &path) const
{
    return std::any_of(m_modems.cbegin(), m_modems.cend(),
                       [&path](const ModemInfo &modem) { return modem.path == path; });
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

void ModemManagerLink::refresh()
{
    if (!m_bus.isConnected())
        return;
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
             readModems(reply);
             if (m_refreshAgain) {
                 m_refreshAgain = false;
                 refresh();
             }
         });
}

void ModemManagerLink::onObjectsChanged()
{
    refresh();
}

void ModemManagerLink::readModems(const QDBusMessage &reply)
{
    QList<ModemInfo> modems;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto argument = reply.arguments().first().value<QDBusArgument>();
        argument.beginMap();
        while (!argument.atEnd()) {
            QDBusObjectPath path;
            QMap<QString, QVariantMap> interfaces;
            argument.beginMapEntry();
            argument >> path >> interfaces;
            argument.endMapEntry();
            if (!interfaces.contains(ModemInterface) || !interfaces.contains(MessagingInterface))
                continue;
            const QVariantMap &modem = interfaces[ModemInterface];
            ModemInfo info;
            info.path = path.path();
            info.id = info.path;
            info.manufacturer = modem.value(QStringLiteral("Manufacturer")).toString().trimmed();
            info.model = modem.value(QStringLiteral("Model")).toString().trimmed();
            info.signalPercent = signalPercent(modem.value(QStringLiteral("SignalQuality")));
            info.operatorName = interfaces.value(Modem3gppInterface)
                                    .value(QStringLiteral("OperatorName"))
                                    .toString()
                                    .trimmed();
            modems.append(info);
        }
        argument.endMap();
        std::sort(modems.begin(), modems.end(),
                  [](const ModemInfo &a, const ModemInfo &b) { return a.path < b.path; });
    }
    const auto same = [](const ModemInfo &a, const ModemInfo &b) {
        return a.path == b.path && a.label() == b.label();
    };
    if (std::equal(modems.cbegin(), modems.cend(), m_modems.cbegin(), m_modems.cend(), same))
        return;
    const QList<ModemInfo> before = m_modems;
    m_modems = modems;
    emit modemsChanged();
    for (const ModemInfo &modem : std::as_const(modems)) {
        if (std::none_of(before.cbegin(), before.cend(),
                         [&modem](const ModemInfo &known) { return known.path == modem.path; }))
            readHeldMessages(modem.path);
    }
}

void ModemManagerLink::send(const QString &modemPath, const QString &number, const QString &text,
                            const SendChannel::Created &created, const SendChannel::Done &done)
{
    const auto failed = [done](const QDBusMessage &error, const QString &smsPath) {
        SendResult result;
        result.note = describeError(error.errorName(), error.errorMessage());
        result.smsPath = smsPath;
        done(result);
    };
    QDBusMessage create = QDBusMessage::createMethodCall(Service, modemPath, MessagingInterface,
                                                         QStringLiteral("Create"));
    const QVariantMap properties{{QStringLiteral("number"), number},
                                 {QStringLiteral("text"), text},
                                 {QStringLiteral("delivery-report-request"), true}};
    create << properties;
    call(create, ShortCallMs, [this, created, done, failed](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            failed(reply, QString());
            return;
        }
        const QString smsPath = reply.arguments().value(0).value<QDBusObjectPath>().path();
        created(smsPath);
        call(QDBusMessage::createMethodCall(Service, smsPath, SmsInterface, QStringLiteral("Send")),
             SendCallMs, [this, smsPath, done, failed](const QDBusMessage &sent) {
                 if (sent.type() != QDBusMessage::ReplyMessage) {
                     failed(sent, smsPath);
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
                         const QVariant value = reference.arguments().value(0)
                                                    .value<QDBusVariant>()
                                                    .variant();
                         if (value.isValid())
                             result.reference = value.toLongLong();
                     }
                     done(result);
                 });
             });
    });
}

void ModemManagerLink::readSmsState(const QString &, const QString &smsPath, const QString &,
                                    const QString &, std::function<void(std::optional<uint>)> done)
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(Service, smsPath, PropertiesInterface, QStringLiteral("Get"));
    get << SmsInterface << QStringLiteral("State");
    call(get, ShortCallMs, [done = std::move(done)](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            done(std::nullopt);
            return;
        }
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        bool ok = false;
        const uint state = value.toUInt(&ok);
        done(ok ? std::optional<uint>(state) : std::nullopt);
    });
}

void ModemManagerLink::deleteSms(const QString &modemPath, const QString &smsPath)
{
    QDBusMessage remove = QDBusMessage::createMethodCall(Service, modemPath, MessagingInterface,
                                                         QStringLiteral("Delete"));
    remove << QVariant::fromValue(QDBusObjectPath(smsPath));
    call(remove, ShortCallMs, [](const QDBusMessage &) {});
}

void ModemManagerLink::readHeldMessages(const QString &modemPath)
{
    call(QDBusMessage::createMethodCall(Service, modemPath, MessagingInterface,
                                        QStringLiteral("List")),
         ShortCallMs, [this](const QDBusMessage &reply) {
             if (reply.type() != QDBusMessage::ReplyMessage)
                 return;
             const auto paths =
                 qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
             for (const QDBusObjectPath &path : paths)
                 readReceived(path.path(), ReceiveAttempts);
         });
}

void ModemManagerLink::onMessageAdded(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || !arguments.at(1).toBool())
        return; // made by a program, not received
    readReceived(arguments.at(0).value<QDBusObjectPath>().path(), ReceiveAttempts);
}

void ModemManagerLink::readReceived(const QString &smsPath, int attemptsLeft)
{
    QDBusMessage getAll = QDBusMessage::createMethodCall(Service, smsPath, PropertiesInterface,
                                                         QStringLiteral("GetAll"));
    getAll << SmsInterface;
    call(getAll, ShortCallMs, [this, smsPath, attemptsLeft](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return;
        const QVariantMap sms = propertiesOf(reply);
        const QString number = localMobile(sms.value(QStringLiteral("Number")).toString());
        if (sms.value(QStringLiteral("PduType")).toUInt() == StatusReportPdu) {
            const uint delivery = sms.value(QStringLiteral("DeliveryState")).toUInt();
            if (delivery < DeliveredBelow || delivery >= PermanentErrorStates)
                emit statusReport(QString(), number,
                                  sms.value(QStringLiteral("MessageReference")).toLongLong(),
                                  delivery < DeliveredBelow, smsPath);
            return;
        }
        const uint pduType = sms.value(QStringLiteral("PduType")).toUInt();
        if (pduType == SubmitPdu || pduType == CdmaSubmitPdu)
            return; // made here to be sent
        const uint state = sms.value(QStringLiteral("State")).toUInt();
        if (state == Receiving && attemptsLeft > 0) {
            // The parts of a long message are still coming in.
            QTimer::singleShot(ReceiveRetryMs, this, [this, smsPath, attemptsLeft] {
                readReceived(smsPath, attemptsLeft - 1);
            });
            return;
        }
        emit messageReceived(QString(), number, sms.value(QStringLiteral("Text")).toString(),
                             sms.value(QStringLiteral("Timestamp")).toString(), smsPath);
    });
}

QString ModemManagerLink::describeError(const QString &errorName, const QString &errorMessage)
{
    const QString suffix = lastPart(errorName);
    for (const ErrorText &known : ErrorTexts) {
        if (suffix == QLatin1String(known.suffix))
            return QString::fromUtf16(known.text);
    }
    if (errorName.isEmpty())
        return errorMessage;
    return errorName;
}

ModemChannel::ModemChannel(ModemManagerLink &link, const QString &modemPath, QObject *parent)
    : SendChannel(parent)
    , m_link(link)
    , m_modemPath(modemPath)
{
    connect(&link, &ModemManagerLink::modemsChanged, this, [this] {
        emit availabilityChanged();
    });
}

void ModemChannel::send(const QString &number, const QString &text, const Created &created,
                        const Done &done)
{
    m_link.send(m_modemPath, number, text, created, done);
}

bool ModemChannel::isPresent() const
{
    return m_link.hasModem(m_modemPath);
}
