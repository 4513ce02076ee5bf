#pragma once

struct sqlite3;

// Remembers which connections had a statement report a damaged file
// (SQLITE_CORRUPT or SQLITE_NOTADB), so that a run in which any read failed
// that way never overwrites a backup with the damaged file.
namespace CorruptionLog {

// Records connection when code (a result of SQLite, extended or not) says
// the file is damaged.
void note(sqlite3 *connection, int code);
bool seen(sqlite3 *connection);
// Forgets connection (it is being closed); returns whether it had been seen.
bool take(sqlite3 *connection);

bool isCorruption(int code);

} // namespace CorruptionLog
