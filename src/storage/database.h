#pragma once

#include <QString>

struct sqlite3;

// Owns the one connection to the encrypted contact database for the life of
// the program. The key is set and checked here and nowhere else.
class Database
{
public:
    static constexpr const char *Key = "tr584wex";

    Database() = default;
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens an existing file with the key and checks that it is a usable
    // contact database (encryption active, the three tables present). Never
    // creates or changes the file. On failure errorString() says why.
    bool open(const QString &path);
    // Creates a new, empty encrypted database with the schema (used to make
    // the template). Fails when the file exists.
    bool create(const QString &path);
    void close();

    bool isOpen() const { return m_handle != nullptr; }
    sqlite3 *handle() const { return m_handle; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // Runs statements without results (schema, PRAGMA, BEGIN/COMMIT).
    bool execute(const char *sql);

private:
    sqlite3 *m_handle = nullptr;
    QString m_path;
    QString m_error;
};

// Commits on commit(), rolls back otherwise.
class Transaction
{
public:
    explicit Transaction(Database &database);
    ~Transaction();
    bool isActive() const { return m_active; }
    bool commit();

private:
    Database &m_database;
    bool m_active = false;
};
