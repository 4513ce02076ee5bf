#include "app/datafolder.h"

#include "safekeeping/appfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Symbolic links resolved where the folder exists (/bin and /usr/bin are one
// folder on a merged-/usr system).
QString comparable(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : canonical;
}

// Asked with the rights the program writes with (the effective ones), as
// opening a file there would be.
bool canWrite(const QString &folder)
{
    return ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK, AT_EACCESS) == 0;
}

} // namespace

DataFolder::DataFolder(const QString &path, Kind kind)
    : m_path(path)
    , m_kind(kind)
{
}

DataFolder DataFolder::choose(const QString &chosenFolder)
{
    return choose(chosenFolder, AppFolder::path(), QStringLiteral(LANZHOU_INSTALL_BINDIR));
}

DataFolder DataFolder::choose(const QString &chosenFolder, const QString &executableFolder,
                              const QString &installedBinFolder)
{
    if (!chosenFolder.isEmpty())
        return DataFolder(QDir::cleanPath(QDir(chosenFolder).absolutePath()), Kind::Chosen);
    if (comparable(executableFolder) == comparable(installedBinFolder) || !canWrite(executableFolder))
        return DataFolder(perUserFolder(), Kind::PerUser);
    return DataFolder(executableFolder, Kind::Portable);
}

QString DataFolder::perUserFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString DataFolder::importStartFolder() const
{
    return m_kind == Kind::PerUser ? QDir::homePath() : m_path;
}

bool DataFolder::prepare(QString *message) const
{
    const auto fail = [&](const QString &folder, const QString &reason) {
        if (message)
            *message = QStringLiteral("无法创建数据文件夹 %1：%2。")
                           .arg(QDir::toNativeSeparators(folder), reason);
        return false;
    };
    if (m_path.isEmpty())
        return fail(QStringLiteral("（未知）"), QStringLiteral("找不到用户的主文件夹"));

    // The missing folders, outermost first, each made private to the user.
    QStringList missing;
    for (QString folder = m_path; !QFileInfo::exists(folder);) {
        missing.prepend(folder);
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    for (const QString &folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
            return fail(folder, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!QFileInfo(m_path).isDir())
        return fail(m_path, QStringLiteral("同名的文件已经存在，它不是文件夹"));
    return true;
}
