#pragma once

#include "core/atomicfile.h"

#include <QDate>
#include <QString>

// The copy of the database written at every exit: one folder per day of the
// month, appFolder/数据备份/D日 (D without a leading zero), holding 通讯录.dat.
// A later exit on the same day number replaces that day's copy.
namespace DailyBackup {

inline constexpr const char *FolderName = "数据备份";

// appFolder/数据备份/D日
QString folderPath(const QString &appFolder, QDate day);
// appFolder/数据备份/D日/通讯录.dat
QString filePath(const QString &appFolder, QDate day);

// Creates the folders as needed and copies databasePath into the day's
// folder atomically, with the database's mode: the copy replaces the day's
// previous one only when it is complete and passes check (when given). On
// failure error holds a Chinese sentence naming what failed. Never writes
// through a folder of the ring that is a symbolic link.
bool write(const QString &appFolder, const QString &databasePath, QDate day, QString *error,
           const AtomicFile::Check &check = {});

} // namespace DailyBackup
