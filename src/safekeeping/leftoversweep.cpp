#include "safekeeping/leftoversweep.h"

#include "core/atomicfile.h"
#include "safekeeping/appfolder.h"
#include "safekeeping/dailybackup.h"

#include <QDir>
#include <QFileInfo>

namespace LeftoverSweep {

int run(const QString &appFolder, const QDateTime &before)
{
    const QStringList formerTargets = {QString::fromUtf8(AppFolder::DatabaseFileName)};
    int removed = AtomicFile::removeLeftovers(appFolder, before, formerTargets);
    // Never into a folder reached through a link: what lies there is not ours.
    const QFileInfo ringInfo(QDir(appFolder).filePath(QString::fromUtf8(DailyBackup::FolderName)));
    if (!ringInfo.isDir() || ringInfo.isSymLink())
        return removed;
    const QDir ring(ringInfo.filePath());
    removed += AtomicFile::removeLeftovers(ring.path(), before, formerTargets);
    for (const QString &day :
         ring.entryList({QStringLiteral("*日")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        removed += AtomicFile::removeLeftovers(ring.filePath(day), before, formerTargets);
    return removed;
}

} // namespace LeftoverSweep
