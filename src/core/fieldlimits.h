#pragma once

#include "core/contact.h"

#include <QString>

// How long the stored texts may be, in characters as the database counts
// them (code points: a character outside the BMP counts once). The schema
// refuses longer values; the dialogs check first, so that the user is told
// which field is too long instead of having anything cut.
namespace FieldLimits {

inline constexpr int Mobile = 50;
inline constexpr int Name = 50;
inline constexpr int Salutation = 50;
inline constexpr int Remark = 100;
// The contact key 序号 is the group name followed by the mobile.
inline constexpr int Key = 50;
// Room for an 11-character mobile inside the key: a longer group name would
// be a group no contact can ever be added to.
inline constexpr int GroupName = Key - 11;

qsizetype characterCount(QStringView text);

// "姓名最多 50 个字，现在有 60 个字。" for the first of the contact's texts
// (mobile, name, salutation, remark, then its key in group) that is too
// long; empty when everything fits.
QString firstTooLong(const QString &group, const Contact &contact);

// The same sentence for a group name over GroupName characters; empty when
// the name fits.
QString groupNameTooLong(const QString &name);

} // namespace FieldLimits
