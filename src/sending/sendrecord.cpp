#include "sending/sendrecord.h"

#include <array>

namespace {

template<typename Value>
struct Word
{
    Value value;
    const char16_t *text;
};

constexpr std::array<Word<RecordState>, 8> StateWords = {{
    {RecordState::Waiting, u"待发送"},
    {RecordState::Sending, u"发送中"},
    {RecordState::Sent, u"已发送"},
    {RecordState::Delivered, u"已送达"},
    {RecordState::DeliveryFailed, u"送达失败"},
    {RecordState::Failed, u"失败"},
    {RecordState::Unconfirmed, u"未确认"},
    {RecordState::HandedToPhone, u"已交给手机"},
}};

constexpr std::array<Word<BatchStatus>, 6> StatusWords = {{
    {BatchStatus::Running, u"进行中"},
    {BatchStatus::Paused, u"已暂停"},
    {BatchStatus::Stopped, u"已停止"},
    {BatchStatus::Dropped, u"已中断"},
    {BatchStatus::Finished, u"已完成"},
    {BatchStatus::Scheduled, u"等待定时"},
}};

template<typename Value, std::size_t N>
QString wordFor(const std::array<Word<Value>, N> &words, Value value)
{
    for (const Word<Value> &word : words) {
        if (word.value == value)
            return QString::fromUtf16(word.text);
    }
    return QString();
}

template<typename Value, std::size_t N>
std::optional<Value> valueFor(const std::array<Word<Value>, N> &words, const QString &text)
{
    for (const Word<Value> &word : words) {
        if (text == QStringView(word.text))
            return word.value;
    }
    return std::nullopt;
}

QByteArray quoted(const QString &word)
{
    return '\'' + word.toUtf8() + '\'';
}

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

namespace RecordStates {

QString text(RecordState state)
{
    return wordFor(StateWords, state);
}

std::optional<RecordState> fromText(const QString &text)
{
    return valueFor(StateWords, text);
}

QByteArray sqlList(std::initializer_list<RecordState> states)
{
    QByteArrayList words;
    for (RecordState state : states)
        words.append(quoted(text(state)));
    return '(' + words.join(", ") + ')';
}

} // namespace RecordStates

namespace BatchStatuses {

QString text(BatchStatus status)
{
    return wordFor(StatusWords, status);
}

std::optional<BatchStatus> fromText(const QString &text)
{
    return valueFor(StatusWords, text);
}

QByteArray sqlWord(BatchStatus status)
{
    return quoted(text(status));
}

} // namespace BatchStatuses

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

QStringList BatchSettings::devicesFromText(const QString &text)
{
    return text.split(u';', Qt::SkipEmptyParts);
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
