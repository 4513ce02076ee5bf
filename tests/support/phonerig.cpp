#include "support/phonerig.h"

#include "support/testsupport.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

namespace {

const QString Service = QStringLiteral("org.kde.kdeconnect");
const QString DaemonPath = QStringLiteral("/modules/kdeconnect");
const QString DeviceInterface = QStringLiteral("org.kde.kdeconnect.device");
// Generous: a loaded CI machine runs other suites beside this one.
constexpr int WaitMs = 30000;

QString tail(const QString &path, qsizetype chars)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    return QStringLiteral("\n--- %1 ---\n").arg(QFileInfo(path).fileName()) + text.right(chars);
}

QJsonObject messageJson(const PhoneRig::Message &message)
{
    return {{QStringLiteral("number"), message.number},
            {QStringLiteral("body"), message.body},
            {QStringLiteral("date"), message.date},
            {QStringLiteral("type"), message.type}};
}

} // namespace

PhoneRig::PhoneRig()
{
    static int rigs = 0;
    m_connectionName = QStringLiteral("phonerig-%1").arg(++rigs);
}

PhoneRig::~PhoneRig()
{
    stop();
}

PhoneRig::Started PhoneRig::start(QString *error)
{
    QElapsedTimer clock;
    clock.start();
    if (!m_folder.isValid()) {
        *error = QStringLiteral("no temporary folder: ") + m_folder.errorString();
        return Started::Failed;
    }
    if (!QFileInfo(QStringLiteral(LANZHOU_KDECONNECTD)).isExecutable()) {
        *error = QStringLiteral(LANZHOU_KDECONNECTD " is missing: install the kdeconnect package");
        return Started::Failed;
    }
    const QString errors = m_folder.filePath(QStringLiteral("rig.err"));
    // As root a network namespace is made directly; an ordinary user may
    // make one inside a user namespace of its own where the system allows.
    const QList<QStringList> ways{
        {QStringLiteral("--net")},
        {QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--net")}};
    QString refused;
    for (const QStringList &way : ways) {
        m_rig = std::make_unique<QProcess>();
        m_rig->setStandardErrorFile(errors, QIODevice::Append);
        m_rig->start(QStringLiteral("unshare"),
                     way
                         + QStringList{QStringLiteral("/usr/bin/python3"),
                                       QStringLiteral(LANZHOU_PHONE_RIG), QStringLiteral("--dir"),
                                       m_folder.path(), QStringLiteral("--daemon"),
                                       QStringLiteral(LANZHOU_KDECONNECTD)});
        if (!m_rig->waitForStarted()) {
            *error = QStringLiteral("unshare: ") + m_rig->errorString();
            return Started::Impossible;
        }
        QJsonObject answer;
        if (readAnswer(&answer, WaitMs, error)) {
            m_address = answer.value(QStringLiteral("bus")).toString();
            break;
        }
        m_rig->waitForFinished();
        const QString said = QString::fromUtf8(TestSupport::readAll(errors));
        if (!said.contains(QStringLiteral("unshare failed"))) {
            *error = QStringLiteral("the rig did not start: ") + *error + logTail();
            return Started::Failed;
        }
        refused = said.trimmed();
    }
    if (m_address.isEmpty()) {
        *error = QStringLiteral("this machine cannot make a network namespace for the KDE Connect "
                                "daemon (not root, no user namespaces): ")
            + refused;
        return Started::Impossible;
    }
    const QDBusConnection bus = connection();
    if (!bus.isConnected()) {
        *error = QStringLiteral("the rig's bus: ") + bus.lastError().message();
        return Started::Failed;
    }
    if (!QTest::qWaitFor([&bus] { return bus.interface()->isServiceRegistered(Service).value(); },
                         WaitMs)) {
        *error = QStringLiteral("the KDE Connect daemon did not come onto the bus") + logTail();
        return Started::Failed;
    }
    m_startMs = clock.elapsed();
    return Started::Yes;
}

QDBusConnection PhoneRig::connection() const
{
    return QDBusConnection::connectToBus(m_address, m_connectionName);
}

bool PhoneRig::readAnswer(QJsonObject *answer, int timeoutMs, QString *error)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_rig->canReadLine()) {
        if (m_rig->state() != QProcess::Running || deadline.hasExpired()) {
            *error = m_rig->state() == QProcess::Running ? QStringLiteral("the rig did not answer")
                                                         : QStringLiteral("the rig ended");
            return false;
        }
        m_rig->waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 100)));
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(m_rig->readLine(), &parseError);
    *answer = document.object();
    if (document.isNull() || !answer->value(QStringLiteral("ok")).toBool()) {
        *error = document.isNull() ? parseError.errorString()
                                   : answer->value(QStringLiteral("error")).toString();
        return false;
    }
    return true;
}

bool PhoneRig::command(const QJsonObject &request, QJsonObject *answer, QString *error)
{
    if (!m_rig || m_rig->state() != QProcess::Running) {
        *error = QStringLiteral("the rig is not running");
        return false;
    }
    m_rig->write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    if (!readAnswer(answer, WaitMs, error)) {
        *error = request.value(QStringLiteral("cmd")).toString() + QStringLiteral(": ") + *error
            + logTail();
        return false;
    }
    return true;
}

bool PhoneRig::deviceListed(const QString &id, bool *listed, QString *error) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, DaemonPath,
                                                       QStringLiteral("org.kde.kdeconnect.daemon"),
                                                       QStringLiteral("devices"));
    call << true << true; // reachable and paired
    const QDBusMessage reply = connection().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return false;
    }
    *listed = reply.arguments().value(0).toStringList().contains(id);
    return true;
}

bool PhoneRig::waitListed(const QString &id, bool listed, QString *error)
{
    bool failed = false;
    const bool reached = QTest::qWaitFor(
        [&] {
            bool now = false;
            failed = !deviceListed(id, &now, error);
            return failed || now == listed;
        },
        WaitMs);
    if (failed)
        return false;
    if (!reached) {
        *error = QStringLiteral("the daemon still %1 %2 as reachable and paired")
                     .arg(listed ? QStringLiteral("does not list") : QStringLiteral("lists"), id)
            + logTail();
        return false;
    }
    return true;
}

bool PhoneRig::addDevice(Kind kind, const QString &name, QString *id, QString *error)
{
    QElapsedTimer clock;
    clock.start();
    // The daemon keeps its devices in the order of their ids: a desktop added
    // first comes before the phones.
    *id = QStringLiteral("%1_%2")
              .arg(kind == Kind::Phone ? QStringLiteral("phone") : QStringLiteral("desktop"))
              .arg(++m_devices);
    QJsonObject answer;
    if (!command({{QStringLiteral("cmd"), QStringLiteral("add")},
                  {QStringLiteral("id"), *id},
                  {QStringLiteral("name"), name},
                  {QStringLiteral("kind"),
                   kind == Kind::Phone ? QStringLiteral("phone") : QStringLiteral("desktop")}},
                 &answer, error))
        return false;
    const QString path = DaemonPath + QStringLiteral("/devices/") + *id;
    const auto asksToPair = [&] {
        QDBusMessage get = QDBusMessage::createMethodCall(
            Service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << DeviceInterface << QStringLiteral("hasPairingRequests");
        const QDBusMessage reply = connection().call(get);
        return reply.type() == QDBusMessage::ReplyMessage
            && reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
    };
    if (!QTest::qWaitFor(asksToPair, WaitMs)) {
        *error = QStringLiteral("%1 did not ask the daemon to pair").arg(*id) + logTail();
        return false;
    }
    const QDBusMessage accepted = connection().call(QDBusMessage::createMethodCall(
        Service, path, DeviceInterface, QStringLiteral("acceptPairing")));
    if (accepted.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("acceptPairing: ") + accepted.errorMessage();
        return false;
    }
    if (!waitListed(*id, true, error))
        return false;
    m_pairMs = clock.elapsed();
    return true;
}

bool PhoneRig::leave(const QString &id, QString *error)
{
    QJsonObject answer;
    return command({{QStringLiteral("cmd"), QStringLiteral("leave")}, {QStringLiteral("id"), id}},
                   &answer, error)
        && waitListed(id, false, error);
}

bool PhoneRig::comeBack(const QString &id, QString *error)
{
    QJsonObject answer;
    return command({{QStringLiteral("cmd"), QStringLiteral("return")}, {QStringLiteral("id"), id}},
                   &answer, error)
        && waitListed(id, true, error);
}

bool PhoneRig::hold(const QString &id, const QList<Message> &messages, QString *error)
{
    QJsonArray held;
    for (const Message &message : messages)
        held.append(messageJson(message));
    QJsonObject answer;
    return command({{QStringLiteral("cmd"), QStringLiteral("hold")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("messages"), held}},
                   &answer, error);
}

bool PhoneRig::push(const QString &id, const Message &message, QString *error)
{
    QJsonObject answer;
    return command({{QStringLiteral("cmd"), QStringLiteral("push")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("message"), messageJson(message)}},
                   &answer, error);
}

bool PhoneRig::stopDaemon(QString *error)
{
    QJsonObject answer;
    if (!command({{QStringLiteral("cmd"), QStringLiteral("stopdaemon")}}, &answer, error))
        return false;
    const QDBusConnection bus = connection();
    if (!QTest::qWaitFor([&bus] { return !bus.interface()->isServiceRegistered(Service).value(); },
                         WaitMs)) {
        *error = QStringLiteral("the daemon's name stayed on the bus");
        return false;
    }
    return true;
}

QList<QJsonObject> PhoneRig::received(const QString &id, const QString &type) const
{
    QList<QJsonObject> packets;
    const QByteArray log =
        TestSupport::readAll(m_folder.filePath(QStringLiteral("devices/%1/packets.jsonl").arg(id)));
    for (const QByteArray &line : log.split('\n')) {
        const QJsonObject packet = QJsonDocument::fromJson(line).object();
        if (!packet.isEmpty()
            && (type.isEmpty() || packet.value(QStringLiteral("type")).toString() == type))
            packets.append(packet);
    }
    return packets;
}

QString PhoneRig::logTail() const
{
    return tail(m_folder.filePath(QStringLiteral("rig.err")), 2000)
        + tail(m_folder.filePath(QStringLiteral("rig.log")), 2000)
        + tail(m_folder.filePath(QStringLiteral("daemon.log")), 2000);
}

void PhoneRig::stop()
{
    QDBusConnection::disconnectFromBus(m_connectionName);
    if (!m_rig || m_rig->state() == QProcess::NotRunning)
        return;
    // The rig stops its devices, the daemon and the bus; the namespace goes
    // with its last process.
    m_rig->write("{\"cmd\": \"quit\"}\n");
    m_rig->closeWriteChannel();
    if (!m_rig->waitForFinished(15000)) {
        m_rig->kill();
        m_rig->waitForFinished();
    }
}
