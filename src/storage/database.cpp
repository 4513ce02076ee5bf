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
    close();
}

bool Database::fail(OpenError error, const QString &message)
{
    if (m_handle) {
        CorruptionLog::take(m_handle);
        sqlite3_close_v2(m_handle);
        m_handle = nullptr;
    }
    m_path.clear();
    m_openError = error;
    m_error = message;
    return false;
}

// Sets the key and makes sure the library really encrypts: a plain SQLite
// would accept the key pragma silently and then read or write the file
// without encryption.
bool Database::keyAndCheckCipher(const QString &shownPath)
{
    const QString refused = QStringLiteral("本程序所用的 SQLite 库不支持加密（不是 SQLCipher），"
                                           "为保护数据，不使用数据库文件 %1。")
                                .arg(shownPath);
    if (sqlite3_key(m_handle, Key, int(std::strlen(Key))) != SQLITE_OK)
        return fail(OpenError::NotEncrypting, refused);
    Statement version(m_handle, "PRAGMA cipher_version");
    if (version.step() != SQLITE_ROW || version.text(0).isEmpty())
        return fail(OpenError::NotEncrypting, refused);
    return true;
}

bool Database::connect(const QString &absolutePath, int flags, OpenError failure,
                       const QString &failureText)
{
    // The connection is only ever used by the window thread: no locking.
    const int opened = sqlite3_open_v2(QFile::encodeName(absolutePath).constData(), &m_handle,
                                       flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        const QString reason = m_handle ? QString::fromUtf8(sqlite3_errmsg(m_handle))
                                        : QString::fromUtf8(sqlite3_errstr(opened));
        return fail(failure, failureText.arg(shown(absolutePath), reason));
    }
    sqlite3_extended_result_codes(m_handle, 1);
    sqlite3_busy_timeout(m_handle, 2000);
    return keyAndCheckCipher(shown(absolutePath));
}

void Database::reset()
{
    close();
    m_openError = OpenError::None;
    m_error.clear();
    m_corruptionSeen = false;
}

bool Database::open(const QString &path, Access access)
{
    reset();
    const QFileInfo info(path);
    const QString name = shown(info.absoluteFilePath());
    if (!info.exists())
        return fail(OpenError::CannotOpen, QStringLiteral("数据库文件 %1 不存在。").arg(name));
    if (!info.isFile())
        return fail(OpenError::CannotOpen,
                    QStringLiteral("%1 不是普通文件，不能作为数据库文件使用。").arg(name));

    // No SQLITE_OPEN_CREATE: the file must be there and is never made here.
    const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (!connect(info.absoluteFilePath(), flags, OpenError::CannotOpen,
                 QStringLiteral("无法打开数据库文件 %1：%2。")))
        return false;

    // The first read decrypts page 1: here a wrong key, a plain SQLite file
    // or any other content shows up. Reading writes nothing.
    {
        Statement probe(m_handle, "SELECT count(*) FROM sqlite_master");
        const int read = probe.step();
        if (read != SQLITE_ROW) {
            const int primary = (probe.isValid() ? read : probe.prepareCode()) & 0xff;
            if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
                return fail(OpenError::NotADatabase,
                            QStringLiteral("数据库文件 %1 已损坏或不是本程序的数据库"
                                           "（无法用本程序的密码读取）。")
                                .arg(name));
            return fail(OpenError::CannotOpen, QStringLiteral("无法读取数据库文件 %1：%2。")
                                                   .arg(name, lastErrorMessage()));
        }
    }
    QString schemaError;
    if (!Schema::verify(m_handle, &schemaError))
        return fail(OpenError::WrongSchema,
                    QStringLiteral("数据库文件 %1 已损坏或不是本程序的数据库（%2）。")
                        .arg(name, schemaError));
    if (access == Access::ReadWrite && sqlite3_db_readonly(m_handle, "main") == 1)
        return fail(OpenError::ReadOnly,
                    QStringLiteral("数据库文件 %1 是只读的，无法保存修改。").arg(name));

    // Decrypting a page costs more than reading it: keep up to 32 MB of
    // decrypted pages, so that listing a big group again stays fast.
    if (access == Access::ReadWrite)
        execute("PRAGMA cache_size = -32768");

    m_path = info.absoluteFilePath();
    return true;
}

bool Database::create(const QString &path)
{
    reset();
    const QFileInfo info(path);
    const QString file = info.absoluteFilePath();
    if (info.exists() || info.isSymLink())
        return fail(OpenError::CannotCreate, QStringLiteral("文件 %1 已存在。").arg(shown(file)));

    const QString failureText = QStringLiteral("无法创建数据库文件 %1：%2。");
    if (!connect(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, OpenError::CannotCreate,
                 failureText)) {
        QFile::remove(file);
        return false;
    }
    QString reason;
    Transaction transaction(*this);
    if (!transaction.isActive() || !Schema::create(m_handle, &reason) || !transaction.commit()) {
        fail(OpenError::CannotCreate, failureText.arg(shown(file), reason.isEmpty() ? m_error : reason));
        QFile::remove(file);
        QFile::remove(file + QStringLiteral("-journal"));
        return false;
    }
    m_path = file;
    return true;
}

bool Database::close()
{
    if (!m_handle)
        return true;
    m_corruptionSeen = CorruptionLog::take(m_handle) || m_corruptionSeen;
    const int closed = sqlite3_close(m_handle);
    if (closed != SQLITE_OK) {
        // Statements still open: let SQLite release the handle once they
        // are finalized.
        m_error = QString::fromUtf8(sqlite3_errmsg(m_handle));
        sqlite3_close_v2(m_handle);
    }
    m_handle = nullptr;
    m_path.clear();
    return closed == SQLITE_OK;
}

bool Database::execute(const char *sql)
{
    if (!m_handle) {
        m_error = QStringLiteral("数据库未打开");
        return false;
    }
    char *message = nullptr;
    const int code = sqlite3_exec(m_handle, sql, nullptr, nullptr, &message);
    CorruptionLog::note(m_handle, code);
    if (code != SQLITE_OK) {
        m_error = QString::fromUtf8(message ? message : sqlite3_errmsg(m_handle));
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Database::corruptionSeen() const
{
    return m_corruptionSeen || CorruptionLog::seen(m_handle);
}

QString Database::lastErrorMessage() const
{
    return m_handle ? QString::fromUtf8(sqlite3_errmsg(m_handle)) : QStringLiteral("数据库未打开");
}

Transaction::Transaction(Database &database)
    : m_database(database)
{
    m_active = m_database.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    rollback();
}

bool Transaction::commit()
{
    if (!m_active)
        return false;
    if (m_database.execute("COMMIT")) {
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
