#include "sending/log/logdatabase.h"

#include "storage/database.h"

#include <sqlcipher/sqlite3.h>

namespace {

bool isBusy(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool isSuccess(int code)
{
    return code == SQLITE_DONE || code == SQLITE_OK || code == SQLITE_ROW;
}

// While alive, a busy file answers at once instead of after the
// connection's usual wait.
class NoBusyWait
{
public:
    explicit NoBusyWait(sqlite3 *db)
        : m_db(db)
    {
        sqlite3_busy_timeout(m_db, 0);
    }
    ~NoBusyWait() { sqlite3_busy_timeout(m_db, Database::BusyTimeoutMs); }
    NoBusyWait(const NoBusyWait &) = delete;
    NoBusyWait &operator=(const NoBusyWait &) = delete;

private:
    sqlite3 *m_db;
};

LogResult outcome(int code, sqlite3 *db, const char16_t *what, QString *error)
{
    if (isSuccess(code))
        return LogResult::Ok;
    if (error) {
        *error = isBusy(code) ? QStringLiteral("数据库正忙（另一个程序或另一项工作正在使用）")
                              : QStringLiteral("%1：%2").arg(QString::fromUtf16(what),
                                                           QString::fromUtf8(sqlite3_errmsg(db)));
    }
    return isBusy(code) ? LogResult::Busy : LogResult::Failed;
}

LogResult closedFile(QString *error)
{
    if (error)
        *error = QStringLiteral("数据库已经关闭，发送记录无法读写。");
    return LogResult::Failed;
}

} // namespace

LogDatabase::LogDatabase(Database &database)
    : m_database(database)
{
}

LogResult LogDatabase::write(const Statements &statements, Scope scope, QString *error) const
{
    sqlite3 *db = m_database.handle();
    if (!db)
        return closedFile(error);
    constexpr const char16_t *What = u"发送记录无法写入数据库";
    NoBusyWait noWait(db);
    if (scope == Scope::Statement)
        return outcome(statements(db), db, What, error);
    WriteTransaction transaction(db);
    if (transaction.beginCode() != SQLITE_OK)
        return outcome(transaction.beginCode(), db, What, error);
    const int code = statements(db);
    if (!isSuccess(code))
        return outcome(code, db, What, error);
    return outcome(transaction.commit(), db, What, error);
}

LogResult LogDatabase::read(const Statements &statements, QString *error) const
{
    sqlite3 *db = m_database.handle();
    if (!db)
        return closedFile(error);
    NoBusyWait noWait(db);
    return outcome(statements(db), db, u"发送记录无法读取", error);
}

QString LogDatabase::path() const
{
    return m_database.path();
}

WriteTransaction::WriteTransaction(sqlite3 *db)
    : m_db(db)
    , m_code(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))
{
}

WriteTransaction::~WriteTransaction()
{
    if (m_code == SQLITE_OK)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

int WriteTransaction::commit()
{
    const int code = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
        m_code = SQLITE_DONE; // nothing left to roll back
    return code;
}
