#pragma once

#include <QDateTime>
#include <QString>

// Removes what an interrupted atomic write of this program left behind in
// the application folder and the backup folders: only temporary files of
// its own name pattern (the present one and the one earlier versions used
// for the database file), and only those older than `before`, the start of
// this run (or dated far beyond it: a clock that was set back). It never
// goes into a folder reached through a link. Returns how many files were
// removed.
namespace LeftoverSweep {

int run(const QString &appFolder, const QDateTime &before);

} // namespace LeftoverSweep
