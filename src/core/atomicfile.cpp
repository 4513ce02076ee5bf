#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool write(const QString &finalPath, const Writer &writer, QString *error)
{
    const QFileInfo target(finalPath);
    // Reserve a unique name beside the target (same file system, so the
    // final rename is atomic).
    QTemporaryFile reservation(target.absolutePath() + QStringLiteral("/.")
                               + target.fileName() + QStringLiteral(".XXXXXX"));
    if (!reservation.open()) {
        if (error)
            *error = reservation.errorString();
        return false;
    }
    const QString temporaryPath = reservation.fileName();
    reservation.close();

    QString writerError;
    if (!writer(temporaryPath, &writerError) || !syncFile(temporaryPath)) {
        QFile::remove(temporaryPath);
        if (error)
            *error = writerError.isEmpty() ? QStringLiteral("写入失败") : writerError;
        return false;
    }
    // Keep the permissions an ordinary new file would get.
    QFile::setPermissions(temporaryPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                             | QFile::ReadOther);
    if (std::rename(QFile::encodeName(temporaryPath).constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData())
        != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(temporaryPath);
        return false;
    }
    reservation.setAutoRemove(false);
    return true;
}

bool copy(const QString &source, const QString &target, QString *error)
{
    return write(
        target,
        [&source](const QString &temporaryPath, QString *copyError) {
            QFile in(source);
            QFile out(temporaryPath);
            if (!in.open(QIODevice::ReadOnly)) {
                *copyError = in.errorString();
                return false;
            }
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                *copyError = out.errorString();
                return false;
            }
            char buffer[1 << 16];
            for (;;) {
                const qint64 n = in.read(buffer, sizeof buffer);
                if (n < 0) {
                    *copyError = in.errorString();
                    return false;
                }
                if (n == 0)
                    break;
                if (out.write(buffer, n) != n) {
                    *copyError = out.errorString();
                    return false;
                }
            }
            if (!out.flush()) {
                *copyError = out.errorString();
                return false;
            }
            return true;
        },
        error);
}

} // namespace AtomicFile
