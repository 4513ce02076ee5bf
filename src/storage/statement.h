#pragma once

#include <QByteArrayView>
#include <QString>

#include <sqlcipher/sqlite3.h>

// One prepared statement, finalized when it goes out of scope. Texts are
// bound and read as UTF-8; a Null column reads as the empty text. A result
// that says the file is damaged is noted in CorruptionLog. A statement that
// did not compile (a table changed behind the program's back) takes every
// call: binding and resetting do nothing, columns read as Null, and step()
// answers the reason.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // SQLITE_OK when the statement compiled.
    int prepareCode() const { return m_prepareCode; }
    bool isValid() const { return m_statement != nullptr; }

    // Indexes count from 1. A null QString is bound as the empty text, never
    // as Null.
    void bind(int index, QStringView text);
    void bind(int index, qint64 value);

    // sqlite3_step's (extended) result: SQLITE_ROW, SQLITE_DONE or an
    // error, whose message error (when given) then receives. A statement
    // that did not compile answers its prepareCode() and the message of
    // that failure.
    int step(QString *error = nullptr);
    void reset();

    QString text(int column) const;
    // The column's UTF-8 bytes, valid until the next step; empty for Null.
    QByteArrayView utf8(int column) const;
    qint64 int64(int column) const;

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    int m_prepareCode = SQLITE_OK;
    QString m_prepareMessage; // why it did not compile: the connection's message moves on
};
