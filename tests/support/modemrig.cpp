#include "support/modemrig.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString Service = QStringLiteral("org.freedesktop.ModemManager1");
const QString Root = QStringLiteral("/org/freedesktop/ModemManager1");
const QString PolkitService = QStringLiteral("org.freedesktop.PolicyKit1");
const QString DBusDaemon = QStringLiteral("/usr/bin/dbus-daemon");
const QString Unshare = QStringLiteral("/usr/bin/unshare");
const QString Polkitd = QStringLiteral("/usr/lib/polkit-1/polkitd");
const QString ModemManagerProgram = QStringLiteral("/usr/sbin/ModemManager");
const QString Python = QStringLiteral("/usr/bin/python3");
constexpr int StartMs = 15000;
constexpr int CallMs = 30000;
constexpr int PollMs = 20;

// Anything may own any name and talk to anyone; the rest as the system bus
// (its limits too: 128 replies pending per connection).
const char *BusConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";

// polkitd reads this as /etc/polkit-1/rules.d/50-lanzhou-test.rules. A YES
// from a rule counts whatever the caller's session (or its lack of one).
const char *PolkitRule = R"(polkit.addRule(function(action, subject) {
    if (action.id.indexOf("org.freedesktop.ModemManager1.") == 0 && subject.user == "%1")
        return polkit.Result.YES;
});
)";

// The code under test talks to ModemManager as this user: polkit lets root
// do anything, so only another user's calls show what a rule decides.
const char *LinkUser = "nobody";

QString tail(const QString &path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(%1: not written)\n").arg(QFileInfo(path).fileName());
    const QList<QByteArray> all = file.readAll().split('\n');
    QString text = QStringLiteral("--- %1 ---\n").arg(QFileInfo(path).fileName());
    for (qsizetype i = std::max<qsizetype>(0, all.size() - lines); i < all.size(); ++i)
        text += QString::fromUtf8(all.at(i)) + u'\n';
    return text;
}

// The modems ModemManager lists: the virtual device of each ("/virtual/<name>")
// with its object path.
QMap<QString, QString> modemsByDevice(const QDBusConnection &bus)
{
    QMap<QString, QString> modems;
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(
                     Service, Root, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                     QStringLiteral("GetManagedObjects")),
                 QDBus::Block, CallMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return modems;
    const auto argument = reply.arguments().constFirst().value<QDBusArgument>();
    argument.beginMap();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        QMap<QString, QVariantMap> interfaces;
        argument.beginMapEntry();
        argument >> path >> interfaces;
        argument.endMapEntry();
        const QVariantMap modem =
            interfaces.value(QStringLiteral("org.freedesktop.ModemManager1.Modem"));
        if (!modem.isEmpty())
            modems.insert(modem.value(QStringLiteral("Device")).toString(), path.path());
    }
    argument.endMap();
    return modems;
}

// The rig's folder, named after the test process; on the way, the folders
// of rigs whose process died without cleaning up (killed, or stopped by
// QtTest's time limit) are removed.
QString folderTemplate()
{
    const QDir temp(QDir::tempPath());
    for (const QString &name : temp.entryList({QStringLiteral("modemrig-*-*")}, QDir::Dirs)) {
        const pid_t owner = name.section(u'-', 1, 1).toInt();
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            QDir(temp.filePath(name)).removeRecursively();
    }
    return temp.filePath(QStringLiteral("modemrig-%1-XXXXXX").arg(::getpid()));
}

} // namespace

ModemRig::ModemRig()
    : m_folder(folderTemplate())
    , m_connectionName(QStringLiteral("modemrig-%1").arg(quintptr(this)))
{
    // For a look by hand at the logs and the AT dialogue afterwards.
    if (qEnvironmentVariableIsSet("LANZHOU_KEEP_MODEM_RIG")) {
        m_folder.setAutoRemove(false);
        qInfo("modem rig in %s", qPrintable(m_folder.path()));
    }
}

ModemRig::~ModemRig()
{
    QDBusConnection::disconnectFromBus(m_connectionName + QStringLiteral("-link"));
    QDBusConnection::disconnectFromBus(m_connectionName + QStringLiteral("-inhibit"));
    // Killed: a gentle stop waits for modems that no longer answer.
    stop(m_modemManager, false);
    for (Emulator &emulator : m_emulators) {
        emulator.control.reset();
        stop(emulator.process, false);
    }
    stop(m_polkit, false);
    QDBusConnection::disconnectFromBus(m_connectionName);
    stop(m_bus, false);
}

QString ModemRig::unavailable()
{
    for (const QString &program : {DBusDaemon, Unshare, Polkitd, ModemManagerProgram, Python}) {
        if (!QFileInfo(program).isExecutable())
            return program + QStringLiteral(" is not installed (see scripts/packages.txt)");
    }
    if (::geteuid() != 0)
        return QStringLiteral("the ModemManager rig needs root: polkitd runs with rules of the "
                              "test's own in a mount namespace (unshare --mount)");
    return {};
}

QString ModemRig::file(const QString &name) const
{
    return m_folder.filePath(name);
}

QDBusConnection ModemRig::connection() const
{
    return QDBusConnection::connectToBus(m_address, m_connectionName);
}

QDBusConnection ModemRig::linkConnection() const
{
    const QString name = m_connectionName + QStringLiteral("-link");
    QDBusConnection known(name);
    if (known.isConnected())
        return known;
    // The bus takes the caller's credentials when it connects: for that
    // moment the whole process is the link's user.
    const passwd *user = ::getpwnam(LinkUser);
    if (user == nullptr || ::seteuid(user->pw_uid) != 0)
        qFatal("cannot act as the user %s", LinkUser);
    QDBusConnection connection = QDBusConnection::connectToBus(m_address, name);
    if (::seteuid(0) != 0)
        qFatal("cannot become root again");
    return connection;
}

bool ModemRig::startDaemon(QProcess &process, const QString &program, const QStringList &arguments,
                           QString *error)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!m_address.isEmpty())
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
    process.setProcessEnvironment(environment);
    // Killed with the test, however it ends.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
    if (!process.waitForStarted(StartMs)) {
        *error = program + QStringLiteral(": ") + process.errorString();
        return false;
    }
    return true;
}

bool ModemRig::start(QString *error, Polkit polkit)
{
    // polkitd gives up root for a user of its own, which must still reach
    // the bus socket in here.
    if (!m_folder.isValid()
        || !QFile::setPermissions(m_folder.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                      | QFileDevice::ExeOther)) {
        *error = QStringLiteral("no temporary folder: ") + m_folder.errorString();
        return false;
    }
    QFile config(file(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)
        || config.write(QString::fromLatin1(BusConfig).arg(file(QStringLiteral("bus"))).toUtf8())
            < 0) {
        *error = config.errorString();
        return false;
    }
    config.close();
    m_bus = std::make_unique<QProcess>();
    m_bus->setProcessChannelMode(QProcess::SeparateChannels);
    if (!startDaemon(*m_bus, DBusDaemon,
                     {QStringLiteral("--config-file=") + config.fileName(),
                      QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                      QStringLiteral("--print-address=1")},
                     error))
        return false;
    const QDeadlineTimer deadline(StartMs);
    while (!m_bus->canReadLine() && !deadline.hasExpired())
        m_bus->waitForReadyRead(PollMs);
    m_address = QString::fromUtf8(m_bus->readLine()).trimmed();
    if (m_address.isEmpty()) {
        *error = QStringLiteral("dbus-daemon printed no address: ")
            + QString::fromLocal8Bit(m_bus->readAllStandardError());
        return false;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    if (!connection().isConnected()) {
        *error = connection().lastError().message();
        return false;
    }
    return startPolkit(polkit, error) && startModemManager(error);
}

bool ModemRig::waitForName(const QString &name, QProcess &process, QString *error) const
{
    const QDeadlineTimer deadline(StartMs);
    while (!connection().interface()->isServiceRegistered(name)) {
        if (process.state() != QProcess::Running || deadline.hasExpired()) {
            *error = QStringLiteral("%1 did not appear on the bus (%2)\n%3")
                         .arg(name,
                              process.state() == QProcess::Running ? QStringLiteral("timed out")
                                                                   : QStringLiteral("exited"),
                              QString::fromLocal8Bit(process.readAllStandardError()));
            return false;
        }
        QThread::msleep(PollMs);
    }
    return true;
}

bool ModemRig::startPolkit(Polkit polkit, QString *error)
{
    const QString rules = file(QStringLiteral("polkit-rules"));
    QDir(rules).removeRecursively();
    if (!QDir().mkpath(rules)
        || !QFile::setPermissions(rules,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                      | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                      | QFileDevice::ExeOther)) {
        *error = QStringLiteral("cannot make ") + rules;
        return false;
    }
    if (polkit == Polkit::Allow) {
        QFile rule(rules + QStringLiteral("/50-lanzhou-test.rules"));
        if (!rule.open(QIODevice::WriteOnly)
            || rule.write(QString::fromLatin1(PolkitRule).arg(QLatin1String(LinkUser)).toUtf8())
                < 0) {
            *error = rule.errorString();
            return false;
        }
        rule.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                            | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    m_polkit = std::make_unique<QProcess>();
    m_polkit->setStandardOutputFile(file(QStringLiteral("polkitd.log")));
    m_polkit->setStandardErrorFile(file(QStringLiteral("polkitd.log")), QIODevice::Append);
    // polkitd reads only its two rules folders: in a mount namespace of its
    // own, ours hides the machine's.
    const QString script =
        QStringLiteral("mount --bind \"$0\" /etc/polkit-1/rules.d"
                       " && mount -t tmpfs -o mode=0755 tmpfs /usr/share/polkit-1/rules.d"
                       " && exec %1 --no-debug")
            .arg(Polkitd);
    if (!startDaemon(*m_polkit, Unshare,
                     {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                      QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                      script, rules},
                     error))
        return false;
    if (!waitForName(PolkitService, *m_polkit, error)) {
        *error += tail(file(QStringLiteral("polkitd.log")), 20);
        return false;
    }
    return true;
}

bool ModemRig::setPolkit(Polkit polkit, QString *error)
{
    stop(m_polkit, false);
    const QDeadlineTimer deadline(StartMs);
    while (connection().interface()->isServiceRegistered(PolkitService) && !deadline.hasExpired())
        QThread::msleep(PollMs);
    return startPolkit(polkit, error);
}

bool ModemRig::startModemManager(QString *error)
{
    m_modemManager = std::make_unique<QProcess>();
    m_modemManager->setStandardOutputFile(file(QStringLiteral("ModemManager.out")),
                                          QIODevice::Append);
    m_modemManager->setStandardErrorFile(file(QStringLiteral("ModemManager.out")),
                                         QIODevice::Append);
    if (!startDaemon(*m_modemManager, ModemManagerProgram,
                     {QStringLiteral("--test-no-udev"), QStringLiteral("--test-enable"),
                      QStringLiteral("--test-no-suspend-resume"), QStringLiteral("--debug"),
                      QStringLiteral("--log-level=DEBUG"), QStringLiteral("--log-timestamps"),
                      QStringLiteral("--log-file=") + file(QStringLiteral("ModemManager.log"))},
                     error))
        return false;
    if (!waitForName(Service, *m_modemManager, error)) {
        *error += tail(file(QStringLiteral("ModemManager.log")), 20);
        return false;
    }
    return true;
}

void ModemRig::stop(std::unique_ptr<QProcess> &process, bool gently)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        if (gently) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
        } else {
            process->kill();
        }
        process->waitForFinished();
    }
    process.reset();
}

int ModemRig::addModem(const Modem &modem, QString *error)
{
    const int index = int(m_emulators.size());
    const QString prefix = QStringLiteral("modem%1").arg(index);
    Emulator emulator;
    emulator.modem = modem;
    emulator.name = QStringLiteral("rig%1").arg(index);
    emulator.process = std::make_unique<QProcess>();
    emulator.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral(LANZHOU_MODEM_EMULATOR),
                          QStringLiteral("--at-socket"),
                          file(prefix + QStringLiteral(".at")),
                          QStringLiteral("--control-socket"),
                          file(prefix + QStringLiteral(".control")),
                          QStringLiteral("--sent-log"),
                          file(prefix + QStringLiteral(".sent.jsonl")),
                          QStringLiteral("--trace"),
                          file(prefix + QStringLiteral(".trace")),
                          QStringLiteral("--manufacturer"),
                          modem.manufacturer,
                          QStringLiteral("--model"),
                          modem.model,
                          QStringLiteral("--imei"),
                          modem.imei,
                          QStringLiteral("--imsi"),
                          modem.imsi,
                          QStringLiteral("--iccid"),
                          modem.iccid,
                          QStringLiteral("--number"),
                          modem.number,
                          QStringLiteral("--operator"),
                          modem.operatorName,
                          QStringLiteral("--signal"),
                          QString::number(modem.signal),
                          QStringLiteral("--capacity"),
                          QString::number(modem.capacity),
                          QStringLiteral("--held"),
                          QString::number(modem.held),
                          QStringLiteral("--held-optout"),
                          QString::number(modem.heldOptOut)};
    if (!modem.pin.isEmpty())
        arguments << QStringLiteral("--pin") << modem.pin;
    if (modem.noSim)
        arguments << QStringLiteral("--no-sim");
    if (!startDaemon(*emulator.process, Python, arguments, error))
        return -1;
    const QDeadlineTimer deadline(StartMs);
    while (!emulator.process->canReadLine() && !deadline.hasExpired()
           && emulator.process->state() == QProcess::Running)
        emulator.process->waitForReadyRead(PollMs);
    if (emulator.process->readLine().trimmed() != "ready") {
        *error = QStringLiteral("the modem emulator did not start");
        return -1;
    }
    emulator.control = std::make_unique<QLocalSocket>();
    emulator.control->connectToServer(file(prefix + QStringLiteral(".control")));
    if (!emulator.control->waitForConnected(StartMs)) {
        *error =
            QStringLiteral("the emulator's control socket: ") + emulator.control->errorString();
        return -1;
    }
    m_emulators.push_back(std::move(emulator));
    if (!setProfile(m_emulators.back(), error))
        return -1;
    return index;
}

bool ModemRig::setProfile(Emulator &emulator, QString *error)
{
    const int index = int(&emulator - m_emulators.data());
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, Root, QStringLiteral("org.freedesktop.ModemManager1.Test"),
        QStringLiteral("SetProfile"));
    call << emulator.name << QStringLiteral("generic")
         << QStringList{file(QStringLiteral("modem%1.at").arg(index))};
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    const QDBusMessage reply = connection().call(call, QDBus::Block, CallMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("SetProfile: ") + reply.errorMessage();
        return false;
    }
    emulator.plugged = true;
    if (!waitForPath(index, true, error))
        return false;
    m_lastProbeMs = QDateTime::currentMSecsSinceEpoch() - started;
    return true;
}

QString ModemRig::path(int modem) const
{
    const Emulator &emulator = m_emulators.at(size_t(modem));
    return modemsByDevice(connection()).value(QStringLiteral("/virtual/") + emulator.name);
}

bool ModemRig::waitForPath(int modem, bool listed, QString *error, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (path(modem).isEmpty() == listed) {
        if (deadline.hasExpired()) {
            *error =
                QStringLiteral("ModemManager %1 modem %2\n%3")
                    .arg(listed ? QStringLiteral("did not export") : QStringLiteral("still lists"))
                    .arg(modem)
                    .arg(logs(30));
            return false;
        }
        QThread::msleep(PollMs * 2);
    }
    return true;
}

bool ModemRig::enable(int modem, QString *error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, path(modem), QStringLiteral("org.freedesktop.ModemManager1.Modem"),
        QStringLiteral("Enable"));
    call << true;
    const QDBusMessage reply = connection().call(call, QDBus::Block, CallMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("Enable: ") + reply.errorName() + u' ' + reply.errorMessage();
        return false;
    }
    return true;
}

QJsonObject ModemRig::steer(int modem, const QJsonObject &command, QString *error)
{
    QLocalSocket &control = *m_emulators.at(size_t(modem)).control;
    control.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    control.flush();
    const QDeadlineTimer deadline(CallMs);
    while (!control.canReadLine() && !deadline.hasExpired()
           && control.state() == QLocalSocket::ConnectedState)
        control.waitForReadyRead(PollMs * 5);
    const QJsonObject reply = QJsonDocument::fromJson(control.readLine()).object();
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        const QString why = reply.isEmpty() ? QStringLiteral("the emulator did not answer")
                                            : reply.value(QStringLiteral("error")).toString();
        if (error)
            *error = why;
        else
            qWarning("modem emulator: %s", qPrintable(why));
        return {};
    }
    return reply;
}

QList<QJsonObject> ModemRig::sent(int modem) const
{
    QList<QJsonObject> messages;
    QFile log(file(QStringLiteral("modem%1.sent.jsonl").arg(modem)));
    if (!log.open(QIODevice::ReadOnly))
        return messages;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            messages.append(QJsonDocument::fromJson(line).object());
    }
    return messages;
}

QString ModemRig::traceFile(int modem) const
{
    return file(QStringLiteral("modem%1.trace").arg(modem));
}

QDBusMessage ModemRig::inhibit(const Emulator &emulator, bool inhibited) const
{
    // The inhibition lasts as long as the connection that asked for it.
    const QDBusConnection inhibitor =
        QDBusConnection::connectToBus(m_address, m_connectionName + QStringLiteral("-inhibit"));
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Root, Service, QStringLiteral("InhibitDevice"));
    call << QStringLiteral("/virtual/") + emulator.name << inhibited;
    return inhibitor.call(call, QDBus::Block, CallMs);
}

bool ModemRig::unplug(int modem, QString *error)
{
    Emulator &emulator = m_emulators.at(size_t(modem));
    const QDBusMessage reply = inhibit(emulator, true);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("InhibitDevice: ") + reply.errorMessage();
        return false;
    }
    emulator.plugged = false;
    return waitForPath(modem, false, error);
}

bool ModemRig::plugIn(int modem, QString *error)
{
    Emulator &emulator = m_emulators.at(size_t(modem));
    const QDBusMessage reply = inhibit(emulator, false);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // ModemManager restarted since: the device is new to it.
        return setProfile(emulator, error);
    }
    emulator.plugged = true;
    return waitForPath(modem, true, error);
}

void ModemRig::stopModemManager()
{
    stop(m_modemManager, true);
    const QDeadlineTimer deadline(StartMs);
    while (connection().interface()->isServiceRegistered(Service) && !deadline.hasExpired())
        QThread::msleep(PollMs);
}

bool ModemRig::restartModemManager(QString *error)
{
    stopModemManager();
    if (!startModemManager(error))
        return false;
    for (Emulator &emulator : m_emulators) {
        if (emulator.plugged && !setProfile(emulator, error))
            return false;
    }
    return true;
}

QString ModemRig::logs(int lines) const
{
    QString text = tail(file(QStringLiteral("ModemManager.log")), lines);
    for (size_t i = 0; i < m_emulators.size(); ++i)
        text += tail(traceFile(int(i)), lines / 2);
    return text;
}

void ModemRig::reportIfFailed() const
{
    if (QTest::currentTestFailed())
        qWarning("%s", qPrintable(logs()));
}
