#include "commands/workerconnection.h"

WorkerConnection::WorkerConnection(QString databasePath) : m_path(std::move(databasePath)) {}

WorkerConnection::~WorkerConnection()
{
    close();
}

bool WorkerConnection::use(const std::function<void(Database &database)> &work, QString *error)
{
    const QMutexLocker lock(&m_mutex);
    if (!m_database.isOpen()
        && m_database.open(m_path, Database::Access::ReadWrite, error) != Database::OpenResult::Ok)
        return false;
    work(m_database);
    return true;
}

void WorkerConnection::close()
{
    const QMutexLocker lock(&m_mutex);
    m_database.close();
}

