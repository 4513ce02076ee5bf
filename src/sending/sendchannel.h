#pragma once

#include "sending/sendrecord.h"

#include <QObject>
#include <QString>

#include <functional>

// What became of one message handed to a channel.
struct SendResult
{
    // Sent or HandedToPhone; Failed when it surely did not leave; Unconfirmed
    // when it may have (no answer, a timeout): never sent again by itself.
    RecordState state = RecordState::Failed;
    QString note;        // why, for the user, in Chinese
    QString smsPath;     // the message's object on a modem
    qint64 reference = -1; // its message reference, -1 when none
};

// One way out for a batch: a modem (its SIM) or a phone. Every call is
// asynchronous; a callback runs exactly once, later, on the window's thread.
class SendChannel : public QObject
{
    Q_OBJECT

public:
    using Created = std::function<void(const QString &smsPath)>;
    using Done = std::function<void(const SendResult &result)>;
    using Prepared = std::function<void(bool ok, const QString &error)>;

    explicit SendChannel(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    // The identity the log and the caps keep: a SIM's, or the phone's.
    virtual QString deviceId() const = 0;
    // How the log names it ("中国移动 尾号 5678", the phone's name).
    virtual QString label() const = 0;
    // Makes the device ready to send (a modem not enabled yet is enabled);
    // done(false, why in Chinese) when it cannot be.
    virtual void prepare(const Prepared &done) { done(true, QString()); }
    // Sends text to one number. created runs when the modem made the message
    // and before it is sent (never for a phone).
    virtual void send(const QString &number, const QString &text, const Created &created,
                      const Done &done) = 0;
    // Can the device take a message now?
    virtual bool isPresent() const = 0;
    // Why not, in Chinese ("" while present).
    virtual QString absence() const = 0;

signals:
    // The device went away or came back (unplugged, service stopped, phone
    // out of reach, SIM locked): isPresent() says which.
    void availabilityChanged();
};
