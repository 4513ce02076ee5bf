#include "storage/migrations.h"

#include "storage/followupschema.h"
#include "storage/sendlogschema.h"
#include "storage/statement.h"

#include <span>

namespace Migrations {

namespace {

// Step i brings a file from version i to version i + 1. Never edit a step
// that has shipped: add one.
std::span<const char *const> steps()
{
    static const char *const all[] = {SendLogSchema::CreateSql, FollowUpSchema::CreateSql,
                                      SendLogSchema::PoolSql};
    return all;
}

bool exec(sqlite3 *db, const char *sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

bool runStep(sqlite3 *db, int step, QString *error)
{
    if (!exec(db, "BEGIN IMMEDIATE", error))
        return false;
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(step + 1);
    if (exec(db, steps()[step], error) && exec(db, setVersion.constData(), error)
        && exec(db, "COMMIT", error))
        return true;
    exec(db, "ROLLBACK", nullptr); // error holds the failure that matters
    return false;
}

} // namespace

int latestVersion()
{
    return int(steps().size());
}

int version(sqlite3 *db, QString *error)
{
    Statement read(db, "PRAGMA user_version");
    if (read.step() != SQLITE_ROW) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
        return -1;
    }
    return int(read.int64(0));
}

bool upgrade(sqlite3 *db, QString *error)
{
    const int current = version(db, error);
    if (current < 0)
        return false;
    for (int step = current; step < latestVersion(); ++step) {
        if (!runStep(db, step, error))
            return false;
    }
    return true;
}

} // namespace Migrations
