#pragma once

#include <QDBusConnection>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class QDBusMessage;
class QLocalSocket;
class QProcess;

// The real ModemManager for one test, with GSM modems of our own behind it.
//
// start() runs, all in a private folder:
//   - a dbus-daemon of its own as the system bus (a config that lets anyone
//     own any name), named in DBUS_SYSTEM_BUS_ADDRESS;
//   - polkitd on that bus, inside a mount namespace of its own (unshare) in
//     which /etc/polkit-1/rules.d is our folder, holding a rule that lets the
//     user "nobody" use every ModemManager action whatever its session (there
//     is no logind here: a caller without a session only gets what an action
//     allows "any" user, which for ModemManager is nothing; root is allowed
//     everything by polkit itself), and /usr/share/polkit-1/rules.d is an
//     empty tmpfs. The machine's own polkit configuration is never touched;
//     the namespace goes with the process;
//   - ModemManager in test mode (no udev), logging to a file.
// addModem() starts one emulator (tests/support/modememulator/gsmmodem.py)
// behind a Unix socket and makes ModemManager take it as a modem of the
// generic plugin (Test.SetProfile).
//
// Everything started is ended when the rig goes (also when the test process
// dies: the children get SIGKILL with their parent, and polkitd and
// ModemManager quit with their bus).
class ModemRig
{
public:
    // A modem as made: what its SIM and its network say.
    struct Modem
    {
        QString imei = QStringLiteral("867530900000001");
        QString iccid = QStringLiteral("89860000000000000001");
        QString imsi = QStringLiteral("460001234567801");
        QString number; // the SIM's own number (+CNUM), "" for none
        QString operatorName = QStringLiteral("中国移动");
        QString manufacturer = QStringLiteral("Lanzhou");
        QString model = QStringLiteral("GSM Modem");
        int signal = 64;    // per cent
        int capacity = 30;  // messages the SIM holds
        int held = 0;       // messages received earlier, on the SIM at start
        int heldOptOut = 0; // of those, the first ones read "T"
        QString pin;        // the SIM asks for this PIN when set
        bool noSim = false;
    };

    enum class Polkit { Allow, Refuse };

    ModemRig();
    ~ModemRig();
    ModemRig(const ModemRig &) = delete;
    ModemRig &operator=(const ModemRig &) = delete;

    // Why this machine cannot run the rig, "" when it can (root is needed
    // for polkitd's mount namespace).
    static QString unavailable();

    bool start(QString *error, Polkit polkit = Polkit::Allow);
    QString address() const { return m_address; }
    // The test's own connection to the bus, as root: polkit lets it do
    // anything.
    QDBusConnection connection() const;
    // The connection for the code under test, as the user "nobody", the one
    // the polkit rule names (as an ordinary desktop user without a session).
    QDBusConnection linkConnection() const;

    // Starts an emulator and waits until ModemManager has exported its modem;
    // the modem's index for the calls below, -1 on failure.
    int addModem(const Modem &modem, QString *error);
    // The modem's object path now, "" when ModemManager does not list it.
    QString path(int modem) const;
    // Waits until ModemManager lists the modem (or no longer does).
    bool waitForPath(int modem, bool listed, QString *error, int timeoutMs = 20000) const;
    // Modem.Enable(true) from the test's side.
    bool enable(int modem, QString *error);

    // One command to the emulator ({"cmd": "deliver", ...}, see gsmmodem.py);
    // its reply, or an empty object with error set.
    QJsonObject steer(int modem, const QJsonObject &command, QString *error = nullptr);
    // Every message the modem was asked to send, decoded, in order.
    QList<QJsonObject> sent(int modem) const;
    // The emulator's AT dialogue, each line after its time.
    QString traceFile(int modem) const;

    // The modem taken away (ModemManager forgets it, as when it is
    // unplugged) and given back: ModemManager probes it anew and exports it
    // under a new path.
    bool unplug(int modem, QString *error);
    bool plugIn(int modem, QString *error);
    // ModemManager stopped and started again; the modems plugged in come back.
    bool restartModemManager(QString *error);
    // ModemManager stopped for good (its D-Bus name goes away).
    void stopModemManager();
    // polkitd started again with or without the rule.
    bool setPolkit(Polkit polkit, QString *error);

    // The tail of ModemManager's log and of every emulator's AT dialogue.
    QString logs(int lines = 60) const;
    // Prints logs() when the running test function failed (call it from cleanup()).
    void reportIfFailed() const;

    // How long the last addModem() waited for ModemManager's probing, in ms.
    qint64 lastProbeMs() const { return m_lastProbeMs; }

private:
    struct Emulator
    {
        Modem modem;
        QString name; // the virtual device's id for SetProfile
        std::unique_ptr<QProcess> process;
        std::unique_ptr<QLocalSocket> control;
        bool plugged = true;
    };

    QString file(const QString &name) const;
    bool startDaemon(QProcess &process, const QString &program, const QStringList &arguments,
                     QString *error);
    bool startPolkit(Polkit polkit, QString *error);
    bool startModemManager(QString *error);
    bool waitForName(const QString &name, QProcess &process, QString *error) const;
    bool setProfile(Emulator &emulator, QString *error);
    // ModemManager told to leave the emulator's device alone, or to take it back.
    QDBusMessage inhibit(const Emulator &emulator, bool inhibited) const;
    void stop(std::unique_ptr<QProcess> &process, bool gently);

    QTemporaryDir m_folder;
    QString m_address;
    QString m_connectionName;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_polkit;
    std::unique_ptr<QProcess> m_modemManager;
    std::vector<Emulator> m_emulators;
    int m_generation = 0;
    qint64 m_lastProbeMs = 0;
};
