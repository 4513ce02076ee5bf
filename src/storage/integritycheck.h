#pragma once

#include <QString>

// Looks at a database file through a connection of its own, read-only, so
// that what is checked is what the file holds on disk and not pages another
// connection keeps in memory. Used before a copy becomes a backup and to
// tell good backups from damaged ones.
namespace IntegrityCheck {

struct Result
{
    bool passed = false;
    QString reason;        // why it failed, in Chinese (empty when passed)
    qint64 groups = -1;    // counted only when asked for and passed
    qint64 contacts = -1;
};

enum class Counts { Skip, Count };

// Opens path with the key, checks the tables and runs SQLite's quick check
// over every page. counts: also count the groups and contacts.
Result check(const QString &path, Counts counts = Counts::Skip);

} // namespace IntegrityCheck
