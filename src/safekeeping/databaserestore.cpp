#include "safekeeping/databaserestore.h"

#include "core/atomicfile.h"
#include "storage/integritycheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace DatabaseRestore {

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A free name in folder for the replaced file.
QString freeKeptPath(const QDir &folder, Reason reason, const QDateTime &when)
{
    const QString name = keptName(reason, when);
    QString path = folder.filePath(name);
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = folder.filePath(name.chopped(4) + QStringLiteral("-%1.dat").arg(n));
    return path;
}

// A second name for the file: it stays there, untouched, whatever happens to
// the database's own name next. A file system without hard links gets a copy.
bool keepUnder(const QString &databasePath, const QString &keptPath, QString *error)
{
    if (::link(QFile::encodeName(databasePath).constData(),
               QFile::encodeName(keptPath).constData())
        == 0)
        return true;
    return AtomicFile::copy(databasePath, keptPath, error, AtomicFile::ModeFrom::Source);
}

} // namespace

QString keptName(Reason reason, const QDateTime &when)
{
    const QString why = reason == Reason::Damaged ? QStringLiteral("损坏") : QStringLiteral("恢复前");
    return QStringLiteral("通讯录.%1.%2.dat").arg(why, when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

bool restore(const QString &backupPath, const QString &databasePath, Reason reason,
             QString *keptAs, QString *error)
{
    // A database reached through a link is restored where the link points:
    // the link stays, and whoever else uses that file sees the restore too.
    const QFileInfo named(databasePath);
    const QFileInfo database(named.isSymLink() ? named.canonicalFilePath() : databasePath);
    if (named.isSymLink() && !database.isFile()) {
        if (error)
            *error = QStringLiteral("数据库文件 %1 是一个符号链接，但它指向的文件 %2 不存在或不是普通文件，"
                                    "未做任何改动。")
                         .arg(shown(databasePath), shown(named.symLinkTarget()));
        return false;
    }
    QString kept;
    QString why;
    if (database.exists()) {
        kept = freeKeptPath(database.absoluteDir(), reason, QDateTime::currentDateTime());
        if (!keepUnder(database.absoluteFilePath(), kept, &why)) {
            if (error)
                *error = QStringLiteral("无法保留当前的数据库文件 %1：%2。")
                             .arg(shown(databasePath), why);
            return false;
        }
    }
    const bool copied = AtomicFile::copy(
        backupPath, database.absoluteFilePath(), &why, AtomicFile::ModeFrom::Target,
        [](const QString &copy, QString *checkError) {
            QString reason;
            const bool passed = IntegrityCheck::check(copy, &reason);
            *checkError = QStringLiteral("备份未通过完整性检查（%1）").arg(reason);
            return passed;
        });
    if (!copied) {
        if (!kept.isEmpty())
            QFile::remove(kept);
        if (error)
            *error = QStringLiteral("无法用备份 %1 恢复数据库：%2。").arg(shown(backupPath), why);
        return false;
    }
    // A rollback journal left by the replaced file would be played back into
    // the restored one at the next open: it goes with the file it belongs to.
    const QString journal = database.absoluteFilePath() + QStringLiteral("-journal");
    if (QFileInfo::exists(journal)) {
        if (kept.isEmpty() || !QFile::rename(journal, kept + QStringLiteral("-journal")))
            QFile::remove(journal);
    }
    if (keptAs)
        *keptAs = kept;
    return true;
}

} // namespace DatabaseRestore
