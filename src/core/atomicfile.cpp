#include "core/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

constexpr int RandomLength = 6;
constexpr char RandomLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

QString systemError(int code = errno)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool syncPath(const QString &path, int flags)
{
    const int fd = ::open(encoded(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Creates an empty, unique temporary file in folder with the mode a new file
// gets (the umask applies to 0666). Returns its path, or "" with error set.
QString createTemporary(const QString &folder, mode_t *createdMode, QString *error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = QString::fromLatin1(TemporaryPrefix);
        for (int i = 0; i < RandomLength; ++i)
            name += QLatin1Char(
                RandomLetters[QRandomGenerator::global()->bounded(int(sizeof RandomLetters - 1))]);
        QString path = folder + QLatin1Char('/') + name;
        const int fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat info {};
            ::fstat(fd, &info);
            *createdMode = info.st_mode & 0777;
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            *error = systemError();
            return QString();
        }
    }
    *error = systemError(EEXIST);
    return QString();
}

// The permission bits of path, or fallback when there is no such file.
mode_t modeOf(const QString &path, mode_t fallback)
{
    struct stat info {};
    if (::stat(encoded(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return fallback;
    return info.st_mode & 0777;
}

bool writeWithMode(const QString &finalPath, const QString &modeSource, const Writer &writer,
                   QString *error, const Check &check)
{
    const QFileInfo target(finalPath);
    QString reason;
    mode_t newFileMode = 0;
    // Same folder: same file system, so the final rename is atomic.
    const QString temporaryPath = createTemporary(target.absolutePath(), &newFileMode, &reason);
    if (temporaryPath.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    const auto fail = [&](const QString &why) {
        QFile::remove(temporaryPath);
        if (error)
            *error = why.isEmpty() ? QStringLiteral("写入失败") : why;
        return false;
    };

    if (!writer(temporaryPath, &reason))
        return fail(reason);
    // Set again after the writer: a library may have made the file anew.
    const mode_t mode = modeOf(modeSource, newFileMode);
    if (::chmod(encoded(temporaryPath).constData(), mode) != 0)
        return fail(systemError());
    if (!syncPath(temporaryPath, O_RDONLY))
        return fail(systemError());
    if (check && !check(temporaryPath, &reason))
        return fail(reason);
    if (std::rename(encoded(temporaryPath).constData(),
                    encoded(target.absoluteFilePath()).constData())
        != 0)
        return fail(systemError());
    // Make the rename itself durable; a failure here loses nothing.
    syncPath(target.absolutePath(), O_RDONLY | O_DIRECTORY);
    return true;
}

// Plain system calls, so that a failure is told by its own reason (a full
// disk says so) rather than by a buffered stream's guess.
bool copyInto(const QString &source, const QString &temporaryPath, QString *error)
{
    const int in = ::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = systemError();
        return false;
    }
    const int out = ::open(encoded(temporaryPath).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        *error = systemError();
        ::close(in);
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    bool ok = true;
    while (ok) {
        const ssize_t got = ::read(in, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            if (!ok)
                *error = systemError();
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(out, buffer.constData() + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                *error = systemError(put < 0 ? errno : ENOSPC);
                ok = false;
            } else {
                done += put;
            }
        }
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        *error = systemError();
        ok = false;
    }
    return ok;
}

} // namespace

bool write(const QString &finalPath, const Writer &writer, QString *error, const Check &check)
{
    return writeWithMode(finalPath, finalPath, writer, error, check);
}

bool copy(const QString &source, const QString &target, QString *error, ModeFrom mode,
          const Check &check)
{
    return writeWithMode(
        target, mode == ModeFrom::Source ? source : target,
        [&source](const QString &temporaryPath, QString *copyError) {
            return copyInto(source, temporaryPath, copyError);
        },
        error, check);
}

namespace {

bool endsInRandomLetters(const QString &fileName, qsizetype start)
{
    if (fileName.size() != start + RandomLength)
        return false;
    for (qsizetype i = start; i < fileName.size(); ++i) {
        const char16_t c = fileName.at(i).unicode();
        if (c >= 0x80 || c == 0 || !std::strchr(RandomLetters, char(c)))
            return false;
    }
    return true;
}

} // namespace

bool isTemporaryName(const QString &fileName)
{
    const QString prefix = QString::fromLatin1(TemporaryPrefix);
    return fileName.startsWith(prefix) && endsInRandomLetters(fileName, prefix.size());
}

bool isTemporaryName(const QString &fileName, const QStringList &formerTargets)
{
    if (isTemporaryName(fileName))
        return true;
    for (const QString &target : formerTargets) {
        const QString prefix = QLatin1Char('.') + target + QLatin1Char('.');
        if (fileName.startsWith(prefix) && endsInRandomLetters(fileName, prefix.size()))
            return true;
    }
    return false;
}

int removeLeftovers(const QString &folder, const QDateTime &before, const QStringList &formerTargets)
{
    const QFileInfoList candidates =
        QDir(folder).entryInfoList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::System);
    // A write of this run is dated between `before` and now; a file dated
    // far beyond was left when the clock was ahead, and would never be older.
    const QDateTime future = before.addSecs(FutureAllowanceSeconds);
    int removed = 0;
    for (const QFileInfo &file : candidates) {
        const QDateTime modified = file.lastModified();
        if (isTemporaryName(file.fileName(), formerTargets) && !file.isSymLink()
            && (modified < before || modified > future) && QFile::remove(file.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

} // namespace AtomicFile
