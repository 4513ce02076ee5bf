#include "storage/statement.h"

#include "storage/corruptionlog.h"

Statement::Statement(sqlite3 *db, const char *sql)
    : m_db(db)
{
    if (!db) {
        m_prepareCode = SQLITE_MISUSE;
        m_prepareMessage = QStringLiteral("数据库未打开");
        return;
    }
    m_prepareCode = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    CorruptionLog::note(db, m_prepareCode);
    if (m_prepareCode != SQLITE_OK) {
        m_prepareMessage = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    } else if (!m_statement) {
        // Only blanks or a comment: nothing to run.
        m_prepareMessage = QStringLiteral("空语句");
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

void Statement::bind(int index, QStringView text)
{
    if (!m_statement)
        return;
    const QByteArray utf8 = text.toUtf8();
    // constData() of an empty QByteArray is "", never null, so the value is
    // an empty text and not Null.
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, qint64 value)
{
    if (!m_statement)
        return;
    sqlite3_bind_int64(m_statement, index, value);
}

int Statement::step(QString *error)
{
    if (!m_statement) {
        if (error)
            *error = m_prepareMessage;
        return m_prepareCode == SQLITE_OK ? SQLITE_MISUSE : m_prepareCode;
    }
    const int code = sqlite3_step(m_statement);
    CorruptionLog::note(m_db, code);
    if (error && code != SQLITE_ROW && code != SQLITE_DONE)
        *error = QString::fromUtf8(sqlite3_errmsg(m_db));
    return code;
}

void Statement::reset()
{
    // sqlite3_reset takes a null statement, sqlite3_clear_bindings does not.
    if (!m_statement)
        return;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

QString Statement::text(int column) const
{
    if (!m_statement)
        return QString();
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    if (!data)
        return QString();
    return QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column));
}

QByteArrayView Statement::utf8(int column) const
{
    if (!m_statement)
        return QByteArrayView();
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return data ? QByteArrayView(data, sqlite3_column_bytes(m_statement, column)) : QByteArrayView();
}

qint64 Statement::int64(int column) const
{
    if (!m_statement)
        return 0;
    return sqlite3_column_int64(m_statement, column);
}
