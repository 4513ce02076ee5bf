#include "safekeeping/plainfile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlainFile {

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

Kind kindOf(const QString &path, qint64 *size)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Kind::Missing : Kind::Other;
    if (!S_ISREG(info.st_mode))
        return Kind::Other;
    if (size)
        *size = info.st_size;
    return Kind::Regular;
}

QString describeOther(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("无法查看（%1）").arg(systemError(errno));
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("是一个符号链接");
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("是一个文件夹");
    return QStringLiteral("不是普通文件");
}

ReadResult read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    const auto refuse = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("文件 %1 %2").arg(shown(path), why);
        return ReadResult::Refused;
    };
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        if (errno == ELOOP)
            return refuse(describeOther(path));
        return refuse(QStringLiteral("无法打开：%1").arg(systemError(errno)));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(describeOther(path));
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        return refuse(QStringLiteral("过大（%1 字节）").arg(qint64(info.st_size)));
    }
    QByteArray content(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(fd, content.data() + done, size_t(content.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            return refuse(QStringLiteral("无法读取：%1").arg(systemError(code)));
        }
        if (got == 0)
            break; // shorter by now
        done += got;
    }
    ::close(fd);
    content.truncate(done);
    *bytes = content;
    return ReadResult::Read;
}

bool removeRegular(const QString &path)
{
    return kindOf(path) == Kind::Regular && ::unlink(QFile::encodeName(path).constData()) == 0;
}

} // namespace PlainFile
