#pragma once

#include <QString>

// The application folder: the folder of the executable, which holds the
// database file and the backup folder.
namespace AppFolder {

inline constexpr const char *DatabaseFileName = "通讯录.dat";

// The override when one is set, else the folder of the running executable.
QString path();
// Makes path() answer folder (tests); an empty folder removes the override.
void setOverride(const QString &folder);

// path()/通讯录.dat, or folder/通讯录.dat when a folder is given.
QString databasePath(const QString &folder = QString());

} // namespace AppFolder
