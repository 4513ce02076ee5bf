#pragma once

#include <QString>

struct sqlite3;

// Tables added after the original three, one numbered step each, recorded in
// the file's PRAGMA user_version. Steps only add: the original tables and the
// template (version 0) stay as they are, so an older copy of the program
// still opens a file that was upgraded, and a restored backup of any version
// is brought up to date at its next open.
namespace Migrations {

// The version a file has once every step ran.
int latestVersion();

// The file's user_version; -1 with error when it cannot be read.
int version(sqlite3 *db, QString *error);

// Runs every step above the file's version, each in a transaction of its own
// that also sets the version, so a failed step leaves the file at the last
// complete one. A file newer than this program is left alone.
bool upgrade(sqlite3 *db, QString *error);

} // namespace Migrations
