#include "commands/groupcommands.h"

#include "commands/workerconnection.h"
#include "storage/contactstore.h"

StoreCommand::StoreCommand(std::shared_ptr<WorkerConnection> connection, QObject *parent)
    : Command(parent), m_connection(std::move(connection)), m_result(StoreResult::Failed)
{
}

bool StoreCommand::run(WorkProgress &progress, QString *error)
{
    m_result = StoreResult::Failed;
    m_connection->use(
        [&](Database &database) {
            ContactStore store(database);
            store.setProgress(&progress);
            m_result = runOnStore(store, error);
            store.setProgress(nullptr);
        },
        error);
    return m_result == StoreResult::Ok;
}

SaveAsGroupCommand::SaveAsGroupCommand(std::shared_ptr<WorkerConnection> connection, QString group,
                                       ContactList contacts, QObject *parent)
    : StoreCommand(std::move(connection), parent)
    , m_group(std::move(group))
    , m_contacts(std::move(contacts))
{
}

QString SaveAsGroupCommand::title() const
{
    return QStringLiteral("另存为分组");
}

QString SaveAsGroupCommand::text() const
{
    return QStringLiteral("正在把 %1 个联系人存入分组“%2”…").arg(m_contacts.size()).arg(m_group);
}

StoreResult SaveAsGroupCommand::runOnStore(ContactStore &store, QString *error)
{
    return store.addGroupWithContacts(m_group, m_contacts, &m_copied, &m_skipped, error);
}

DeleteGroupCommand::DeleteGroupCommand(std::shared_ptr<WorkerConnection> connection, QString group,
                                       QObject *parent)
    : StoreCommand(std::move(connection), parent), m_group(std::move(group))
{
}

QString DeleteGroupCommand::title() const
{
    return QStringLiteral("删除分组");
}

QString DeleteGroupCommand::text() const
{
    return QStringLiteral("正在删除分组“%1”…").arg(m_group);
}

StoreResult DeleteGroupCommand::runOnStore(ContactStore &store, QString *error)
{
    return store.deleteGroup(m_group, error);
}

GroupLoadCommand::GroupLoadCommand(std::shared_ptr<WorkerConnection> connection, QString group,
                                   QString nameFilter, QString mobileFilter, ContactList storage,
                                   QObject *parent)
    : StoreCommand(std::move(connection), parent)
    , m_group(std::move(group))
    , m_nameFilter(std::move(nameFilter))
    , m_mobileFilter(std::move(mobileFilter))
    , m_contacts(std::move(storage))
{
}

QString GroupLoadCommand::title() const
{
    return QStringLiteral("读取分组");
}

QString GroupLoadCommand::text() const
{
    return QStringLiteral("正在读取分组“%1”的联系人…").arg(m_group);
}

StoreResult GroupLoadCommand::runOnStore(ContactStore &store, QString *error)
{
    return store.contacts(m_group, m_nameFilter, m_mobileFilter, &m_contacts, error);
}
