#pragma once

#include <QString>

struct sqlite3;

// Owns the one connection to the encrypted contact database for the life of
// the program. The key is set and checked here and nowhere else.
class Database
{
public:
    static constexpr const char *Key = "tr584wex";

    // Why open() or create() refused a file.
    enum class OpenError {
        None,
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
    // refused file is left exactly as it was. On failure errorString() holds
    // a Chinese sentence that names the file and says what is wrong.
    bool open(const QString &path, Access access = Access::ReadWrite);
    // Creates a new encrypted database with the schema (used to make the
    // template). Fails when anything exists at path.
    bool create(const QString &path);
    // Closes the connection; false when SQLite reported a problem (the
    // handle is released all the same).
    bool close();

    bool isOpen() const { return m_handle != nullptr; }
    sqlite3 *handle() const { return m_handle; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    OpenError openError() const { return m_openError; }

    // Has any statement on this connection reported a damaged file since
    // open()? Stays answered after close().
    bool corruptionSeen() const;

    // Runs statements without results (schema, PRAGMA, BEGIN/COMMIT).
    bool execute(const char *sql);

    // SQLite's message for the last failed call on the connection.
    QString lastErrorMessage() const;

private:
    void reset();
    // Opens the connection with flags, sets the key and checks the cipher.
    // failureText takes the file (%1) and SQLite's reason (%2).
    bool connect(const QString &absolutePath, int flags, OpenError failure,
                 const QString &failureText);
    bool keyAndCheckCipher(const QString &shownPath);
    bool fail(OpenError error, const QString &message);

    sqlite3 *m_handle = nullptr;
    QString m_path;
    QString m_error;
    OpenError m_openError = OpenError::None;
    bool m_corruptionSeen = false;
};

// Commits on commit(), rolls back otherwise (also when commit() failed).
class Transaction
{
public:
    explicit Transaction(Database &database);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit();

private:
    void rollback();

    Database &m_database;
    bool m_active = false;
};
