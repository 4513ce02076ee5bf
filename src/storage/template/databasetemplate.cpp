#include "storage/template/databasetemplate.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace DatabaseTemplate {

QByteArray bytes()
{
    // The resource is compiled into an object library that CMake links into
    // every executable using lanzhou_template, so it registers itself.
    QFile resource(QStringLiteral(":/template/contacts.dat"));
    if (!resource.open(QIODevice::ReadOnly))
        return QByteArray();
    return resource.readAll();
}

EnsureResult ensureDatabaseFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.isFile())
        return EnsureResult::Existing;
    // Something that is not an ordinary file (a folder, a dangling link)
    // is in the way: leave it alone.
    if (info.exists() || info.isSymLink()) {
        if (error)
            *error = QStringLiteral("该位置已有同名的文件夹或链接");
        return EnsureResult::Failed;
    }

    const QByteArray content = bytes();
    if (content.isEmpty()) {
        if (error)
            *error = QStringLiteral("程序内置的数据库模板缺失");
        return EnsureResult::Failed;
    }
    // QSaveFile: complete or absent, with the mode the umask gives.
    QSaveFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return EnsureResult::Failed;
    }
    return EnsureResult::Created;
}

} // namespace DatabaseTemplate
