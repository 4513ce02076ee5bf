#pragma once

#include "sending/sendchannel.h"

class KdeConnectPhones;

// The user's own phone as a channel for a batch. The phone reports nothing
// about the message itself, so a message it took is 已交给手机.
class PhoneChannel : public SendChannel
{
    Q_OBJECT

public:
    PhoneChannel(KdeConnectPhones &phones, const QString &deviceId, QObject *parent = nullptr);

    void send(const QString &number, const QString &text, const Created &created,
              const Done &done) override;
    bool isPresent() const override;

private:
    bool canSend() const;

    KdeConnectPhones &m_phones;
    QString m_deviceId;
    bool m_wasPresent;
};
