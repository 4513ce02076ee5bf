#pragma once

#include "followup/ui/phonedialer.h"

class KdeConnectPhones;

// Dials through the first reachable paired phone of KDE Connect.
class KdeConnectDialer : public PhoneDialer
{
public:
    explicit KdeConnectDialer(KdeConnectPhones &phones);

    QString phoneName() const override;
    void dial(const QString &number, Done done) override;

private:
    KdeConnectPhones &m_phones;
};
