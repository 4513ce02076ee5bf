#include "sending/sendrecord.h"

#include <array>

namespace {

struct StateName
{
    RecordState state;
    const char16_t *text;
};

constexpr std::array<StateName, 8> StateNames = {{
    {RecordState::Waiting, u"待发送"},
    {RecordState::Sending, u"发送中"},
    {RecordState::Sent, u"已发送"},
    {RecordState::Delivered, u"已送达"},
    {RecordState::DeliveryFailed, u"送达失败"},
    {RecordState::Failed, u"失败"},
    {RecordState::Unconfirmed, u"未确认"},
    {RecordState::HandedToPhone, u"已交给手机"},
}};

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

namespace RecordStates {

QString text(RecordState state)
{
    for (const StateName &name : StateNames) {
        if (name.state == state)
            return QString::fromUtf16(name.text);
    }
    return QString();
}

std::optional<RecordState> fromText(const QString &text)
{
    for (const StateName &name : StateNames) {
        if (text == QStringView(name.text))
            return name.state;
    }
    return std::nullopt;
}

} // namespace RecordStates

QString BatchSettings::channelText(Channel channel)
{
    return channel == Channel::Modem ? QStringLiteral("短信猫") : QStringLiteral("手机");
}

std::optional<BatchSettings::Channel> BatchSettings::channelFromText(const QString &text)
{
    if (text == channelText(Channel::Modem))
        return Channel::Modem;
    if (text == channelText(Channel::Phone))
        return Channel::Phone;
    return std::nullopt;
}

namespace LogTime {

QString text(const QDateTime &time)
{
    return time.toLocalTime().toString(TimeFormat);
}

QDateTime parse(const QString &text)
{
    return QDateTime::fromString(text, TimeFormat);
}

} // namespace LogTime
