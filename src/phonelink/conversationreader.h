#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QDBusMessage;

// Reads the SMS the user's phones received, from the conversations the KDE
// Connect daemon offers for each phone with the SMS plugin.
//
// The daemon only knows what the phone sent it: the newest message of each
// conversation when asked for all of them, a conversation's recent messages
// when asked for it, and each new message as it arrives. So at every
// connection of a phone the newest message of each conversation is read, and
// the recent messages of the conversations whose newest message is newer than
// what was seen (a reply may hide behind a later message); while the phone
// stays connected, each message it passes on is taken as it comes.
//
// Conversations are read whole one after the other: the daemon (22.12)
// fetches a conversation on a thread of its own that holds a lock while it
// calls back into the daemon, and the daemon's main thread takes the same
// lock for every message packet; two reads at once can stop the daemon.
class ConversationReader : public QObject
{
    Q_OBJECT

public:
    // Conversations read whole at one connection, the most recent first.
    static constexpr int ConversationsReadWhole = 50;
    // Messages asked for when one is read whole: what the daemon fetches in
    // one go anyway.
    static constexpr int MessagesOfAConversation = 25;
    // A phone that does not answer for a conversation this long: the next one
    // is read.
    static constexpr int ReadTimeoutMs = 10000;

    explicit ConversationReader(const QDBusConnection &bus, QObject *parent = nullptr);

    // Messages dated up to this time were taken in an earlier run.
    void setSeenUntil(qint64 msSinceEpoch) { m_seenUntil = msSinceEpoch; }
    // The phones whose conversations can be read now; one new in the list
    // (just connected) is read.
    void setPhones(const QStringList &deviceIds);

signals:
    void messageReceived(const QString &deviceId, const QString &number, const QString &text,
                         const QString &stamp);

private slots:
    void onMessage(const QDBusMessage &signal);
    void onLoaded(const QDBusMessage &signal);

private:
    // One message as the daemon gives it.
    struct Message
    {
        qint32 event = 0;
        QString body;
        QStringList addresses;
        qint64 date = 0;
        qint32 type = 0;
        qint64 thread = 0;
        qint32 uid = 0;
    };

    struct Phone
    {
        bool connected = false;
        // Conversations with a message newer than this are read whole.
        qint64 readFrom = 0;
        // The newest message seen from the phone in this run.
        qint64 newest = 0;
        QSet<qint64> readWhole; // since the phone connected
        int wholeReadsLeft = 0;
        QList<qint64> toRead;  // conversations waiting to be read whole
        qint64 reading = -1;   // the one being read
        quint64 readCount = 0; // tells a late timeout from the current read
        QSet<QString> reported;
    };

    static bool decode(const QVariant &value, Message *message);
    void startReading(const QString &deviceId);
    void settleSoon(const QString &deviceId);
    void readNewest(const QString &deviceId);
    void take(const QString &deviceId, const Message &message);
    void readNext(const QString &deviceId);
    void callConversations(const QString &deviceId, const QString &method,
                           const QVariantList &arguments,
                           const std::function<void(const QDBusMessage &)> &answered = {});

    QDBusConnection m_bus;
    qint64 m_seenUntil = 0;
    QHash<QString, Phone> m_phones;
    // Phones whose newest messages are asked for when the answers settle.
    QSet<QString> m_settling;
    QTimer m_settle;
};
