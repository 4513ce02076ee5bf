#include "safekeeping/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Before the application object exists (the database is opened first).
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
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
