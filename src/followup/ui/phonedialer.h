#pragma once

#include <QList>
#include <QString>

#include <functional>

// The phones that can dial a number for the user (through the desktop's
// phone link). The follow-up windows only ask through this.
class PhoneDialer
{
public:
    struct Phone
    {
        QString id;
        QString name;
    };
    using Done = std::function<void(bool ok, const QString &error)>;

    virtual ~PhoneDialer() = default;
    // The reachable phones that can dial, in a steady order; empty when none.
    virtual QList<Phone> phones() const = 0;
    // Asks the phone to dial number; done runs once, later, with the outcome
    // (error in Chinese).
    virtual void dial(const QString &phoneId, const QString &number, Done done) = 0;
};
