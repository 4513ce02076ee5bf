#include "phonelink/conversationreader.h"

#include "core/textrules.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <algorithm>
#include <utility>

namespace {

const QString Service = QStringLiteral("org.kde.kdeconnect");
const QString DevicesPath = QStringLiteral("/modules/kdeconnect/devices/");
const QString ConversationsInterface = QStringLiteral("org.kde.kdeconnect.device.conversations");
// A message as the daemon sends it: event, body, addresses, date, type,
// read, thread, id, SIM, attachments.
const QString MessageSignature = QStringLiteral("(isa(s)xiixixa(xsss))");

// Android's message types and event bits.
constexpr qint32 InboxType = 1;
constexpr qint32 TextEvent = 0x1;

// The phone answers a request for all conversations with one packet, which
// the daemon turns into a burst of signals: their end is awaited this long.
constexpr int SettleMs = 300;

QString deviceOf(const QDBusMessage &signal)
{
    const QString path = signal.path();
    return path.startsWith(DevicesPath) ? path.mid(DevicesPath.size()) : QString();
}

} // namespace

ConversationReader::ConversationReader(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    for (const QString &name :
         {QStringLiteral("conversationCreated"), QStringLiteral("conversationUpdated")})
        m_bus.connect(Service, QString(), ConversationsInterface, name, this,
                      SLOT(onMessage(QDBusMessage)));
    m_bus.connect(Service, QString(), ConversationsInterface, QStringLiteral("conversationLoaded"),
                  this, SLOT(onLoaded(QDBusMessage)));
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        const QSet<QString> settled = std::exchange(m_settling, {});
        for (const QString &deviceId : settled)
            readNewest(deviceId);
    });
}

void ConversationReader::setPhones(const QStringList &deviceIds)
{
    for (auto it = m_phones.begin(); it != m_phones.end(); ++it) {
        if (!deviceIds.contains(it.key()))
            it->connected = false;
    }
    for (const QString &deviceId : deviceIds) {
        if (!m_phones.value(deviceId).connected)
            startReading(deviceId);
    }
}

void ConversationReader::startReading(const QString &deviceId)
{
    Phone &phone = m_phones[deviceId];
    phone.connected = true;
    // The daemon forgets a phone's conversations when the link breaks: all
    // is asked again, and read whole where something is newer than what
    // this run or an earlier one saw.
    phone.readFrom = std::max(m_seenUntil, phone.newest);
    phone.readWhole.clear();
    phone.wholeReadsLeft = ConversationsReadWhole;
    phone.toRead.clear();
    phone.reading = -1;
    // The phone answers with the newest message of each conversation; the
    // daemon's cache is read once the answer settled (or at once when the
    // phone stays silent, for what the daemon already holds).
    callConversations(deviceId, QStringLiteral("requestAllConversationThreads"), {},
                      [this, deviceId](const QDBusMessage &) { settleSoon(deviceId); });
}

void ConversationReader::settleSoon(const QString &deviceId)
{
    m_settling.insert(deviceId);
    m_settle.start();
}

void ConversationReader::onLoaded(const QDBusMessage &signal)
{
    const QString deviceId = deviceOf(signal);
    if (!m_phones.value(deviceId).connected)
        return;
    settleSoon(deviceId);
    // The phone answered for the conversation being read: the daemon's
    // reading thread is done with it.
    if (m_phones[deviceId].reading == signal.arguments().value(0).toLongLong())
        readNext(deviceId);
}

void ConversationReader::readNext(const QString &deviceId)
{
    Phone &phone = m_phones[deviceId];
    if (!phone.connected || phone.toRead.isEmpty()) {
        phone.reading = -1;
        return;
    }
    phone.reading = phone.toRead.takeFirst();
    const quint64 count = ++phone.readCount;
    // Its messages come one by one as conversationUpdated.
    callConversations(deviceId, QStringLiteral("requestConversation"),
                      {phone.reading, 0, MessagesOfAConversation});
    QTimer::singleShot(ReadTimeoutMs, this, [this, deviceId, count] {
        if (m_phones[deviceId].readCount == count)
            readNext(deviceId);
    });
}

void ConversationReader::readNewest(const QString &deviceId)
{
    callConversations(
        deviceId, QStringLiteral("activeConversations"), {},
        [this, deviceId](const QDBusMessage &reply) {
            QList<Message> newest;
            const QVariant list = reply.arguments().value(0);
            if (list.userType() != qMetaTypeId<QDBusArgument>())
                return;
            const auto array = list.value<QDBusArgument>();
            if (array.currentType() != QDBusArgument::ArrayType)
                return;
            array.beginArray();
            while (!array.atEnd()) {
                QDBusVariant element;
                array >> element;
                Message message;
                if (decode(element.variant(), &message))
                    newest.append(message);
            }
            array.endArray();
            std::sort(newest.begin(), newest.end(),
                      [](const Message &a, const Message &b) { return a.date > b.date; });
            Phone &phone = m_phones[deviceId];
            for (const Message &message : std::as_const(newest)) {
                take(deviceId, message);
                if (!phone.connected || message.date <= phone.readFrom
                    || phone.readWhole.contains(message.thread) || phone.wholeReadsLeft <= 0)
                    continue;
                phone.readWhole.insert(message.thread);
                --phone.wholeReadsLeft;
                phone.toRead.append(message.thread);
            }
            if (phone.reading < 0)
                readNext(deviceId);
        });
}

void ConversationReader::onMessage(const QDBusMessage &signal)
{
    Message message;
    if (decode(signal.arguments().value(0), &message))
        take(deviceOf(signal), message);
}

void ConversationReader::take(const QString &deviceId, const Message &message)
{
    if (deviceId.isEmpty())
        return;
    Phone &phone = m_phones[deviceId];
    phone.newest = std::max(phone.newest, message.date);
    if (message.type != InboxType || !(message.event & TextEvent) || message.addresses.isEmpty()
        || message.date <= m_seenUntil)
        return;
    const QString key =
        QStringLiteral("%1/%2/%3").arg(message.thread).arg(message.uid).arg(message.date);
    if (phone.reported.contains(key))
        return;
    phone.reported.insert(key);
    emit messageReceived(deviceId, TextRules::localMobile(message.addresses.first()), message.body,
                         QString::number(message.date));
}

void ConversationReader::callConversations(
    const QString &deviceId, const QString &method, const QVariantList &arguments,
    const std::function<void(const QDBusMessage &)> &answered)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, DevicesPath + deviceId,
                                                       ConversationsInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [answered](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                // A phone that went away meanwhile: its next connection reads again.
                if (!finished->isError() && answered)
                    answered(finished->reply());
            });
}

bool ConversationReader::decode(const QVariant &value, Message *message)
{
    const QVariant unwrapped = value.userType() == qMetaTypeId<QDBusVariant>()
        ? value.value<QDBusVariant>().variant()
        : value;
    if (unwrapped.userType() != qMetaTypeId<QDBusArgument>())
        return false;
    const auto argument = unwrapped.value<QDBusArgument>();
    if (argument.currentSignature() != MessageSignature)
        return false;
    qint32 read = 0;
    qint64 sim = 0;
    argument.beginStructure();
    argument >> message->event >> message->body;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString address;
        argument.beginStructure();
        argument >> address;
        argument.endStructure();
        message->addresses.append(address);
    }
    argument.endArray();
    argument >> message->date >> message->type >> read >> message->thread >> message->uid >> sim;
    // Attachments: not needed.
    argument.beginArray();
    while (!argument.atEnd()) {
        qint64 part = 0;
        QString mimeType;
        QString thumbnail;
        QString name;
        argument.beginStructure();
        argument >> part >> mimeType >> thumbnail >> name;
        argument.endStructure();
    }
    argument.endArray();
    argument.endStructure();
    return true;
}
