#include "support/writefault.h"

#include <QByteArray>
#include <QList>

#include <sqlite3.h>

namespace {

constexpr const char *FunctionName = "write_fault_fires";

QList<QByteArray> tablesOf(sqlite3 *connection)
{
    QList<QByteArray> tables;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(connection,
                           "SELECT name FROM main.sqlite_master WHERE type = 'table'"
                           " AND name NOT LIKE 'sqlite_%'",
                           -1, &statement, nullptr)
        != SQLITE_OK)
        return tables;
    while (sqlite3_step(statement) == SQLITE_ROW)
        tables << QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    return tables;
}

// Creates, or drops, one trigger per table and kind of write.
QList<QByteArray> triggerStatements(sqlite3 *connection, bool create)
{
    QList<QByteArray> statements;
    const QList<QByteArray> tables = tablesOf(connection);
    for (qsizetype t = 0; t < tables.size(); ++t) {
        for (const char *write : {"INSERT", "UPDATE", "DELETE"}) {
            const QByteArray name = "write_fault_" + QByteArray::number(t) + '_' + write;
            statements << (create ? "CREATE TEMP TRIGGER " + name + " BEFORE " + write + " ON main.\""
                                        + tables[t] + "\" WHEN " + FunctionName
                                        + "() BEGIN SELECT RAISE(ABORT, 'write refused'); END"
                                  : "DROP TRIGGER IF EXISTS temp." + name);
        }
    }
    return statements;
}

} // namespace

WriteFault::WriteFault(sqlite3 *connection)
    : m_connection(connection)
{
    if (sqlite3_create_function(connection, FunctionName, 0, SQLITE_UTF8, this, &WriteFault::countRow,
                                nullptr, nullptr)
        != SQLITE_OK)
        return;
    const QList<QByteArray> statements = triggerStatements(connection, true);
    m_installed = !statements.isEmpty();
    for (const QByteArray &statement : statements)
        m_installed = sqlite3_exec(connection, statement.constData(), nullptr, nullptr, nullptr)
                          == SQLITE_OK
                      && m_installed;
}

WriteFault::~WriteFault()
{
    for (const QByteArray &statement : triggerStatements(m_connection, false))
        sqlite3_exec(m_connection, statement.constData(), nullptr, nullptr, nullptr);
    sqlite3_create_function(m_connection, FunctionName, 0, SQLITE_UTF8, nullptr, nullptr, nullptr,
                            nullptr);
}

void WriteFault::countRow(sqlite3_context *context, int, sqlite3_value **)
{
    auto *fault = static_cast<WriteFault *>(sqlite3_user_data(context));
    const bool fires = fault->m_always || (fault->m_remaining > 0 && --fault->m_remaining == 0);
    sqlite3_result_int(context, fires ? 1 : 0);
}
