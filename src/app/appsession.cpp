#include "appsession.h"

#include "appfolder.h"
#include "dailybackup.h"
#include "databasetemplate.h"
#include "instancelock.h"
#include "smsrecoveryfile.h"

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
    // Without a lock file (a read-only folder) no copy can write the
    // database anyway, so the start goes on and meets that on its own.
    m_lock = std::make_unique<InstanceLock>(databasePath());
    if (m_lock->acquire() == InstanceLock::Outcome::HeldByRunningCopy) {
        m_runningElsewhere = true;
        if (message)
            *message = QStringLiteral("程序已经在运行。");
        m_lock.reset();
        return false;
    }
    if (!openDatabase(message)) {
        m_lock.reset();
        return false;
    }
    restoreRecoveredSmsText();
    return true;
}

void AppSession::restoreRecoveredSmsText()
{
    SmsRecoveryFile recovery(databasePath());
    QString text;
    if (!recovery.read(&text))
        return;
    m_initialSmsText = text;
    // The file goes only once the text is safe in the database again.
    QString error;
    saveSmsText(text, &error);
}

bool AppSession::openDatabase(QString *message)
{
    const QString path = databasePath();

    QString error;
    if (DatabaseTemplate::ensureDatabaseFile(path, &error) == DatabaseTemplate::EnsureResult::Failed) {
        if (message)
            *message = QStringLiteral("无法创建数据库文件 %1：%2。请确认程序所在的文件夹可以写入。")
                           .arg(QDir::toNativeSeparators(path), error);
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

    QString error;
    if (!saveSmsText(smsText, &error))
        problems << QStringLiteral("短信内容未能保存：%1").arg(error);
    return problems + closeAndBackUp(today);
}

bool AppSession::saveSmsText(const QString &smsText, QString *error)
{
    switch (m_store.setSmsText(smsText)) {
    case StoreResult::Ok:
        // The box started with any text kept aside, so what was just stored
        // supersedes it: the next start must not bring back an older one.
        SmsRecoveryFile(databasePath()).remove();
        return true;
    case StoreResult::NotFound:
        *error = QStringLiteral("数据库中没有存放短信内容的记录。");
        return false;
    default:
        *error = m_store.errorString();
        return false;
    }
}

QStringList AppSession::closeAndBackUp(QDate today)
{
    QStringList problems;
    if (!m_database.close())
        problems << QStringLiteral("关闭数据库时出错：%1").arg(m_database.errorString());

    QString error;
    if (!DailyBackup::write(m_appFolder, databasePath(), today, &error))
        problems << QStringLiteral("今天的备份未能写入：%1").arg(error);
    return problems;
}
