#pragma once

#include <QString>

struct sqlite3;

// Owns the one connection to the encrypted contact database for the life of
// the program. The key is set and checked here and nowhere else.
class Database
{
public:
    static constexpr const char *Key = "tr584wex";
    // How long a statement waits for another connection's lock.
    static constexpr int BusyTimeoutMs = 2000;

    // What open() or create() made of a file: Ok, or why it was refused.
    enum class OpenResult {
        Ok,
        CannotOpen,    // missing, not an ordinary file, or the system refused it
        NotEncrypting, // the linked SQLite cannot encrypt: never open the file with it
        NotADatabase,  // not readable with the key: damaged, plain, another key, garbage
        WrongSchema,   // readable, but the program's tables or columns are missing
        ReadOnly,      // the file cannot be written
        CannotCreate,  // create(): the file exists or could not be made
    };

    // ReadOnly: for looking at a copy (integrity checks, backups): the file
    // may be read-only and is never written.
    enum class Access { ReadWrite, ReadOnly };

    Database() = default;
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens an existing file with the key and checks that it is a usable
    // contact database (encryption active, readable with the key, the three
    // tables present, writable). Never creates or changes the file, and a
    // refused file is left exactly as it was. On failure error receives a
    // Chinese sentence that names the file and says what is wrong.
    OpenResult open(const QString &path, Access access = Access::ReadWrite,
                    QString *error = nullptr);
    // Creates a new encrypted database with the schema (used to make the
    // template). Fails when anything exists at path.
    OpenResult create(const QString &path, QString *error = nullptr);
    // Closes the connection; false when SQLite reported a problem (the
    // handle is released all the same), with its message in error.
    bool close(QString *error = nullptr);

    bool isOpen() const { return m_handle != nullptr; }
    sqlite3 *handle() const { return m_handle; }
    QString path() const { return m_path; }

    // Has any statement on this connection reported a damaged file since
    // open()? Stays answered after close().
    bool corruptionSeen() const;

    // Runs statements without results (schema, PRAGMA, BEGIN/COMMIT).
    bool execute(const char *sql, QString *error = nullptr);

private:
    void reset();
    // Opens the connection with flags, sets the key and checks the cipher.
    // failureText takes the file (%1) and SQLite's reason (%2).
    OpenResult connect(const QString &absolutePath, int flags, OpenResult failure,
                       const QString &failureText, QString *error);
    OpenResult keyAndCheckCipher(const QString &shownPath, QString *error);
    // Releases the connection and hands back result with message in error.
    OpenResult fail(OpenResult result, const QString &message, QString *error);

    sqlite3 *m_handle = nullptr;
    QString m_path;
    bool m_corruptionSeen = false;
};

// Commits on commit(), rolls back otherwise (also when commit() failed).
// When BEGIN fails the transaction is not active and error says why.
class Transaction
{
public:
    explicit Transaction(Database &database, QString *error = nullptr);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit(QString *error = nullptr);

private:
    void rollback();

    Database &m_database;
    bool m_active = false;
};
