#include "safekeeping/instancelock.h"

#include "safekeeping/plainfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the lock file says about its holder; longer is not a lock file of ours.
constexpr qint64 LongestDescription = 4096;

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

InstanceLock::InstanceLock(const QString &databasePath)
    : m_path(lockPathFor(databasePath))
    , m_databasePath(m_path.chopped(5))
{
}

InstanceLock::~InstanceLock()
{
    if (m_fd < 0)
        return;
    // Removed while still held: a start that opened the old file meanwhile
    // finds, once it holds it, that the name is no longer that file's.
    if (m_held)
        ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}

QString InstanceLock::lockPathFor(const QString &databasePath)
{
    const QFileInfo database(databasePath);
    const QString target = database.isSymLink() ? database.canonicalFilePath() : QString();
    return (target.isEmpty() ? databasePath : target) + QStringLiteral(".lock");
}

InstanceLock::Outcome InstanceLock::acquire()
{
    if (m_held)
        return Outcome::Acquired;
    m_problem.clear();
    const QByteArray path = QFile::encodeName(m_path);
    // A start that loses the race to a copy removing its file tries again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (m_fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)
            && PlainFile::kindOf(m_path) == PlainFile::Kind::Regular) {
            // Another user's file in a shared folder: a kernel lock needs no
            // write access, only the description cannot be written then.
            m_fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        if (m_fd < 0) {
            const int code = errno;
            const PlainFile::Kind kind = PlainFile::kindOf(m_path);
            if (kind == PlainFile::Kind::Missing) {
                m_problem = QStringLiteral("无法创建锁文件 %1：%2").arg(shown(m_path), systemError(code));
                return lockDatabaseItself() ? Outcome::Unavailable : Outcome::HeldByRunningCopy;
            }
            m_problem = QStringLiteral("锁文件 %1 %2")
                            .arg(shown(m_path), kind == PlainFile::Kind::Other
                                                    ? PlainFile::describeOther(m_path)
                                                    : QStringLiteral("无法打开：%1").arg(systemError(code)));
            return Outcome::Uncheckable;
        }
        struct stat opened {};
        if (::fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            m_problem = QStringLiteral("锁文件 %1 %2").arg(shown(m_path), PlainFile::describeOther(m_path));
            return Outcome::Uncheckable;
        }
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            const QString holder = holderText();
            ::close(m_fd);
            m_fd = -1;
            if (code == EWOULDBLOCK) {
                m_holder = holder;
                return Outcome::HeldByRunningCopy;
            }
            // A file system without locks (some network shares): nothing
            // tells whether the copy the file names still runs.
            m_problem = QStringLiteral("锁文件 %1 无法加锁（%2）%3")
                            .arg(shown(m_path), systemError(code),
                                 holder.isEmpty() ? QString() : QStringLiteral("，其中记录：%1").arg(holder));
            return Outcome::Uncheckable;
        }
        struct stat named {};
        if (::lstat(path.constData(), &named) == 0 && named.st_dev == opened.st_dev
            && named.st_ino == opened.st_ino) {
            m_held = true;
            describeHolder();
            return Outcome::Acquired;
        }
        ::close(m_fd); // removed or replaced by the copy that held it
        m_fd = -1;
    }
    m_problem = QStringLiteral("锁文件 %1 不断被替换").arg(shown(m_path));
    return Outcome::Uncheckable;
}

bool InstanceLock::lockDatabaseItself()
{
    // A folder that cannot be written has no room for a lock file: the
    // database file carries the kernel lock instead (a flock, which the
    // database's own record locks do not meet). Closing it would drop the
    // database's record locks of this process: it is closed only with the
    // session, after the database.
    const int fd = ::open(QFile::encodeName(m_databasePath).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true; // no database either: the start meets that on its own
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_fd = fd;
        return true;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return !held;
}

QString InstanceLock::holderText() const
{
    QByteArray text(LongestDescription, Qt::Uninitialized);
    const ssize_t got = ::pread(m_fd, text.data(), size_t(text.size()), 0);
    if (got <= 0)
        return QString();
    text.truncate(got);
    return QString::fromUtf8(text).simplified();
}

bool InstanceLock::holderIsOnAnotherComputer() const
{
    return !m_holder.isEmpty() && !m_holder.startsWith(hostPart());
}

QString InstanceLock::hostPart()
{
    return QStringLiteral("电脑 %1 上").arg(QSysInfo::machineHostName());
}

void InstanceLock::describeHolder()
{
    const QByteArray text = QStringLiteral("%1的进程 %2（用户 %3，%4 起）\n")
                                .arg(hostPart())
                                .arg(qint64(::getpid()))
                                .arg(qEnvironmentVariable("USER", QString::number(::getuid())),
                                     QDateTime::currentDateTime().toString(
                                         QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                .toUtf8();
    // Only a help for people reading the file: a failure changes nothing.
    if (::ftruncate(m_fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(m_fd, text.constData(), size_t(text.size()), 0);
    }
}
