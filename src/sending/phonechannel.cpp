#include "sending/phonechannel.h"

#include "phonelink/kdeconnectphones.h"

PhoneChannel::PhoneChannel(KdeConnectPhones &phones, const QString &deviceId, QObject *parent)
    : SendChannel(parent)
    , m_phones(phones)
    , m_deviceId(deviceId)
    , m_wasPresent(canSend())
{
    connect(&phones, &KdeConnectPhones::phonesChanged, this, [this] {
        // Said once when the phone goes; a phone that comes back may go again.
        const bool present = canSend();
        if (m_wasPresent && !present)
            emit gone();
        m_wasPresent = present;
    });
}

void PhoneChannel::send(const QString &number, const QString &text, const Created &,
                        const Done &done)
{
    m_phones.sendSms(m_deviceId, number, text, [done](bool ok, const QString &error) {
        SendResult result;
        result.state = ok ? RecordState::HandedToPhone : RecordState::Failed;
        result.note = ok ? QString() : error;
        done(result);
    });
}

bool PhoneChannel::isPresent() const
{
    return canSend();
}

bool PhoneChannel::canSend() const
{
    // Reachable and able to send: a computer paired with KDE Connect is not a phone.
    const QList<PhoneDevice> phones = m_phones.smsPhones();
    return std::any_of(phones.cbegin(), phones.cend(),
                       [this](const PhoneDevice &phone) { return phone.id == m_deviceId; });
}
