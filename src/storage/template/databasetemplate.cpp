#include "databasetemplate.h"

#include "atomicfile.h"

#include <QFile>
#include <QFileInfo>

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
    QString writeError;
    const bool written = AtomicFile::write(
        info.absoluteFilePath(),
        [&content](const QString &temporaryPath, QString *fileError) {
            QFile file(temporaryPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(content) != content.size() || !file.flush()) {
                *fileError = file.errorString();
                return false;
            }
            return true;
        },
        &writeError);
    if (!written) {
        if (error)
            *error = writeError;
        return EnsureResult::Failed;
    }
    return EnsureResult::Created;
}

} // namespace DatabaseTemplate
