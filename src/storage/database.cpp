#include "storage/database.h"

#include "storage/corruptionlog.h"
#include "storage/schema.h"
#include "storage/statement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

Database::~Database()
{
    close(); // nobody left to tell; the handle is released either way
}

Database::OpenResult Database::fail(OpenResult result, const QString &message, QString *error)
{
    if (m_handle) {
        CorruptionLog::take(m_handle);
        sqlite3_close_v2(m_handle);
        m_handle = nullptr;
    }
    m_path.clear();
    if (error)
        *error = message;
    return result;
}

// Sets the key and makes sure the library really encrypts: a plain SQLite
// would accept the key pragma silently and then read or write the file
// without encryption.
Database::OpenResult Database::keyAndCheckCipher(const QString &shownPath, QString *error)
{
    const QString refused = QStringLiteral("本程序所用的 SQLite 库不支持加密（不是 SQLCipher），"
                                           "为保护数据，不使用数据库文件 %1。")
                                .arg(shownPath);
    if (sqlite3_key(m_handle, Key, int(std::strlen(Key))) != SQLITE_OK)
        return fail(OpenResult::NotEncrypting, refused, error);
    Statement version(m_handle, "PRAGMA cipher_version");
    if (version.step() != SQLITE_ROW || version.text(0).isEmpty())
        return fail(OpenResult::NotEncrypting, refused, error);
    return OpenResult::Ok;
}

Database::OpenResult Database::connect(const QString &absolutePath, int flags,
                                       OpenResult failure, const QString &failureText,
                                       QString *error)
{
    // A connection is used by one thread at a time (the window's, or the
    // commands' one after another, see WorkerConnection): no locking.
    const int opened = sqlite3_open_v2(QFile::encodeName(absolutePath).constData(), &m_handle,
                                       flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        const QString reason = m_handle ? QString::fromUtf8(sqlite3_errmsg(m_handle))
                                        : QString::fromUtf8(sqlite3_errstr(opened));
        return fail(failure, failureText.arg(shown(absolutePath), reason), error);
    }
    sqlite3_extended_result_codes(m_handle, 1);
    sqlite3_busy_timeout(m_handle, BusyTimeoutMs);
    return keyAndCheckCipher(shown(absolutePath), error);
}

void Database::reset()
{
    close();
    m_corruptionSeen = false;
}

Database::OpenResult Database::open(const QString &path, Access access, QString *error)
{
    reset();
    const QFileInfo info(path);
    const QString name = shown(info.absoluteFilePath());
    if (!info.exists())
        return fail(OpenResult::CannotOpen, QStringLiteral("数据库文件 %1 不存在。").arg(name),
                    error);
    if (!info.isFile())
        return fail(OpenResult::CannotOpen,
                    QStringLiteral("%1 不是普通文件，不能作为数据库文件使用。").arg(name), error);

    // No SQLITE_OPEN_CREATE: the file must be there and is never made here.
    const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    const OpenResult connected = connect(info.absoluteFilePath(), flags, OpenResult::CannotOpen,
                                         QStringLiteral("无法打开数据库文件 %1：%2。"), error);
    if (connected != OpenResult::Ok)
        return connected;

    // The first read decrypts page 1: here a wrong key, a plain SQLite file
    // or any other content shows up. Reading writes nothing.
    {
        Statement probe(m_handle, "SELECT count(*) FROM sqlite_master");
        QString reason;
        const int read = probe.step(&reason);
        if (read != SQLITE_ROW) {
            const int primary = (probe.isValid() ? read : probe.prepareCode()) & 0xff;
            if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
                return fail(OpenResult::NotADatabase,
                            QStringLiteral("数据库文件 %1 已损坏或不是本程序的数据库"
                                           "（无法用本程序的密码读取）。")
                                .arg(name),
                            error);
            return fail(OpenResult::CannotOpen,
                        QStringLiteral("无法读取数据库文件 %1：%2。").arg(name, reason), error);
        }
    }
    QString schemaError;
    if (!Schema::verify(m_handle, &schemaError))
        return fail(OpenResult::WrongSchema,
                    QStringLiteral("数据库文件 %1 已损坏或不是本程序的数据库（%2）。")
                        .arg(name, schemaError),
                    error);
    if (access == Access::ReadWrite && sqlite3_db_readonly(m_handle, "main") == 1)
        return fail(OpenResult::ReadOnly,
                    QStringLiteral("数据库文件 %1 是只读的，无法保存修改。").arg(name), error);

    // Decrypting a page costs more than reading it: keep up to 32 MB of
    // decrypted pages, so that listing a big group again stays fast.
    // Without it only listing is slower: no reason to refuse the file.
    if (access == Access::ReadWrite)
        execute("PRAGMA cache_size = -32768");

    m_path = info.absoluteFilePath();
    return OpenResult::Ok;
}

Database::OpenResult Database::create(const QString &path, QString *error)
{
    reset();
    const QFileInfo info(path);
    const QString file = info.absoluteFilePath();
    if (info.exists() || info.isSymLink())
        return fail(OpenResult::CannotCreate, QStringLiteral("文件 %1 已存在。").arg(shown(file)),
                    error);

    const QString failureText = QStringLiteral("无法创建数据库文件 %1：%2。");
    const OpenResult connected = connect(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                         OpenResult::CannotCreate, failureText, error);
    if (connected != OpenResult::Ok) {
        QFile::remove(file);
        return connected;
    }
    QString reason;
    Transaction transaction(*this, &reason);
    if (!transaction.isActive() || !Schema::create(m_handle, &reason)
        || !transaction.commit(&reason)) {
        fail(OpenResult::CannotCreate, failureText.arg(shown(file), reason), error);
        QFile::remove(file);
        QFile::remove(file + QStringLiteral("-journal"));
        return OpenResult::CannotCreate;
    }
    m_path = file;
    return OpenResult::Ok;
}

bool Database::close(QString *error)
{
    if (!m_handle)
        return true;
    m_corruptionSeen = CorruptionLog::take(m_handle) || m_corruptionSeen;
    const int closed = sqlite3_close(m_handle);
    if (closed != SQLITE_OK) {
        // Statements still open: let SQLite release the handle once they
        // are finalized.
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(m_handle));
        sqlite3_close_v2(m_handle);
    }
    m_handle = nullptr;
    m_path.clear();
    return closed == SQLITE_OK;
}

bool Database::execute(const char *sql, QString *error)
{
    if (!m_handle) {
        if (error)
            *error = QStringLiteral("数据库未打开");
        return false;
    }
    char *message = nullptr;
    const int code = sqlite3_exec(m_handle, sql, nullptr, nullptr, &message);
    CorruptionLog::note(m_handle, code);
    if (code != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(message ? message : sqlite3_errmsg(m_handle));
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Database::corruptionSeen() const
{
    return m_corruptionSeen || CorruptionLog::seen(m_handle);
}

Transaction::Transaction(Database &database, QString *error)
    : m_database(database)
{
    m_active = m_database.execute("BEGIN IMMEDIATE", error);
}

Transaction::~Transaction()
{
    rollback();
}

bool Transaction::commit(QString *error)
{
    if (!m_active)
        return false;
    if (m_database.execute("COMMIT", error)) {
        m_active = false;
        return true;
    }
    rollback();
    return false;
}

void Transaction::rollback()
{
    if (!m_active)
        return;
    m_active = false;
    sqlite3 *db = m_database.handle();
    // After some failures SQLite has rolled back by itself already.
    if (db && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}
