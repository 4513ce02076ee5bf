#pragma once

#include "sending/sendrecord.h"

#include <QObject>
#include <QString>

#include <functional>

// What became of one message handed to a channel.
struct SendResult
{
    // Sent, HandedToPhone, Failed (surely not sent) or Unconfirmed (may have
    // left: the modem's answer never came)
    RecordState state = RecordState::Failed;
    QString note;          // why it failed, for the user
    QString smsPath;       // the message's object on a modem
    qint64 reference = -1; // its message reference, -1 when none
};

// One way out for a batch: a modem or a phone. Every call is asynchronous;
// done runs exactly once, later, on the window's thread.
class SendChannel : public QObject
{
    Q_OBJECT

public:
    using Created = std::function<void(const QString &smsPath)>;
    using Done = std::function<void(const SendResult &result)>;

    explicit SendChannel(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    // Sends text to one number. created runs when the modem made the message
    // and before it is sent (never for a phone).
    virtual void send(const QString &number, const QString &text, const Created &created,
                      const Done &done) = 0;
    // Is the device still there?
    virtual bool isPresent() const = 0;

signals:
    // The device went away (unplugged, service stopped, phone out of reach).
    void gone();
};
