#include "sending/phonechannel.h"

#include "phonelink/kdeconnectphones.h"

PhoneChannel::PhoneChannel(KdeConnectPhones &phones, const QString &deviceId, QObject *parent)
    : SendChannel(parent)
    , m_phones(phones)
    , m_deviceId(deviceId)
    , m_name(deviceId)
{
    const auto look = [this] {
        const bool present = isPresent();
        for (const PhoneDevice &phone : m_phones.smsPhones()) {
            if (phone.id == m_deviceId)
                m_name = phone.name;
        }
        if (present != m_present) {
            m_present = present;
            emit availabilityChanged();
        }
    };
    m_present = isPresent();
    look();
    connect(&phones, &KdeConnectPhones::phonesChanged, this, look);
}

QString PhoneChannel::label() const
{
    return m_name;
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
    const QList<PhoneDevice> phones = m_phones.smsPhones();
    return std::any_of(phones.cbegin(), phones.cend(),
                       [this](const PhoneDevice &phone) { return phone.id == m_deviceId; });
}

QString PhoneChannel::absence() const
{
    return isPresent() ? QString()
                       : QStringLiteral("手机“%1”已经断开（不在 KDE Connect 的可用设备中）").arg(m_name);
}
