#include "safekeeping/dailybackup.h"

#include "safekeeping/appfolder.h"

#include <QDir>
#include <QFileInfo>

namespace DailyBackup {

QString folderPath(const QString &appFolder, QDate day)
{
    return QDir(appFolder).filePath(QString::fromUtf8(FolderName) + QLatin1Char('/')
                                    + QString::number(day.day()) + QStringLiteral("日"));
}

QString filePath(const QString &appFolder, QDate day)
{
    return QDir(folderPath(appFolder, day)).filePath(QString::fromUtf8(AppFolder::DatabaseFileName));
}

bool write(const QString &appFolder, const QString &databasePath, QDate day, QString *error,
           const AtomicFile::Check &check)
{
    const QString folder = folderPath(appFolder, day);
    // A folder of the ring that is a link leads somewhere not ours: the
    // backup is not written through it.
    for (const QString &path : {QFileInfo(folder).path(), folder}) {
        if (QFileInfo(path).isSymLink()) {
            if (error)
                *error = QStringLiteral("备份文件夹 %1 是一个符号链接，未写入备份。")
                             .arg(QDir::toNativeSeparators(path));
            return false;
        }
    }
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("无法创建备份文件夹 %1。").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const QString target = filePath(appFolder, day);
    QString copyError;
    if (!AtomicFile::copy(databasePath, target, &copyError, AtomicFile::ModeFrom::Source, check)) {
        if (error)
            *error = QStringLiteral("无法写入备份文件 %1：%2。")
                         .arg(QDir::toNativeSeparators(target), copyError);
        return false;
    }
    return true;
}

} // namespace DailyBackup
