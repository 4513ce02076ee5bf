#pragma once

#include "core/contact.h"

#include <QString>
#include <QStringList>

#include <optional>

class Database;
class Statement;
class WorkProgress;

// Outcome of a store operation. Everything but Ok leaves the file unchanged.
// Every operation takes QString *error last (may be null): on Failed,
// Duplicate and TooLong it receives the database's message.
enum class StoreResult {
    Ok,
    Duplicate, // a second equal contact key (序号) or group name (分组)
    TooLong,   // a value longer than its column allows
    NotFound,  // the row to change or delete is gone
    Failed,    // the database could not run the statement
    Cancelled, // the work was cancelled through the store's progress
};

// Every statement the program runs against the contact database. Values are
// always bound parameters; lists come back in insertion order.
class ContactStore
{
public:
    explicit ContactStore(Database &database);

    // The file the store's connection has open.
    QString databasePath() const;

    // From now on every statement stops as soon as progress is cancelled
    // (the operation then answers Cancelled and rolls back what it started),
    // and addGroupWithContacts reports the contacts done. For a store that
    // does long work on a worker thread; nullptr switches it off.
    void setProgress(WorkProgress *progress);

    // Groups in stored order.
    StoreResult groups(QStringList *out, QString *error = nullptr);
    StoreResult addGroup(const QString &name, QString *error = nullptr);
    // Existence tests answer false when the question could not be asked;
    // result (when given) then holds Failed, else Ok.
    bool groupExists(const QString &name, StoreResult *result = nullptr,
                     QString *error = nullptr);

    // Contacts of one group whose name and mobile contain the filters
    // ("%" and "_" inside a filter keep acting as wildcards; ASCII letters
    // match regardless of case). Every contact comes back ticked and carries
    // its row identity; a Null column reads as "" and an empty filter
    // matches it. On failure out is empty.
    StoreResult contacts(const QString &group, const QString &nameFilter,
                         const QString &mobileFilter, ContactList *out, QString *error = nullptr);

    // Is "group + mobile" already a contact key?
    bool contactKeyExists(const QString &group, const QString &mobile,
                          StoreResult *result = nullptr, QString *error = nullptr);

    // Writes a contact into a group: key = group + mobile, reserved columns
    // empty. On success contact->rowId receives the new row identity.
    StoreResult addContact(const QString &group, Contact *contact, QString *error = nullptr);
    // Rewrites the stored contact rowId (group, key and reserved columns too;
    // 选项 keeps its value).
    // With loadedMobile the row must still hold that mobile: row numbers of
    // deleted rows are given out again, so an editor left open over a deleted
    // contact must not overwrite the newcomer (NotFound then).
    StoreResult updateContact(qint64 rowId, const QString &group, const Contact &contact,
                              const std::optional<QString> &loadedMobile = std::nullopt,
                              QString *error = nullptr);
    StoreResult deleteContact(qint64 rowId, QString *error = nullptr);

    // Adds the group and copies the given contacts into it, in one
    // transaction. A contact whose key the new group already holds (the same
    // mobile twice) or with a text longer than its column is skipped, and its
    // position in contacts goes to skipped; any other failure writes nothing
    // at all.
    StoreResult addGroupWithContacts(const QString &name, const ContactList &contacts,
                                     int *copied = nullptr, QList<qsizetype> *skipped = nullptr,
                                     QString *error = nullptr);

    // The contacts whose mobile is exactly this text, with the group of each
    // (groups[i] holds contacts[i]), in stored order.
    StoreResult holdersOf(const QString &mobile, ContactList *contacts, QStringList *groups,
                          QString *error = nullptr);

    // Removes every contact of the group and the group row, in one transaction.
    StoreResult deleteGroup(const QString &name, QString *error = nullptr);

    // The text of the one 短信 row; NotFound when the table has no row.
    StoreResult smsText(QString *out, QString *error = nullptr);
    StoreResult setSmsText(const QString &text, QString *error = nullptr);

    // The connection, for stores of the newer tables that share it.
    Database &database() const { return m_database; }

private:
    // Runs a one-parameter existence query.
    bool exists(const char *sql, const QString &value, StoreResult *result, QString *error);
    // Runs a write statement and maps the result.
    StoreResult runWrite(Statement &statement, QString *error);

    Database &m_database;
    WorkProgress *m_progress = nullptr;
};
