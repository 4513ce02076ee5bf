#include "commands/restorecheckcommand.h"

#include "storage/integritycheck.h"

RestoreCheckCommand::RestoreCheckCommand(QStringList paths, QObject *parent)
    : Command(parent), m_paths(std::move(paths))
{
}

QString RestoreCheckCommand::title() const
{
    return QStringLiteral("检查备份");
}

QString RestoreCheckCommand::text() const
{
    return QStringLiteral("正在检查 %1 个备份…").arg(m_paths.size());
}

bool RestoreCheckCommand::run(WorkProgress &progress, QString *error)
{
    progress.setTotal(m_paths.size());
    for (int i = 0; i < m_paths.size(); ++i) {
        if (!progress.advance(i)) {
            *error = WorkProgress::cancelledMessage();
            return false;
        }
        QString reason;
        IntegrityCheck::Counts counts;
        const bool passed = IntegrityCheck::check(m_paths.at(i), &counts, &reason);
        // Emitted on the worker thread: queued to receivers on the window's.
        emit checked(i, passed, reason, passed ? counts.groups : -1, passed ? counts.contacts : -1);
    }
    progress.setDone(m_paths.size());
    return true;
}
