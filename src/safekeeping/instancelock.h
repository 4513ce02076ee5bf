#pragma once

#include <QString>

// The lock that lets one running copy of the program at a time use a
// database: a lock file beside the database (beside the file a link points
// to, so two folders that share one database through a link share its lock)
// on which the running copy holds a kernel lock (flock) from start to exit.
// The kernel lets go when the process ends however it ends, so a crash never
// leaves a stale lock. The file's text only describes the holder (process,
// computer, user, since when) for messages.
class InstanceLock
{
public:
    enum class Outcome {
        Acquired,
        HeldByRunningCopy, // another process holds it
        Uncheckable,       // not known whether anyone holds it (see problem())
        Unavailable,       // the lock file cannot be made (read-only folder): the
                           // database file itself is locked instead
    };

    explicit InstanceLock(const QString &databasePath);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    Outcome acquire();
    // For Uncheckable and Unavailable: what stands in the way, naming the
    // lock file ("锁文件 … 是一个符号链接", "…上次由电脑 pc-2 上的进程 4711 使用").
    QString problem() const { return m_problem; }

    // For HeldByRunningCopy: what the lock file says about its holder
    // ("电脑 pc-2 上的进程 4711（…）"), and whether that is another computer
    // (a network share).
    QString holder() const { return m_holder; }
    bool holderIsOnAnotherComputer() const;

    // The database's path, through any link, + ".lock".
    static QString lockPathFor(const QString &databasePath);

private:
    // False when another process holds the database file's own lock.
    bool lockDatabaseItself();
    void describeHolder();
    static QString hostPart();
    QString holderText() const;

    QString m_path;
    QString m_databasePath; // through any link
    int m_fd = -1;
    bool m_held = false;
    QString m_problem;
    QString m_holder;
};
