#include "storage/corruptionlog.h"

#include <QMutex>
#include <QSet>

#include <sqlcipher/sqlite3.h>

namespace CorruptionLog {

namespace {

QMutex mutex;
QSet<sqlite3 *> &damaged()
{
    static QSet<sqlite3 *> connections;
    return connections;
}

} // namespace

bool isCorruption(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void note(sqlite3 *connection, int code)
{
    if (!connection || !isCorruption(code))
        return;
    QMutexLocker lock(&mutex);
    damaged().insert(connection);
}

bool seen(sqlite3 *connection)
{
    QMutexLocker lock(&mutex);
    return damaged().contains(connection);
}

bool take(sqlite3 *connection)
{
    QMutexLocker lock(&mutex);
    return damaged().remove(connection);
}

} // namespace CorruptionLog
