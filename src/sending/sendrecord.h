#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

// The state of one recipient of a batch, stored as the word a user reads
// when opening the file by hand.
enum class RecordState {
    Waiting,        // 待发送
    Sending,        // 发送中: written before the message leaves
    Sent,           // 已发送
    Delivered,      // 已送达
    DeliveryFailed, // 送达失败
    Failed,         // 失败
    Unconfirmed,    // 未确认: the program stopped while it was 发送中
    HandedToPhone,  // 已交给手机: the phone reports no result
};

namespace RecordStates {
QString text(RecordState state);
std::optional<RecordState> fromText(const QString &text);
} // namespace RecordStates

// How a batch goes out: the channel and its device, the text as typed and
// the pace.
struct BatchSettings
{
    enum class Channel { Modem, Phone };

    Channel channel = Channel::Modem;
    QString deviceId;   // the modem's object path or the phone's id
    QString deviceName; // as the dialog showed it
    QString text;       // as typed, placeholders included
    bool optOutLine = false;
    int intervalSeconds = 0;
    int perHour = 0; // 0: no cap
    int perDay = 0;  // 0: no cap
    bool windowOn = false;
    QTime windowStart;
    QTime windowEnd;

    static QString channelText(Channel channel);
    static std::optional<Channel> channelFromText(const QString &text);
};

// One recipient row of 发送记录.
struct SendRecord
{
    qint64 id = 0;
    qint64 batch = 0;
    QString mobile;
    QString name;
    QString text; // as sent
    RecordState state = RecordState::Waiting;
    QString note;
    QString time;
    QString smsPath;
    qint64 reference = -1; // the message reference, -1 when none
};

// Times in the log: local time as "2026-12-07 14:30:00", so that text order
// is time order.
namespace LogTime {
QString text(const QDateTime &time);
QDateTime parse(const QString &text);
} // namespace LogTime
