#pragma once

#include <QDateTime>
#include <QString>

// Puts a backup in the place of the database file. The file it replaces is
// never deleted: it stays beside, under a name that says why and when
// (通讯录.损坏.20261207-091502.dat), and the backup must pass the integrity
// check before it takes the database's place (atomically, keeping the
// database's mode). A database that is a symbolic link is restored in the
// file it points to (kept aside beside that file); the link stays as it is.
// The database must be closed.
namespace DatabaseRestore {

enum class Reason {
    Damaged,      // the database reported damage
    ReplacedByHand // the user chose a backup
};

// The name the replaced file is kept under ("通讯录.损坏.20261207-091502.dat").
QString keptName(Reason reason, const QDateTime &when);

// On success keptAs (when given) receives the path the old file is kept
// under ("" when there was none). On failure nothing has changed and error
// holds a Chinese sentence.
bool restore(const QString &backupPath, const QString &databasePath, Reason reason,
             QString *keptAs, QString *error);

} // namespace DatabaseRestore
