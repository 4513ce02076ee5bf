#pragma once

#include <sqlite3.h>

// Makes writes through one database connection fail as a disk that refuses
// them would, from outside the code under test: temporary triggers on every
// table call back here before each row is inserted, updated or deleted, and
// the n-th row from failNthRow() on aborts its statement, which then writes
// nothing and reports an error. The triggers and the callback go with the
// object, which must go before the connection closes.
class WriteFault
{
public:
    explicit WriteFault(sqlite3 *connection);
    ~WriteFault();
    WriteFault(const WriteFault &) = delete;
    WriteFault &operator=(const WriteFault &) = delete;

    // Every table has its triggers.
    bool isInstalled() const { return m_installed; }
    // 1 = the next row written; 0 switches the fault off. It switches itself
    // off after firing.
    void failNthRow(int n) { m_remaining = n; }
    // Every row written fails, as on a full disk, until heal().
    void failEveryRow() { m_always = true; }
    void heal()
    {
        m_always = false;
        m_remaining = 0;
    }

private:
    static void countRow(sqlite3_context *context, int argumentCount, sqlite3_value **arguments);

    sqlite3 *m_connection;
    int m_remaining = 0;
    bool m_always = false;
    bool m_installed = false;
};
