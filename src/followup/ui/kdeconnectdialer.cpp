#include "followup/ui/kdeconnectdialer.h"

#include "phonelink/kdeconnectphones.h"

KdeConnectDialer::KdeConnectDialer(KdeConnectPhones &phones)
    : m_phones(phones)
{
}

QString KdeConnectDialer::phoneName() const
{
    const QList<PhoneDevice> phones = m_phones.phones();
    if (phones.isEmpty())
        return {};
    return phones.first().name.isEmpty() ? phones.first().id : phones.first().name;
}

void KdeConnectDialer::dial(const QString &number, Done done)
{
    const QList<PhoneDevice> phones = m_phones.phones();
    if (phones.isEmpty()) {
        done(false, QStringLiteral("没有可用的手机"));
        return;
    }
    m_phones.dial(phones.first().id, number, std::move(done));
}
