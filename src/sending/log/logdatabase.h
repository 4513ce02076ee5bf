#pragma once

#include <QString>

#include <functional>

struct sqlite3;

class Database;

// What a read or write of the log came to. Busy: another connection (a
// command on a worker thread, another program) held the file; nothing was
// done and the caller tries again later. The window never waits for the
// file. Failed: the reason is in the caller's error.
enum class LogResult { Ok, Busy, Failed };

// The send log's way into the program's database, through its one
// connection on the window's thread: no statement waits for another
// connection's lock, nothing reaches a closed file (a backup being
// restored, the program closing), and every failure comes back with a
// sentence saying what could not be read or written.
class LogDatabase
{
public:
    // Statements answer SQLite's code: SQLITE_DONE, SQLITE_OK or SQLITE_ROW
    // on success.
    using Statements = std::function<int(sqlite3 *db)>;
    enum class Scope { Statement, Transaction };

    explicit LogDatabase(Database &database);

    LogResult write(const Statements &statements, Scope scope, QString *error) const;
    LogResult read(const Statements &statements, QString *error) const;

    // The file the log is in, for a worker thread's own connection.
    QString path() const;

private:
    Database &m_database;
};

// A transaction of several statements; rolled back unless committed.
class WriteTransaction
{
public:
    explicit WriteTransaction(sqlite3 *db);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    int beginCode() const { return m_code; }
    int commit();

private:
    sqlite3 *m_db;
    int m_code;
};
