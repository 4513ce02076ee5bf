#include "safekeeping/startuprepair.h"

#include "desktop/messagebox.h"
#include "safekeeping/appsession.h"
#include "safekeeping/backupring.h"

#include <QDir>

namespace StartupRepair {

bool recover(AppSession &session, const QString &firstMessage)
{
    QString startMessage = firstMessage;
    if (session.lockUncheckable()) {
        if (!MessageBox::askYesNo(nullptr, startMessage))
            return false;
        if (session.startDespiteLock(&startMessage))
            return true;
    }
    if (!session.databaseDamaged()) {
        MessageBox::warning(nullptr, startMessage);
        return false;
    }
    const std::optional<BackupRing::Entry> good = BackupRing::newestGood(session.appFolder());
    if (!good) {
        MessageBox::warning(nullptr, QStringLiteral("%1\n没有通过检查的备份，程序无法启动；文件未做任何改动。")
                                         .arg(startMessage));
        return false;
    }
    const QString question =
        QStringLiteral("%1\n\n要用最新的完好备份 %2 恢复吗？\n损坏的文件会改名保留（名称中有“损坏”和"
                       "当前日期时间），不会删除。")
            .arg(startMessage, BackupRing::describe(*good));
    if (!MessageBox::askYesNo(nullptr, question))
        return false;

    QString keptAs;
    QString message;
    if (!session.restoreFrom(good->path, DatabaseRestore::Reason::Damaged, &keptAs, &message)) {
        MessageBox::warning(nullptr, message);
        return false;
    }
    MessageBox::information(nullptr, QStringLiteral("已用备份 %1 恢复数据库。\n损坏的文件保留为 %2。")
                                         .arg(BackupRing::describe(*good),
                                              QDir::toNativeSeparators(keptAs)));
    return true;
}

} // namespace StartupRepair
