#include "safekeeping/appsession.h"

#include "safekeeping/appfolder.h"
#include "safekeeping/backupring.h"
#include "safekeeping/dailybackup.h"
#include "safekeeping/instancelock.h"
#include "safekeeping/leftoversweep.h"
#include "safekeeping/smsrecoveryfile.h"
#include "storage/followupschema.h"
#include "storage/integritycheck.h"
#include "storage/migrations.h"
#include "storage/sendlogschema.h"
#include "storage/template/databasetemplate.h"

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
    const QDateTime began = QDateTime::currentDateTime();
    if (m_appFolder.isEmpty())
        m_appFolder = AppFolder::path();
    m_lockUncheckable = false;
    // A restore starts again while the lock is still held: it stays ours.
    if (!m_lock && !takeLock(message))
        return false;
    if (m_lock) {
        // Only once the lock is held: another copy's temporary files are its own.
        LeftoverSweep::run(m_appFolder, began);
    }
    if (!openDatabase(message)) {
        // A damaged file stays locked while the user decides about a restore.
        if (!m_damaged)
            m_lock.reset();
        return false;
    }
    restoreRecoveredSmsText();
    return true;
}

bool AppSession::startDespiteLock(QString *message)
{
    m_lockWaived = true;
    return start(message);
}

bool AppSession::takeLock(QString *message)
{
    m_runningElsewhere = false;
    auto lock = std::make_unique<InstanceLock>(databasePath());
    switch (lock->acquire()) {
    case InstanceLock::Outcome::Acquired:
        m_lock = std::move(lock);
        return true;
    case InstanceLock::Outcome::HeldByRunningCopy:
        m_runningElsewhere = true;
        if (message)
            *message = lock->holderIsOnAnotherComputer()
                           ? QStringLiteral("数据库 %1 正在另一台电脑上使用（%2），不能同时打开。")
                                 .arg(QDir::toNativeSeparators(databasePath()), lock->holder())
                           : QStringLiteral("程序已经在运行。");
        return false;
    case InstanceLock::Outcome::Uncheckable:
        if (m_lockWaived)
            return true;
        m_lockUncheckable = true;
        if (message)
            *message = QStringLiteral("数据库 %1 似乎正在另一台电脑上使用（%2）。如果确定没有在使用，是否继续？")
                           .arg(QDir::toNativeSeparators(databasePath()), lock->problem());
        return false;
    case InstanceLock::Outcome::Unavailable:
        // Without a lock file (a read-only folder) the database file itself
        // is locked and the start goes on; the user is told.
        m_lock = std::move(lock);
        addStartNote(QStringLiteral("%1。数据文件夹 %2 似乎不能写入：关闭时短信内容和当天的备份可能无法保存。")
                         .arg(m_lock->problem(), QDir::toNativeSeparators(m_appFolder)));
        return true;
    }
    return true;
}

void AppSession::addStartNote(const QString &note)
{
    // A start again after a restore meets the same things.
    if (!m_startNotes.contains(note))
        m_startNotes << note;
}

void AppSession::restoreRecoveredSmsText()
{
    SmsRecoveryFile recovery(databasePath());
    QString text;
    QString error;
    switch (recovery.read(&text, &error)) {
    case SmsRecoveryFile::ReadResult::Missing:
        return;
    case SmsRecoveryFile::ReadResult::Refused:
        addStartNote(QStringLiteral("上次未保存的短信内容无法取回：%1。该文件保持原样。").arg(error));
        return;
    case SmsRecoveryFile::ReadResult::Read:
        break;
    }
    m_initialSmsText = text;
    // The file goes only once the text is safe in the database again.
    saveSmsText(text, &error);
}

bool AppSession::openDatabase(QString *message)
{
    const QString path = databasePath();
    m_damaged = false;

    QString error;
    if (DatabaseTemplate::ensureDatabaseFile(path, &error) == DatabaseTemplate::EnsureResult::Failed) {
        if (message)
            *message = QStringLiteral("无法创建数据库文件 %1：%2。请确认数据文件夹 %3 可以写入。")
                           .arg(QDir::toNativeSeparators(path), error,
                                QDir::toNativeSeparators(m_appFolder));
        return false;
    }
    const Database::OpenResult opened =
        m_database.open(path, Database::Access::ReadWrite, message);
    if (opened != Database::OpenResult::Ok) {
        // An empty file or one that lost a table (cut short, overwritten) is
        // as damaged as one with a bad page: a backup may have it all.
        m_damaged = opened == Database::OpenResult::NotADatabase
                    || opened == Database::OpenResult::WrongSchema;
        return false;
    }
    QString readError;
    const StoreResult read = m_store.smsText(&m_initialSmsText, &readError);
    QStringList groups;
    QString groupsError;
    m_store.groups(&groups, &groupsError); // the window reads them next: damage shows here
    if (m_database.corruptionSeen()) {
        m_damaged = true;
        if (message)
            *message = QStringLiteral("数据库文件 %1 已损坏（%2）。")
                           .arg(QDir::toNativeSeparators(path),
                                groupsError.isEmpty() ? readError : groupsError);
        m_database.close();
        return false;
    }
    if (read != StoreResult::Ok && read != StoreResult::NotFound) {
        if (message)
            *message = QStringLiteral("无法读取数据库文件 %1 中的短信内容：%2。")
                           .arg(QDir::toNativeSeparators(path), readError);
        m_database.close();
        return false;
    }
    addNewTables();
    return true;
}

void AppSession::addNewTables()
{
    sqlite3 *db = m_database.handle();
    const QString file = QDir::toNativeSeparators(databasePath());
    QString error;
    const int version = Migrations::version(db, &error);
    QString problem;
    if (version > Migrations::latestVersion()) {
        // Its tables may mean something this program does not know.
        problem = QStringLiteral("数据库文件 %1 由较新版本的程序写入（数据表版本 %2，本程序为 %3）")
                      .arg(file)
                      .arg(version)
                      .arg(Migrations::latestVersion());
    } else if (version < 0 || !Migrations::upgrade(db, &error)) {
        problem = QStringLiteral("无法在数据库文件 %1 中添加发送记录和回访记录的数据表（%2）")
                      .arg(file, error);
    }
    m_sendingProblem = problem;
    m_followUpProblem = problem;
    if (problem.isEmpty() && !SendLogSchema::check(db, &error))
        m_sendingProblem = QStringLiteral("数据库文件 %1 中的发送记录不是本程序写入的样子：%2")
                               .arg(file, error);
    if (problem.isEmpty() && !FollowUpSchema::check(db, &error))
        m_followUpProblem = QStringLiteral("数据库文件 %1 中的回访记录不是本程序写入的样子：%2")
                                .arg(file, error);
    QStringList parts;
    for (const QString &part : {m_sendingProblem, m_followUpProblem}) {
        if (!part.isEmpty() && !parts.contains(part))
            parts.append(part);
    }
    QStringList off;
    if (!m_sendingProblem.isEmpty())
        off.append(QStringLiteral("直接发送短信"));
    if (!m_followUpProblem.isEmpty())
        off.append(QStringLiteral("回访记录"));
    m_upgradeProblem = parts.isEmpty() ? QString()
                                       : QStringLiteral("%1。%2暂时不能使用；通讯录不受影响。")
                                             .arg(parts.join(QStringLiteral("；")),
                                                  off.join(QStringLiteral("和")));
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
    switch (m_store.setSmsText(smsText, error)) {
    case StoreResult::Ok:
        // The box started with any text kept aside, so what was just stored
        // supersedes it: the next start must not bring back an older one.
        SmsRecoveryFile(databasePath()).remove();
        return true;
    case StoreResult::NotFound:
        if (error)
            *error = QStringLiteral("数据库中没有存放短信内容的记录。");
        return false;
    default: // error holds the database's message
        return false;
    }
}

QStringList AppSession::closeAndBackUp(QDate today)
{
    QStringList problems;
    QString closeError;
    if (!m_database.close(&closeError))
        problems << QStringLiteral("关闭数据库时出错：%1").arg(closeError);

    const QString backupProblem = writeBackup(today, m_database.corruptionSeen());
    if (!backupProblem.isEmpty())
        problems << backupProblem;
    return problems;
}

QString AppSession::writeBackup(QDate today, bool damageSeen)
{
    QString damage = damageSeen ? QStringLiteral("本次运行中读取时报告了损坏") : QString();
    if (damage.isEmpty()) {
        // The check reads the copy through a connection of its own, so damage
        // on disk shows even where this run's connection had the pages cached.
        QString error;
        const bool written = DailyBackup::write(
            m_appFolder, databasePath(), today,
            [&damage](const QString &copy, QString *reason) {
                damage.clear();
                *reason = QStringLiteral("副本未通过完整性检查");
                return IntegrityCheck::check(copy, &damage);
            },
            &error);
        if (written)
            return QString();
        if (damage.isEmpty())
            return QStringLiteral("今天的备份未能写入：%1").arg(error);
        // A bad copy of a good file points at the backup's disk instead (the
        // copy's damage is what the message names).
        if (IntegrityCheck::check(databasePath(), nullptr))
            return QStringLiteral("今天的备份未能写入：写入 %1 的副本未通过完整性检查（%2），"
                                  "原来的备份保持不变。")
                .arg(QDir::toNativeSeparators(DailyBackup::folderPath(m_appFolder, today)), damage);
    }
    const std::optional<BackupRing::Entry> good = BackupRing::newestGood(m_appFolder);
    return QStringLiteral("数据库文件 %1 已损坏（%2），今天的备份没有被它替换。\n%3")
        .arg(QDir::toNativeSeparators(databasePath()), damage,
             good ? QStringLiteral("最新的完好备份是 %1，可用“文件”菜单中的“从备份恢复…”恢复。")
                        .arg(BackupRing::describe(*good))
                  : QStringLiteral("没有通过检查的备份。"));
}

bool AppSession::restoreFrom(const QString &backupPath, DatabaseRestore::Reason reason,
                             QString *keptAs, QString *message)
{
    const bool wasOpen = m_database.isOpen();
    m_database.close();
    QString error;
    if (!DatabaseRestore::restore(backupPath, databasePath(), reason, keptAs, &error)) {
        QString reopenError;
        if (wasOpen
            && m_database.open(databasePath(), Database::Access::ReadWrite, &reopenError)
                   != Database::OpenResult::Ok)
            error += QStringLiteral("\n原来的数据库也未能重新打开：%1\n请退出程序后重新启动。")
                         .arg(reopenError);
        if (message)
            *message = error;
        return false;
    }
    return start(message);
}
