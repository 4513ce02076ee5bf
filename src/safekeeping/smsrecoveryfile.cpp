#include "safekeeping/smsrecoveryfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

SmsRecoveryFile::SmsRecoveryFile(const QString &databasePath)
    : m_path(QFileInfo(databasePath).dir().filePath(FileName))
{
}

bool SmsRecoveryFile::write(const QString &text, QString *error) const
{
    QSaveFile file(m_path);
    const QByteArray bytes = text.toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(m_path), file.errorString());
    return false;
}

bool SmsRecoveryFile::read(QString *text) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    *text = QString::fromUtf8(bytes);
    return true;
}

bool SmsRecoveryFile::remove() const
{
    return QFile::remove(m_path);
}
