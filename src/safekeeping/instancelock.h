#pragma once

#include <QLockFile>
#include <QString>

// The lock that lets one running copy of the program at a time use a
// database: a lock file beside it, held from start to exit. A lock left by a
// copy that crashed (its process is gone) is taken over.
class InstanceLock
{
public:
    enum class Outcome {
        Acquired,
        HeldByRunningCopy, // another live process holds it
        Unavailable,       // the lock file cannot be made (read-only folder)
    };

    explicit InstanceLock(const QString &databasePath);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    Outcome acquire();

    // databasePath + ".lock"
    static QString lockPathFor(const QString &databasePath);

private:
    QLockFile m_lock;
};
