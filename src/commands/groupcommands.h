#pragma once

#include "commands/command.h"
#include "core/contact.h"

#include <QList>

#include <memory>

class ContactStore;
class WorkerConnection;
enum class StoreResult;

// A command on the contact database, through the commands' connection (see
// Command and WorkerConnection), with every statement stopping when the
// command is cancelled.
class StoreCommand : public Command
{
    Q_OBJECT

public:
    // Once finished: what the store answered (Failed when the connection
    // could not be opened, Cancelled after a cancel).
    StoreResult result() const { return m_result; }

protected:
    StoreCommand(std::shared_ptr<WorkerConnection> connection, QObject *parent);

    virtual StoreResult runOnStore(ContactStore &store, QString *error) = 0;

private:
    bool run(WorkProgress &progress, QString *error) final;

    const std::shared_ptr<WorkerConnection> m_connection;
    StoreResult m_result;
};

// 另存为分组: adds the group and copies the contacts into it in one
// transaction; a cancel rolls all of it back.
class SaveAsGroupCommand : public StoreCommand
{
    Q_OBJECT

public:
    SaveAsGroupCommand(std::shared_ptr<WorkerConnection> connection, QString group,
                       ContactList contacts,
                       QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

    const ContactList &contacts() const { return m_contacts; }
    // Once finished with success: as ContactStore::addGroupWithContacts.
    int copied() const { return m_copied; }
    const QList<qsizetype> &skipped() const { return m_skipped; }

protected:
    StoreResult runOnStore(ContactStore &store, QString *error) override;

private:
    const QString m_group;
    const ContactList m_contacts;
    int m_copied = 0;
    QList<qsizetype> m_skipped;
};

// 删除分组: removes the group and its contacts in one transaction; a cancel
// rolls all of it back.
class DeleteGroupCommand : public StoreCommand
{
    Q_OBJECT

public:
    DeleteGroupCommand(std::shared_ptr<WorkerConnection> connection, QString group,
                       QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

protected:
    StoreResult runOnStore(ContactStore &store, QString *error) override;

private:
    const QString m_group;
};

// Lists the contacts of a group that match the search filters.
class GroupLoadCommand : public StoreCommand
{
    Q_OBJECT

public:
    GroupLoadCommand(std::shared_ptr<WorkerConnection> connection, QString group,
                     QString nameFilter, QString mobileFilter, ContactList storage = ContactList(),
                     QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

    // The contacts read, once finished with success.
    ContactList takeContacts() { return std::exchange(m_contacts, ContactList()); }

protected:
    StoreResult runOnStore(ContactStore &store, QString *error) override;

private:
    const QString m_group;
    const QString m_nameFilter;
    const QString m_mobileFilter;
    ContactList m_contacts;
};
