#include "storage/contactstore.h"

#include "core/workprogress.h"
#include "storage/database.h"
#include "storage/statement.h"

#include <QStringDecoder>

#include <array>
#include <vector>

namespace {

constexpr const char *InsertContactSql =
    "INSERT INTO [通讯录] ([手机号], [姓名], [称呼], [序号], [备注], [备用1], [备用2], [备用3], [组别]) "
    "VALUES (?1, ?2, ?3, ?4, ?5, '', '', '', ?6)";

// Binds ?1 to ?6 of InsertContactSql, or of the UPDATE with the same order.
void bindContact(Statement &statement, const QString &group, const Contact &contact)
{
    statement.bind(1, contact.mobile());
    statement.bind(2, contact.name());
    statement.bind(3, contact.salutation());
    statement.bind(4, QString(group).append(contact.mobile()));
    statement.bind(5, contact.remark());
    statement.bind(6, group);
}

// Turns the four text columns of a row (mobile, name, salutation, remark, in
// that order) into a contact with one allocation: the UTF-8 of the columns is
// decoded one after another into a buffer kept from row to row, then copied
// into the contact's string of the exact size.
class ContactDecoder
{
public:
    Contact contact(const Statement &statement, int firstColumn, qint64 rowId)
    {
        constexpr int Texts = 4;
        std::array<QByteArrayView, Texts> columns;
        qsizetype space = 0;
        for (int i = 0; i < Texts; ++i) {
            columns[i] = statement.utf8(firstColumn + i);
            space += m_decoder.requiredSpace(columns[i].size());
        }
        if (qsizetype(m_buffer.size()) < space)
            m_buffer.resize(size_t(space));
        std::array<QStringView, Texts> texts;
        QChar *out = m_buffer.data();
        for (int i = 0; i < Texts; ++i) {
            // Every text on its own, as QString::fromUtf8 reads it: a leading
            // byte order mark dropped, a broken sequence not carried over.
            m_decoder.resetState();
            QChar *const start = out;
            out = m_decoder.appendToBuffer(out, columns[i]);
            texts[i] = QStringView(start, out);
        }
        return Contact(texts[0], texts[1], texts[2], texts[3], rowId);
    }

private:
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringConverter::Flag::Stateless};
    std::vector<QChar> m_buffer;
};

// Hands result back with message in error.
StoreResult report(StoreResult result, const QString &message, QString *error)
{
    if (error)
        *error = message;
    return result;
}

} // namespace

ContactStore::ContactStore(Database &database)
    : m_database(database)
{
}

QString ContactStore::databasePath() const
{
    return m_database.path();
}

void ContactStore::setProgress(WorkProgress *progress)
{
    m_progress = progress;
    // SQLite asks every so many virtual machine steps; an insert of one
    // contact takes some dozens, a delete of a big group millions.
    constexpr int stepsBetweenQuestions = 1000;
    if (!progress) {
        sqlite3_progress_handler(m_database.handle(), 0, nullptr, nullptr);
        return;
    }
    sqlite3_progress_handler(
        m_database.handle(), stepsBetweenQuestions,
        [](void *watched) {
            return static_cast<const WorkProgress *>(watched)->isCancelled() ? 1 : 0;
        },
        progress);
}

StoreResult ContactStore::runWrite(Statement &statement, QString *error)
{
    const int code = statement.step(error);
    switch (code) {
    case SQLITE_DONE:
        return StoreResult::Ok;
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
        return StoreResult::Duplicate;
    case SQLITE_CONSTRAINT_CHECK:
        return StoreResult::TooLong;
    case SQLITE_INTERRUPT:
        return report(StoreResult::Cancelled, WorkProgress::cancelledMessage(), error);
    default:
        return StoreResult::Failed;
    }
}

StoreResult ContactStore::groups(QStringList *out, QString *error)
{
    out->clear();
    Statement select(m_database.handle(), "SELECT [分组] FROM [分组] ORDER BY rowid");
    int code;
    while ((code = select.step(error)) == SQLITE_ROW)
        *out << select.text(0);
    if (code != SQLITE_DONE) {
        out->clear();
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

StoreResult ContactStore::addGroup(const QString &name, QString *error)
{
    Statement insert(m_database.handle(), "INSERT INTO [分组] ([分组]) VALUES (?)");
    insert.bind(1, name);
    return runWrite(insert, error);
}

bool ContactStore::exists(const char *sql, const QString &value, StoreResult *result,
                          QString *error)
{
    Statement select(m_database.handle(), sql);
    select.bind(1, value);
    const int code = select.step(error);
    const StoreResult outcome =
        code == SQLITE_ROW || code == SQLITE_DONE ? StoreResult::Ok : StoreResult::Failed;
    if (result)
        *result = outcome;
    return code == SQLITE_ROW;
}

bool ContactStore::groupExists(const QString &name, StoreResult *result, QString *error)
{
    return exists("SELECT 1 FROM [分组] WHERE [分组] = ? LIMIT 1", name, result, error);
}

StoreResult ContactStore::contacts(const QString &group, const QString &nameFilter,
                                   const QString &mobileFilter, ContactList *out, QString *error)
{
    out->clear();
    // The filters stay patterns: "%" and "_" typed by the user keep their
    // wildcard meaning, while quotes are plain data of the bound value.
    // An empty filter matches every row, so its LIKE is left out: on a big
    // group that test would otherwise cost more than reading the rows.
    QByteArray sql = "SELECT rowid, [手机号], [姓名], [称呼], [备注] FROM [通讯录] WHERE [组别] = ?1 ";
    if (!nameFilter.isEmpty())
        sql += "AND ifnull([姓名], '') LIKE '%' || ?2 || '%' ";
    if (!mobileFilter.isEmpty())
        sql += "AND ifnull([手机号], '') LIKE '%' || ?3 || '%' ";
    sql += "ORDER BY rowid";
    Statement select(m_database.handle(), sql.constData());
    select.bind(1, group);
    if (!nameFilter.isEmpty())
        select.bind(2, nameFilter);
    if (!mobileFilter.isEmpty())
        select.bind(3, mobileFilter);
    ContactDecoder decoder;
    int code;
    while ((code = select.step(error)) == SQLITE_ROW)
        out->append(decoder.contact(select, 1, select.int64(0)));
    if (code != SQLITE_DONE) {
        out->clear();
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

StoreResult ContactStore::holdersOf(const QString &mobile, ContactList *contacts,
                                    QStringList *groups, QString *error)
{
    contacts->clear();
    groups->clear();
    Statement select(m_database.handle(),
                     "SELECT rowid, [手机号], [姓名], [称呼], [备注], [组别] FROM [通讯录] "
                     "WHERE [手机号] = ? ORDER BY rowid");
    select.bind(1, mobile);
    ContactDecoder decoder;
    int code;
    while ((code = select.step(error)) == SQLITE_ROW) {
        contacts->append(decoder.contact(select, 1, select.int64(0)));
        groups->append(select.text(5));
    }
    if (code != SQLITE_DONE) {
        contacts->clear();
        groups->clear();
        return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

bool ContactStore::contactKeyExists(const QString &group, const QString &mobile,
                                    StoreResult *result, QString *error)
{
    return exists("SELECT 1 FROM [通讯录] WHERE [序号] = ? LIMIT 1", group + mobile, result,
                  error);
}

StoreResult ContactStore::addContact(const QString &group, Contact *contact, QString *error)
{
    Statement insert(m_database.handle(), InsertContactSql);
    bindContact(insert, group, *contact);
    const StoreResult result = runWrite(insert, error);
    if (result == StoreResult::Ok)
        contact->rowId = sqlite3_last_insert_rowid(m_database.handle());
    return result;
}

StoreResult ContactStore::updateContact(qint64 rowId, const QString &group, const Contact &contact,
                                       const std::optional<QString> &loadedMobile,
                                       QString *error)
{
    if (rowId <= 0)
        return StoreResult::NotFound;
    Statement update(m_database.handle(),
                     "UPDATE [通讯录] SET [手机号] = ?1, [姓名] = ?2, [称呼] = ?3, [序号] = ?4, "
                     "[备注] = ?5, [备用1] = '', [备用2] = '', [备用3] = '', [组别] = ?6 "
                     "WHERE rowid = ?7 AND (?8 IS NULL OR ifnull([手机号], '') = ?8)");
    bindContact(update, group, contact);
    update.bind(7, rowId);
    if (loadedMobile)
        update.bind(8, *loadedMobile);
    const StoreResult result = runWrite(update, error);
    if (result == StoreResult::Ok && sqlite3_changes(m_database.handle()) == 0)
        return StoreResult::NotFound;
    return result;
}

StoreResult ContactStore::deleteContact(qint64 rowId, QString *error)
{
    if (rowId <= 0)
        return StoreResult::NotFound;
    Statement remove(m_database.handle(), "DELETE FROM [通讯录] WHERE rowid = ?");
    remove.bind(1, rowId);
    const StoreResult result = runWrite(remove, error);
    if (result == StoreResult::Ok && sqlite3_changes(m_database.handle()) == 0)
        return StoreResult::NotFound;
    return result;
}

StoreResult ContactStore::addGroupWithContacts(const QString &name, const ContactList &contacts,
                                               int *copied, QList<qsizetype> *skipped,
                                               QString *error)
{
    if (copied)
        *copied = 0;
    QList<qsizetype> leftOut;
    Transaction transaction(m_database, error);
    if (!transaction.isActive())
        return StoreResult::Failed;

    const StoreResult groupAdded = addGroup(name, error);
    if (groupAdded != StoreResult::Ok)
        return groupAdded;

    Statement insert(m_database.handle(), InsertContactSql);
    int written = 0;
    constexpr qsizetype rowsPerReport = 1024;
    if (m_progress)
        m_progress->setTotal(contacts.size());
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        if (m_progress && i % rowsPerReport == 0 && !m_progress->advance(i))
            return report(StoreResult::Cancelled, WorkProgress::cancelledMessage(), error);
        bindContact(insert, name, contacts.at(i));
        QString rowError;
        const StoreResult result = runWrite(insert, &rowError);
        insert.reset();
        // The key is there already, or a text does not fit its column:
        // this one contact is left out, the others are still copied.
        if (result == StoreResult::Duplicate || result == StoreResult::TooLong) {
            leftOut.append(i);
            continue;
        }
        if (result != StoreResult::Ok)
            return report(result, rowError, error);
        ++written;
    }
    if (!transaction.commit(error))
        return StoreResult::Failed;
    if (copied)
        *copied = written;
    if (skipped)
        *skipped = std::move(leftOut);
    return StoreResult::Ok;
}

StoreResult ContactStore::deleteGroup(const QString &name, QString *error)
{
    Transaction transaction(m_database, error);
    if (!transaction.isActive())
        return StoreResult::Failed;

    Statement contacts(m_database.handle(), "DELETE FROM [通讯录] WHERE [组别] = ?");
    contacts.bind(1, name);
    StoreResult result = runWrite(contacts, error);
    if (result != StoreResult::Ok)
        return result;

    Statement group(m_database.handle(), "DELETE FROM [分组] WHERE [分组] = ?");
    group.bind(1, name);
    result = runWrite(group, error);
    if (result != StoreResult::Ok)
        return result;
    if (sqlite3_changes(m_database.handle()) == 0)
        return StoreResult::NotFound;

    if (!transaction.commit(error))
        return StoreResult::Failed;
    return StoreResult::Ok;
}

StoreResult ContactStore::smsText(QString *out, QString *error)
{
    out->clear();
    Statement select(m_database.handle(),
                     "SELECT [短信内容] FROM [短信] ORDER BY rowid LIMIT 1");
    const int code = select.step(error);
    if (code == SQLITE_ROW) {
        *out = select.text(0);
        return StoreResult::Ok;
    }
    if (code == SQLITE_DONE)
        return StoreResult::NotFound;
    return StoreResult::Failed;
}

StoreResult ContactStore::setSmsText(const QString &text, QString *error)
{
    Statement update(m_database.handle(),
                     "UPDATE [短信] SET [短信内容] = ? "
                     "WHERE rowid = (SELECT min(rowid) FROM [短信])");
    update.bind(1, text);
    const StoreResult result = runWrite(update, error);
    if (result == StoreResult::Ok && sqlite3_changes(m_database.handle()) == 0)
        return StoreResult::NotFound;
    return result;
}
