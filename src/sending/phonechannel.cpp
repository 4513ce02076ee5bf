#include "sending/phonechannel.h"

#include "phonelink/kdeconnectphones.h"

#include <optional>

namespace {

// The phone as the link lists it among those that can send, if it is there.
std::optional<PhoneDevice> sendingPhone(const KdeConnectPhones &phones, const QString &id)
{
    for (const PhoneDevice &phone : phones.smsPhones()) {
        if (phone.id == id)
            return phone;
    }
    return std::nullopt;
}

} // namespace

PhoneChannel::PhoneChannel(KdeConnectPhones &phones, const QString &deviceId, QObject *parent)
    : SendChannel(parent)
    , m_phones(phones)
    , m_deviceId(deviceId)
    , m_name(deviceId)
{
    const auto look = [this] {
        const std::optional<PhoneDevice> phone = sendingPhone(m_phones, m_deviceId);
        if (phone)
            m_name = phone->name;
        if (phone.has_value() != m_present) {
            m_present = phone.has_value();
            emit availabilityChanged();
        }
    };
    if (const std::optional<PhoneDevice> phone = sendingPhone(m_phones, m_deviceId)) {
        m_present = true;
        m_name = phone->name;
    }
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
    return sendingPhone(m_phones, m_deviceId).has_value();
}

QString PhoneChannel::absence() const
{
    return isPresent() ? QString()
                       : QStringLiteral("手机“%1”已经断开（不在 KDE Connect 的可用设备中）").arg(m_name);
}
