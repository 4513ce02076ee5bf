#pragma once

#include <QString>

// Looks at a database file through a connection of its own, read-only, so
// that what is checked is what the file holds on disk and not pages another
// connection keeps in memory. Used before a copy becomes a backup and to
// tell good backups from damaged ones.
namespace IntegrityCheck {

struct Counts
{
    qint64 groups = -1;
    qint64 contacts = -1;
};

// Opens path with the key, checks the tables and runs SQLite's quick check
// over every page. On failure error says why, in Chinese.
bool check(const QString &path, QString *error);
// The same; counts (when given) also receives the numbers of groups and
// contacts when the check passed.
bool check(const QString &path, Counts *counts, QString *error);

} // namespace IntegrityCheck
