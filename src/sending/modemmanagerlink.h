#pragma once

#include "sending/sendchannel.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QDBusServiceWatcher;

// A modem as ModemManager describes it.
struct ModemInfo
{
    QString path; // its object path
    QString id;   // what the log and the caps keep
    QString manufacturer;
    QString model;
    QString operatorName;
    int signalPercent = -1; // -1 when not known

    bool canSend() const { return true; }
    // "制造商 型号（运营商，信号 80%）"
    QString label() const;
    QString simLabel() const { return label(); }
};

// ModemManager on the system bus: the modems it knows, sending through one
// of them, and the messages and delivery reports the modems receive. Every
// call is asynchronous.
class ModemManagerLink : public QObject
{
    Q_OBJECT

public:
    // The states of a message on the modem that matter after a restart.
    enum SmsState : uint { Unknown = 0, Stored = 1, Receiving = 2, Received = 3, Sending = 4, Sent = 5 };

    explicit ModemManagerLink(const QDBusConnection &bus = QDBusConnection::systemBus(),
                              QObject *parent = nullptr);

    QList<ModemInfo> modems() const { return m_modems; }
    std::optional<ModemInfo> modem(const QString &id) const;
    bool hasAnswered() const { return m_answered; }
    bool hasModem(const QString &path) const;
    void enable(const QString &id, std::function<void(bool ok, const QString &error)> done)
    {
        done(true, QString());
        (void)id;
    }
    // Reads the modems anew; modemsChanged() follows when they differ.
    void refresh();

    // Makes the message on the modem (asking for a delivery report), then
    // sends it.
    void send(const QString &modemPath, const QString &number, const QString &text,
              const SendChannel::Created &created, const SendChannel::Done &done);
    // The state of a message made earlier; nullopt when the modem no longer
    // knows it (or ModemManager does not answer).
    void readSmsState(const QString &id, const QString &smsPath, const QString &number,
                      const QString &text, std::function<void(std::optional<uint>)> done);
    // Removes a message the modem still holds (best effort).
    void deleteSms(const QString &modemPath, const QString &smsPath);

    // A ModemManager error as the user reads it: the reason in Chinese where
    // it is known, the error's name otherwise.
    static QString describeError(const QString &errorName, const QString &errorMessage);

signals:
    void modemsChanged();
    // Also for the messages a modem holds when it is first seen (received
    // while the program was not running): stamp, the network's time, tells
    // them apart.
    void messageReceived(const QString &modemId, const QString &number, const QString &text,
                         const QString &stamp, const QString &smsPath);
    void statusReport(const QString &modemId, const QString &number, qint64 reference,
                      bool delivered, const QString &reportPath);

private Q_SLOTS:
    void onObjectsChanged();
    void onMessageAdded(const QDBusMessage &message);

private:
    using Reply = std::function<void(const QDBusMessage &reply)>;
    void call(const QDBusMessage &message, int timeoutMs, const Reply &then);
    void readModems(const QDBusMessage &reply);
    void readHeldMessages(const QString &modemPath);
    void readReceived(const QString &smsPath, int attemptsLeft);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_serviceWatcher = nullptr;
    QList<ModemInfo> m_modems;
    bool m_refreshing = false;
    bool m_answered = false;
    bool m_refreshAgain = false;
};

// One modem as a channel for a batch.
class ModemChannel : public SendChannel
{
    Q_OBJECT

public:
    ModemChannel(ModemManagerLink &link, const QString &modemPath, QObject *parent = nullptr);

    QString deviceId() const override { return m_modemPath; }
    QString label() const override { return m_modemPath; }
    void send(const QString &number, const QString &text, const Created &created,
              const Done &done) override;
    bool isPresent() const override;
    QString absence() const override { return isPresent() ? QString() : QStringLiteral("短信猫已经不在了"); }

private:
    ModemManagerLink &m_link;
    QString m_modemPath;
};
