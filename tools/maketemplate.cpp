// Builds the database template that the program carries as a resource: an
// encrypted database with the schema and the initial groups, contacts and the
// empty SMS text. Usage: lanzhou_make_template <output file>
// The output is replaced; it appears only when it is complete and checked.

#include "storage/contactstore.h"
#include "storage/database.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdio>

namespace {

struct InitialContact
{
    const char *group;
    const char *mobile;
    const char *name;
    const char *salutation;
    const char *remark;
};

constexpr const char *InitialGroups[] = {"客户", "同事"};

constexpr InitialContact InitialContacts[] = {
    {"客户", "13958700001", "张三", "先生", "房间001号"},
    {"客户", "13958700002", "李四", "女士", "房间002号"},
    {"同事", "13958700003", "王五", "", ""},
};

int fail(const QString &message)
{
    std::fprintf(stderr, "lanzhou_make_template: %s\n", message.toLocal8Bit().constData());
    return 1;
}

bool fill(Database &database, QString *error)
{
    ContactStore store(database);
    for (const char *group : InitialGroups) {
        if (store.addGroup(QString::fromUtf8(group), error) != StoreResult::Ok) {
            return false;
        }
    }
    for (const InitialContact &row : InitialContacts) {
        Contact contact(QString::fromUtf8(row.mobile), QString::fromUtf8(row.name),
                        QString::fromUtf8(row.salutation), QString::fromUtf8(row.remark));
        if (store.addContact(QString::fromUtf8(row.group), &contact, error) != StoreResult::Ok) {
            return false;
        }
    }
    return true;
}

// Reads the finished file back the way the program will.
bool check(const QString &path, QString *error)
{
    Database database;
    if (database.open(path, Database::Access::ReadWrite, error) != Database::OpenResult::Ok)
        return false;
    ContactStore store(database);
    QStringList groups;
    QString sms;
    int contacts = 0;
    for (const char *group : InitialGroups) {
        ContactList list;
        store.contacts(QString::fromUtf8(group), QString(), QString(), &list);
        contacts += list.size();
    }
    if (store.groups(&groups) != StoreResult::Ok || groups.size() != qsizetype(std::size(InitialGroups))
        || contacts != int(std::size(InitialContacts)) || store.smsText(&sms) != StoreResult::Ok
        || !sms.isEmpty()) {
        *error = QStringLiteral("the new template does not hold the initial rows");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return fail(QStringLiteral("usage: lanzhou_make_template <output file>"));
    const QString output = QFileInfo(QFile::decodeName(argv[1])).absoluteFilePath();
    const QString building = output + QStringLiteral(".building");
    QFile::remove(building);
    QFile::remove(building + QStringLiteral("-journal"));

    QString error;
    {
        Database database;
        if (database.create(building, &error) != Database::OpenResult::Ok)
            return fail(error);
        const bool filled = fill(database, &error);
        database.close();
        if (!filled) {
            QFile::remove(building);
            return fail(error);
        }
    }
    if (!check(building, &error)) {
        QFile::remove(building);
        return fail(error);
    }
    QFile::remove(output);
    if (!QFile::rename(building, output)) {
        QFile::remove(building);
        return fail(QStringLiteral("cannot write ") + output);
    }
    return 0;
}
