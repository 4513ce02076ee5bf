#include "appsession.h"

#include "appfolder.h"
#include "dailybackup.h"
#include "databasetemplate.h"

#include <QDir>
#include <QFileInfo>

AppSession::AppSession(const QString &appFolder)
    : m_appFolder(appFolder)
    , m_store(m_database)
{
}

AppSession::~AppSession() = default;

QString AppSession::databasePath() const
{
    return AppFolder::databasePath(m_appFolder);
}

bool AppSession::start(QString *message)
{
    if (m_appFolder.isEmpty())
        m_appFolder = AppFolder::path();
    const QString path = databasePath();

    QString error;
    if (DatabaseTemplate::ensureDatabaseFile(path, &error) == DatabaseTemplate::EnsureResult::Failed) {
        if (message)
            *message = QStringLiteral("无法创建数据库文件 %1：%2。请确认数据文件夹 %3 可以写入。")
                           .arg(QDir::toNativeSeparators(path), error,
                                QDir::toNativeSeparators(m_appFolder));
        return false;
    }
    if (!m_database.open(path)) {
        if (message)
            *message = m_database.errorString();
        return false;
    }
    const StoreResult read = m_store.smsText(m_initialSmsText);
    if (read != StoreResult::Ok && read != StoreResult::NotFound) {
        if (message)
            *message = QStringLiteral("无法读取数据库文件 %1 中的短信内容：%2。")
                           .arg(QDir::toNativeSeparators(path), m_store.errorString());
        m_database.close();
        return false;
    }
    return true;
}

QStringList AppSession::finish(const QString &smsText, QDate today)
{
    QStringList problems;
    if (!m_database.isOpen()) {
        problems << QStringLiteral("数据库未打开，短信内容未保存，也未写入备份。");
        return problems;
    }

    switch (m_store.setSmsText(smsText)) {
    case StoreResult::Ok:
        break;
    case StoreResult::NotFound:
        problems << QStringLiteral("短信内容未能保存：数据库中没有存放短信内容的记录。");
        break;
    default:
        problems << QStringLiteral("短信内容未能保存：%1").arg(m_store.errorString());
        break;
    }

    if (!m_database.close())
        problems << QStringLiteral("关闭数据库时出错：%1").arg(m_database.errorString());

    QString error;
    if (!DailyBackup::write(m_appFolder, databasePath(), today, &error))
        problems << QStringLiteral("今天的备份未能写入：%1").arg(error);
    return problems;
}
