#pragma once

#include <QDBusConnection>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// The real KDE Connect daemon for a test, with pretend devices of our own
// (tests/support/pretenddevices.py). Everything runs inside a network
// namespace of its own (so nothing reaches the real network and tests run in
// parallel), on a private session bus without service activation whose
// socket lies in the test's temporary folder; the test talks to the daemon
// over that bus. The daemon keeps its configuration, and each device its
// certificate and pairing, in the same folder.
//
// Every call blocks, running the event loop while it waits, so that the code
// under test sees the daemon's signals meanwhile.
class PhoneRig
{
public:
    enum class Started { Yes, Impossible, Failed };
    // A phone with the SMS, share and telephony plugins, or a desktop with
    // share only (no SMS plugin).
    enum class Kind { Phone, Desktop };

    // One SMS in the phone's store.
    struct Message
    {
        QString number;
        QString body;
        qint64 date = 0; // ms since the epoch
        int type = 1;    // 1 inbox, 2 sent
    };

    PhoneRig();
    ~PhoneRig();
    PhoneRig(const PhoneRig &) = delete;
    PhoneRig &operator=(const PhoneRig &) = delete;

    // Impossible: this machine cannot make a network namespace (the reason
    // says why; the test skips). Failed: anything else, with the reason.
    Started start(QString *error);
    // A connection of the test's own to the rig's bus.
    QDBusConnection connection() const;

    // Adds a device (a new id each time) and pairs it the way a user would:
    // the device asks, the test accepts on the device object. Returns once
    // the daemon lists it as reachable and paired.
    bool addDevice(Kind kind, const QString &name, QString *id, QString *error);
    // The device closes its link; returns once the daemon no longer lists it
    // as reachable.
    bool leave(const QString &id, QString *error);
    // The device announces itself again and reconnects, without asking to
    // pair; returns once the daemon lists it again.
    bool comeBack(const QString &id, QString *error);
    // Messages the phone's SMS store gets without telling the daemon (as
    // while the link is down); the phone answers the daemon's conversation
    // requests from its store.
    bool hold(const QString &id, const QList<Message> &messages, QString *error);
    // A message arriving at the phone now: stored, and sent to the daemon as
    // the phone app does.
    bool push(const QString &id, const Message &message, QString *error);

    // The daemon quits; returns once its name left the bus.
    bool stopDaemon(QString *error);

    // The packets the device received, oldest first: all of them, or those
    // of one type ("kdeconnect.sms.request").
    QList<QJsonObject> received(const QString &id, const QString &type = {}) const;

    // Milliseconds the last start() and addDevice() took.
    qint64 startMs() const { return m_startMs; }
    qint64 pairMs() const { return m_pairMs; }

private:
    bool command(const QJsonObject &request, QJsonObject *answer, QString *error);
    bool readAnswer(QJsonObject *answer, int timeoutMs, QString *error);
    bool deviceListed(const QString &id, bool *listed, QString *error) const;
    bool waitListed(const QString &id, bool listed, QString *error);
    QString logTail() const;
    void stop();

    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_rig;
    QString m_connectionName;
    QString m_address;
    int m_devices = 0;
    qint64 m_startMs = 0;
    qint64 m_pairMs = 0;
};

// Starts the rig in a QtTest function: skips the test when this machine
// cannot run it (no root, packages missing), fails it when starting fails.
#define START_PHONE_RIG(rig)                                                                       \
    do {                                                                                           \
        QString rigError;                                                                          \
        const PhoneRig::Started rigStarted = (rig).start(&rigError);                               \
        if (rigStarted == PhoneRig::Started::Impossible)                                           \
            QSKIP(qPrintable(rigError));                                                           \
        QVERIFY2(rigStarted == PhoneRig::Started::Yes, qPrintable(rigError));                      \
    } while (false)
