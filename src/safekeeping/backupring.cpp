#include "safekeeping/backupring.h"

#include "safekeeping/appfolder.h"
#include "safekeeping/dailybackup.h"
#include "storage/integritycheck.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace BackupRing {

QList<Entry> entries(const QString &appFolder)
{
    QList<Entry> found;
    const QDir ring(QDir(appFolder).filePath(QString::fromUtf8(DailyBackup::FolderName)));
    for (int day = 1; day <= 31; ++day) {
        const QString dayFolder = QString::number(day) + QStringLiteral("日");
        const QFileInfo file(ring.filePath(dayFolder + QLatin1Char('/')
                                           + QString::fromUtf8(AppFolder::DatabaseFileName)));
        if (file.isFile())
            found.append({file.absoluteFilePath(), dayFolder, file.lastModified()});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Entry &a, const Entry &b) { return a.written > b.written; });
    return found;
}

std::optional<Entry> newestGood(const QString &appFolder)
{
    for (const Entry &entry : entries(appFolder)) {
        if (IntegrityCheck::check(entry.path, nullptr))
            return entry;
    }
    return std::nullopt;
}

QString describe(const Entry &entry)
{
    return QStringLiteral("%1/%2/%3（%4 写入）")
        .arg(QString::fromUtf8(DailyBackup::FolderName), entry.dayFolder,
             QString::fromUtf8(AppFolder::DatabaseFileName),
             entry.written.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

} // namespace BackupRing
