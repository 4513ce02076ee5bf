#pragma once

#include <QString>

#include <functional>

// A phone that can dial a number for the user (through the desktop's phone
// link). The follow-up windows only ask through this.
class PhoneDialer
{
public:
    using Done = std::function<void(bool ok, const QString &error)>;

    virtual ~PhoneDialer() = default;
    // The name of the phone that would dial; "" when none is reachable.
    virtual QString phoneName() const = 0;
    // Asks the phone to dial number; done runs once, later, with the outcome.
    virtual void dial(const QString &number, Done done) = 0;
};
