#include "safekeeping/leftoversweep.h"

#include "core/atomicfile.h"
#include "safekeeping/appfolder.h"
#include "safekeeping/dailybackup.h"

#include <QDir>

namespace LeftoverSweep {

int run(const QString &appFolder, const QDateTime &before)
{
    const QStringList formerTargets = {QString::fromUtf8(AppFolder::DatabaseFileName)};
    int removed = AtomicFile::removeLeftovers(appFolder, before, formerTargets);
    const QDir ring(QDir(appFolder).filePath(QString::fromUtf8(DailyBackup::FolderName)));
    if (!ring.exists())
        return removed;
    removed += AtomicFile::removeLeftovers(ring.path(), before, formerTargets);
    for (const QString &day : ring.entryList({QStringLiteral("*日")}, QDir::Dirs | QDir::NoDotAndDotDot))
        removed += AtomicFile::removeLeftovers(ring.filePath(day), before, formerTargets);
    return removed;
}

} // namespace LeftoverSweep
