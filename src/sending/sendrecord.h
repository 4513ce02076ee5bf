#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
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
    Failed,         // 失败: surely did not leave
    Unconfirmed,    // 未确认: may have left; never sent again by itself
    HandedToPhone,  // 已交给手机: the phone reports no result
};

// The state of a batch, stored the same way.
enum class BatchStatus {
    Running,     // 进行中 (one still so at start was interrupted)
    Paused,      // 已暂停
    Stopped,     // 已停止
    Dropped,     // 已中断: the user declined to continue it
    Finished,    // 已完成: no recipient waits any more
    Scheduled,   // 等待定时: leaves at its set time
};

// The one table of the stored words: the log's statements and the windows
// both take them from here.
namespace RecordStates {
QString text(RecordState state);
std::optional<RecordState> fromText(const QString &text);
// "('已发送', '已送达')": the words as an SQL list, for IN.
QByteArray sqlList(std::initializer_list<RecordState> states);
// The states of a message that left through the device, or may have.
inline constexpr std::initializer_list<RecordState> MayHaveLeft = {
    RecordState::Sending,     RecordState::Sent,        RecordState::Delivered,
    RecordState::DeliveryFailed, RecordState::Unconfirmed, RecordState::HandedToPhone};
} // namespace RecordStates

namespace BatchStatuses {
QString text(BatchStatus status);
std::optional<BatchStatus> fromText(const QString &text);
QByteArray sqlWord(BatchStatus status);
} // namespace BatchStatuses

// How a batch goes out: the channel and its devices, the text as typed and
// the pace (which applies to each device on its own).
struct BatchSettings
{
    enum class Channel { Modem, Phone };

    Channel channel = Channel::Modem;
    // The modems' SIM identities (see ModemInfo::id), or the one phone's id.
    QStringList deviceIds;
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
    // The devices as the batch row keeps them: separated by ";".
    QString deviceText() const { return deviceIds.join(u';'); }
    static QStringList devicesFromText(const QString &text);
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
    QString device;        // the device it went through ("" while waiting)
    QString deviceName;    // as that device was last shown
};

// Times in the log: local time as "2026-12-07 14:30:00", so that text order
// is time order.
namespace LogTime {
QString text(const QDateTime &time);
QDateTime parse(const QString &text);
} // namespace LogTime
