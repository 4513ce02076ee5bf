#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

// The tables of the contact database, written once here and used both to
// make the template and to check a file at open.
namespace Schema {

inline constexpr const char *ContactTable = "通讯录";
inline constexpr const char *GroupTable = "分组";
inline constexpr const char *SmsTable = "短信";

// Creates the three tables, their indexes and the one row of 短信
// (短信内容 the empty text, 备用1 Null). Runs inside the caller's transaction.
bool create(sqlite3 *db, QString *error);

// Checks that the three tables exist with every column the program uses.
// On failure error names what is missing.
bool verify(sqlite3 *db, QString *error);

} // namespace Schema
