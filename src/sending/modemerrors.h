#pragma once

#include <QString>

// ModemManager's errors as the user reads them, and what they say about a
// message that was being sent.
namespace ModemErrors {

// The reason in Chinese, then the D-Bus error's name in brackets:
// "短信中心拒绝发送：网络故障（CMS 38）（org.freedesktop.ModemManager1.Error.Message.Unknown）".
QString describe(const QString &errorName, const QString &errorMessage);

// After Sms.Send failed with this error, may the message still have left
// (nobody answered, or the answer was lost), rather than surely not?
bool mayHaveLeft(const QString &errorName);

} // namespace ModemErrors
