#include "followup/ui/kdeconnectdialer.h"

#include "phonelink/kdeconnectphones.h"

KdeConnectDialer::KdeConnectDialer(KdeConnectPhones &phones)
    : m_phones(phones)
{
}

QList<PhoneDialer::Phone> KdeConnectDialer::phones() const
{
    QList<Phone> phones;
    for (const PhoneDevice &device : m_phones.dialPhones())
        phones.append({device.id, device.name});
    return phones;
}

void KdeConnectDialer::dial(const QString &phoneId, const QString &number, Done done)
{
    m_phones.dial(phoneId, number, std::move(done));
}
