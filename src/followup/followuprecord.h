#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

// One follow-up of a person: a call, an SMS, a visit. It belongs to the
// mobile number, not to a contact row, so it follows the person across
// groups and outlives the contact.
struct FollowUpRecord
{
    qint64 id = 0;    // 编号; 0 until stored
    QString mobile;   // 手机号, as typed (blanks at the ends removed)
    QString time;     // 时间, "yyyy-MM-dd HH:mm:ss" local time
    QString method;   // 方式: one of FollowUpRules::methods()
    QString result;   // 结果, free text (the list only offers)
    QString content;  // 内容, free text of any length
    QString nextDate; // 下次回访, "yyyy-MM-dd" or "" for none

    bool operator==(const FollowUpRecord &) const = default;
};

// The shapes the records are kept in, and what a record must hold.
namespace FollowUpRules {

inline constexpr const char *TimeFormat = "yyyy-MM-dd HH:mm:ss";
inline constexpr const char *DateFormat = "yyyy-MM-dd";

// 电话, 短信, 上门, 其他: the values the table accepts, in the order offered.
QStringList methods();

QString timeText(const QDateTime &time);
QString dateText(QDate date);
// A valid date from "yyyy-MM-dd"; invalid for anything else.
QDate parseDate(QStringView text);
QDateTime parseTime(QStringView text);

// Why the record cannot be stored, as a sentence for the user; "" when it
// can. A number that is not a valid mobile is no reason: the record is kept.
// Neither is a time or 下次回访 that a rewritten record keeps as stored
// (given stored, the record as the file holds it), however it was written
// there: the user did not touch it, and it stays as it was.
QString problem(const FollowUpRecord &record, const FollowUpRecord *stored = nullptr);

// The tel: address a phone dials the mobile from: its digits, a leading "+"
// kept; "" when the text holds no digit.
QString telUrl(QStringView mobile);

// The choices the editor offers for 下次回访, counted from today.
enum class NextChoice { None, Tomorrow, InThreeDays, InAWeek };
QDate nextDate(NextChoice choice, QDate today);

} // namespace FollowUpRules
