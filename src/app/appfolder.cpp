#include "appfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace AppFolder {

namespace {

QString &overrideFolder()
{
    static QString folder;
    return folder;
}

} // namespace

QString path()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return QCoreApplication::applicationDirPath();
}

void setOverride(const QString &folder)
{
    overrideFolder() = folder;
}

QString databasePath(const QString &folder)
{
    return QDir(folder.isEmpty() ? path() : folder)
        .filePath(QString::fromUtf8(DatabaseFileName));
}

} // namespace AppFolder
