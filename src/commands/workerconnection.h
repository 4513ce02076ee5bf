#pragma once

#include "storage/database.h"

#include <QMutex>
#include <QString>

#include <functional>

// The commands' own connection to the contact database (see Command). It is
// opened on first use, on the worker thread that needs it, and then kept: a
// command neither derives the key again nor starts with a cold page cache.
// Commands use it one after another, whatever thread each runs on; the lock
// here stands in for SQLite's own, which the connection goes without. It is
// closed before the file is copied or replaced (close()); the next use opens
// it again.
class WorkerConnection
{
public:
    explicit WorkerConnection(QString databasePath);
    ~WorkerConnection();
    WorkerConnection(const WorkerConnection &) = delete;
    WorkerConnection &operator=(const WorkerConnection &) = delete;

    // Runs work with the open connection, waiting for a command still using
    // it; false with error when the connection cannot be opened.
    bool use(const std::function<void(Database &database)> &work, QString *error);
    // Waits for a command using the connection, then closes it.
    void close();

private:
    const QString m_path;
    QMutex m_mutex;
    Database m_database;
};
