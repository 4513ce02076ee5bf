#pragma once

#include <QString>

struct sqlite3;

// Version 2: the follow-up records, one per call or visit, kept by mobile
// number so that they follow the person across groups.
namespace FollowUpSchema {

extern const char *const CreateSql;

// Are the follow-up tables the ones this program writes? false with a
// sentence naming the table that is not.
bool check(sqlite3 *db, QString *error);

} // namespace FollowUpSchema
