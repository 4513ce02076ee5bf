#pragma once

#include "followup/ui/phonedialer.h"

class KdeConnectPhones;

// Dials through the user's phones paired with KDE Connect: those that can
// open a tel: address (a computer paired with KDE Connect is not offered).
class KdeConnectDialer : public PhoneDialer
{
public:
    explicit KdeConnectDialer(KdeConnectPhones &phones);

    QList<Phone> phones() const override;
    void dial(const QString &phoneId, const QString &number, Done done) override;

private:
    KdeConnectPhones &m_phones;
};
