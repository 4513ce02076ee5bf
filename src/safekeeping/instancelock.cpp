#include "safekeeping/instancelock.h"

InstanceLock::InstanceLock(const QString &databasePath)
    : m_lock(lockPathFor(databasePath))
{
    // Stale only when its process is gone: a copy that has been running for
    // days still holds the database.
    m_lock.setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

QString InstanceLock::lockPathFor(const QString &databasePath)
{
    return databasePath + QStringLiteral(".lock");
}

InstanceLock::Outcome InstanceLock::acquire()
{
    if (m_lock.tryLock(0))
        return Outcome::Acquired;
    return m_lock.error() == QLockFile::LockFailedError ? Outcome::HeldByRunningCopy
                                                        : Outcome::Unavailable;
}
