#include "safekeeping/backupring.h"

#include "safekeeping/appfolder.h"
#include "safekeeping/dailybackup.h"
#include "safekeeping/plainfile.h"
#include "storage/integritycheck.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace BackupRing {

QList<Entry> entries(const QString &appFolder)
{
    QList<Entry> found;
    const QDir ring(QDir(appFolder).filePath(QString::fromUtf8(DailyBackup::FolderName)));
    // A link there, to a folder or a file, leads to something not ours.
    if (QFileInfo(ring.path()).isSymLink())
        return found;
    for (int day = 1; day <= 31; ++day) {
        const QString dayFolder = QString::number(day) + QStringLiteral("日");
        const QString path = ring.filePath(dayFolder + QLatin1Char('/')
                                           + QString::fromUtf8(AppFolder::DatabaseFileName));
        if (!QFileInfo(ring.filePath(dayFolder)).isSymLink()
            && PlainFile::kindOf(path) == PlainFile::Kind::Regular) {
            const QFileInfo file(path);
            found.append({file.absoluteFilePath(), dayFolder, file.lastModified()});
        }
    }
    // A backup dated ahead of the clock (written while the clock was wrong)
    // says nothing about how new it is: it comes after the others.
    const QDateTime future = QDateTime::currentDateTime().addSecs(60);
    std::stable_sort(found.begin(), found.end(), [&future](const Entry &a, const Entry &b) {
        const bool aAhead = a.written > future;
        const bool bAhead = b.written > future;
        return aAhead != bAhead ? bAhead : a.written > b.written;
    });
    return found;
}

std::optional<Entry> newestGood(const QString &appFolder)
{
    for (const Entry &entry : entries(appFolder)) {
        // Why a backup fails does not matter here, only the first that passes.
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
