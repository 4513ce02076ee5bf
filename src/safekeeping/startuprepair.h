#pragma once

#include <QString>

class AppSession;

// What the start does when the session could not start: when nothing tells
// whether another computer uses the database, the user is asked whether to
// go on (是/否); a damaged database is offered the newest backup that passes
// the integrity check (是/否); anything else is reported as it stands. Returns true when the session is
// started after all (on the restored backup); false means the program ends
// with a non-zero status, the database file untouched unless restored.
namespace StartupRepair {

bool recover(AppSession &session, const QString &startMessage);

} // namespace StartupRepair
