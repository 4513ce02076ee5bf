#include "storage/contactstore.h"
#include "storage/database.h"
#include "storage/statement.h"
#include "storage/template/databasetemplate.h"

#include "support/testsupport.h"
#include "support/writefault.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(StoreResult)

namespace {

using TestSupport::makeContact;

QStringList names(const ContactList &contacts)
{
    QStringList out;
    for (const Contact &contact : contacts)
        out << contact.name().toString();
    return out;
}

} // namespace

// Every test runs on a fresh copy of the built-in template.
class TestContactStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void templateHoldsTheInitialRows();
    void groupsAreAddedInOrderAndUnique();
    void contactKeyIsUnique();
    void overLongValuesAreRefused_data();
    void overLongValuesAreRefused();
    void quotesAndWildcardsAreData();
    void filters_data();
    void filters();
    void nullColumnsReadAsEmpty();
    void listingKeepsInsertionOrderAfterUpdates();
    void updateActsOnTheIdentity();
    void deleteActsOnTheIdentity();
    void deleteGroupRemovesOnlyItsContacts();
    void saveAsCopySkipsWhatDoesNotFit();
    void saveAsCopyIsAllOrNothing_data();
    void saveAsCopyIsAllOrNothing();
    void injectedFailureHitsOneWrite();
    void smsTextRoundTripsAndStaysOneRow();
    void closedDatabaseFailsCleanly();
    void replacedTableFailsWithItsReason();

private:
    qint64 count(const char *sql);
    QString value(const char *sql);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<ContactStore> m_store;
};

void TestContactStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(QStringLiteral("通讯录.dat"));
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(path), DatabaseTemplate::EnsureResult::Created);
    m_database = std::make_unique<Database>();
    QString error;
    QVERIFY2(m_database->open(path, Database::Access::ReadWrite, &error) == Database::OpenResult::Ok,
             qPrintable(error));
    m_store = std::make_unique<ContactStore>(*m_database);
}

void TestContactStore::cleanup()
{
    m_store.reset();
    m_database.reset();
    m_dir.reset();
}

qint64 TestContactStore::count(const char *sql)
{
    Statement statement(m_database->handle(), sql);
    return statement.step() == SQLITE_ROW ? statement.int64(0) : -1;
}

QString TestContactStore::value(const char *sql)
{
    Statement statement(m_database->handle(), sql);
    return statement.step() == SQLITE_ROW ? statement.text(0) : QStringLiteral("<no row>");
}

void TestContactStore::templateHoldsTheInitialRows()
{
    QStringList groups;
    QCOMPARE(m_store->groups(&groups), StoreResult::Ok);
    QCOMPARE(groups, (QStringList{QStringLiteral("客户"), QStringLiteral("同事")}));

    ContactList customers;
    QCOMPARE(m_store->contacts(QStringLiteral("客户"), {}, {}, &customers), StoreResult::Ok);
    QCOMPARE(customers.size(), 2);
    QCOMPARE(customers[0].mobile(), QStringLiteral("13958700001"));
    QCOMPARE(customers[0].name(), QStringLiteral("张三"));
    QCOMPARE(customers[0].salutation(), QStringLiteral("先生"));
    QCOMPARE(customers[0].remark(), QStringLiteral("房间001号"));
    QVERIFY(customers[0].ticked);
    QVERIFY(customers[0].isStored());
    QCOMPARE(customers[1].mobile(), QStringLiteral("13958700002"));
    QCOMPARE(customers[1].name(), QStringLiteral("李四"));
    QCOMPARE(customers[1].salutation(), QStringLiteral("女士"));
    QCOMPARE(customers[1].remark(), QStringLiteral("房间002号"));

    ContactList colleagues;
    QCOMPARE(m_store->contacts(QStringLiteral("同事"), {}, {}, &colleagues), StoreResult::Ok);
    QCOMPARE(colleagues.size(), 1);
    QCOMPARE(colleagues[0].mobile(), QStringLiteral("13958700003"));
    QCOMPARE(colleagues[0].name(), QStringLiteral("王五"));
    QCOMPARE(colleagues[0].salutation(), QString());
    QCOMPARE(colleagues[0].remark(), QString());

    // Keys, reserved columns and 选项 as stored.
    QCOMPARE(count("SELECT count(*) FROM [通讯录]"), 3);
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [序号] = [组别] || [手机号]"), 3);
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [备用1] = '' AND [备用2] = '' "
                   "AND [备用3] = '' AND [选项] IS NULL"),
             3);
    QCOMPARE(value("SELECT [序号] FROM [通讯录] ORDER BY rowid"), QStringLiteral("客户13958700001"));
    QCOMPARE(count("SELECT count(*) FROM [短信] WHERE [短信内容] = '' AND [备用1] IS NULL"), 1);
    QCOMPARE(count("SELECT count(*) FROM [短信]"), 1);
}

void TestContactStore::groupsAreAddedInOrderAndUnique()
{
    QCOMPARE(m_store->addGroup(QStringLiteral("供应商")), StoreResult::Ok);
    QCOMPARE(m_store->addGroup(QStringLiteral("A组")), StoreResult::Ok);
    QCOMPARE(m_store->addGroup(QStringLiteral("客户")), StoreResult::Duplicate);
    QVERIFY(m_store->groupExists(QStringLiteral("供应商")));
    QVERIFY(!m_store->groupExists(QStringLiteral("供应")));

    QStringList groups;
    QCOMPARE(m_store->groups(&groups), StoreResult::Ok);
    QCOMPARE(groups, (QStringList{QStringLiteral("客户"), QStringLiteral("同事"),
                                  QStringLiteral("供应商"), QStringLiteral("A组")}));
}

void TestContactStore::contactKeyIsUnique()
{
    Contact again = makeContact(QStringLiteral("13958700001"), QStringLiteral("张三二"));
    QCOMPARE(m_store->addContact(QStringLiteral("客户"), &again), StoreResult::Duplicate);
    QCOMPARE(again.rowId, 0);
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [序号] = '客户13958700001'"), 1);
    QVERIFY(m_store->contactKeyExists(QStringLiteral("客户"), QStringLiteral("13958700001")));
    QVERIFY(!m_store->contactKeyExists(QStringLiteral("同事"), QStringLiteral("13958700001")));

    // The same number in another group is another key.
    Contact other = makeContact(QStringLiteral("13958700001"), QStringLiteral("张三"));
    QCOMPARE(m_store->addContact(QStringLiteral("同事"), &other), StoreResult::Ok);
    QVERIFY(other.rowId > 0);
    QCOMPARE(value("SELECT [序号] FROM [通讯录] ORDER BY rowid DESC"),
             QStringLiteral("同事13958700001"));
}

void TestContactStore::overLongValuesAreRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("length");
    QTest::addColumn<StoreResult>("expected");
    QTest::newRow("name 50 Chinese characters") << "name" << 50 << StoreResult::Ok;
    QTest::newRow("name 51") << "name" << 51 << StoreResult::TooLong;
    QTest::newRow("salutation 51") << "salutation" << 51 << StoreResult::TooLong;
    QTest::newRow("remark 100") << "remark" << 100 << StoreResult::Ok;
    QTest::newRow("remark 101") << "remark" << 101 << StoreResult::TooLong;
    QTest::newRow("mobile 39, key 41") << "mobile" << 39 << StoreResult::Ok;
    QTest::newRow("mobile 49, key 51") << "mobile" << 49 << StoreResult::TooLong;
    QTest::newRow("group 50") << "group" << 50 << StoreResult::Ok;
    QTest::newRow("group 51") << "group" << 51 << StoreResult::TooLong;
}

void TestContactStore::overLongValuesAreRefused()
{
    QFETCH(QString, field);
    QFETCH(int, length);
    QFETCH(StoreResult, expected);
    const QString text(length, QChar(0x957F)); // 长
    const qint64 before = count("SELECT count(*) FROM [通讯录]");

    if (field == QLatin1String("group")) {
        QCOMPARE(m_store->addGroup(text), expected);
        QCOMPARE(m_store->groupExists(text), expected == StoreResult::Ok);
        return;
    }
    Contact contact = makeContact(QStringLiteral("13900000000"), QStringLiteral("某人"));
    if (field == QLatin1String("name"))
        contact.setName(text);
    else if (field == QLatin1String("salutation"))
        contact.setSalutation(text);
    else if (field == QLatin1String("remark"))
        contact.setRemark(text);
    else
        contact.setMobile(text);
    QCOMPARE(m_store->addContact(QStringLiteral("客户"), &contact), expected);
    QCOMPARE(count("SELECT count(*) FROM [通讯录]"), before + (expected == StoreResult::Ok ? 1 : 0));

    // The same value refused in an update leaves the row as it was.
    ContactList list;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &list);
    Contact changed = list.first();
    if (field == QLatin1String("name"))
        changed.setName(text);
    else if (field == QLatin1String("remark"))
        changed.setRemark(text);
    else
        return;
    QCOMPARE(m_store->updateContact(changed.rowId, QStringLiteral("客户"), changed), expected);
    if (expected != StoreResult::Ok) {
        ContactList after;
        m_store->contacts(QStringLiteral("客户"), {}, {}, &after);
        QCOMPARE(after.first(), list.first());
    }
}

void TestContactStore::quotesAndWildcardsAreData()
{
    const QString group = QStringLiteral("O'Brien 的 100%_组 [x]");
    QCOMPARE(m_store->addGroup(group), StoreResult::Ok);
    QVERIFY(m_store->groupExists(group));
    QVERIFY(!m_store->groupExists(QStringLiteral("O'Brien 的 100%")));

    Contact contact = makeContact(QStringLiteral("139'0%_0001"), QStringLiteral("D'Arcy \"李\" 50%_off"),
                                  QStringLiteral("先生'"), QStringLiteral("备注 ' ; -- \\ %"));
    QCOMPARE(m_store->addContact(group, &contact), StoreResult::Ok);
    QVERIFY(m_store->contactKeyExists(group, contact.mobile().toString()));

    ContactList list;
    QCOMPARE(m_store->contacts(group, {}, {}, &list), StoreResult::Ok);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0], contact);

    // An apostrophe in a filter is just a character.
    QCOMPARE(m_store->contacts(group, QStringLiteral("D'Arcy"), QStringLiteral("139'"), &list),
             StoreResult::Ok);
    QCOMPARE(list.size(), 1);

    QCOMPARE(m_store->deleteGroup(group), StoreResult::Ok);
    QVERIFY(!m_store->groupExists(group));
}

void TestContactStore::filters_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("nameFilter");
    QTest::addColumn<QString>("mobileFilter");
    QTest::addColumn<QStringList>("expected");
    const QString customers = QStringLiteral("客户");
    const QString colleagues = QStringLiteral("同事");
    const QString patterns = QStringLiteral("样式");
    QTest::newRow("whole group") << customers << "" << "" << QStringList{"张三", "李四"};
    QTest::newRow("name part") << customers << "李" << "" << QStringList{"李四"};
    QTest::newRow("mobile end in 同事") << colleagues << "" << "0003" << QStringList{"王五"};
    QTest::newRow("mobile end in 客户") << customers << "" << "0003" << QStringList{};
    QTest::newRow("both filters") << customers << "三" << "0001" << QStringList{"张三"};
    QTest::newRow("both filters, no match") << customers << "三" << "0002" << QStringList{};
    QTest::newRow("group is matched whole") << "客" << "" << "" << QStringList{};
    QTest::newRow("unknown group") << "" << "" << "" << QStringList{};
    QTest::newRow("_ needs one character") << patterns << "_" << "" << QStringList{"a_b", "axb", "A%B", "ab", "c d"};
    QTest::newRow("a_b matches axb too") << patterns << "a_b" << "" << QStringList{"a_b", "axb", "A%B"};
    QTest::newRow("% is any run") << patterns << "a%b" << "" << QStringList{"a_b", "axb", "A%B", "ab"};
    QTest::newRow("ASCII ignores case") << patterns << "AX" << "" << QStringList{"axb"};
    QTest::newRow("blank inside kept") << patterns << "c d" << "" << QStringList{"c d"};
    QTest::newRow("mobile wildcard") << patterns << "" << "1_3" << QStringList{"a_b", "axb"};
}

void TestContactStore::filters()
{
    QFETCH(QString, group);
    QFETCH(QString, nameFilter);
    QFETCH(QString, mobileFilter);
    QFETCH(QStringList, expected);

    const QString patterns = QStringLiteral("样式");
    const char *rows[][2] = {{"a_b", "123"}, {"axb", "1x3"}, {"A%B", "456"}, {"ab", "789"},
                             {"c d", "000"}, {"", "111"}};
    for (const auto &row : rows) {
        Contact contact = makeContact(QString::fromUtf8(row[1]), QString::fromUtf8(row[0]));
        QCOMPARE(m_store->addContact(patterns, &contact), StoreResult::Ok);
    }

    ContactList list;
    QCOMPARE(m_store->contacts(group, nameFilter, mobileFilter, &list), StoreResult::Ok);
    QCOMPARE(names(list), expected);
}

void TestContactStore::nullColumnsReadAsEmpty()
{
    QVERIFY(m_database->execute("INSERT INTO [通讯录] ([组别], [序号]) VALUES ('客户', 'k')"));
    ContactList list;
    QCOMPARE(m_store->contacts(QStringLiteral("客户"), {}, {}, &list), StoreResult::Ok);
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[2].mobile(), QString());
    QCOMPARE(list[2].name(), QString());
    QCOMPARE(list[2].salutation(), QString());
    QCOMPARE(list[2].remark(), QString());
    QVERIFY(list[2].rowId > 0);
}

void TestContactStore::listingKeepsInsertionOrderAfterUpdates()
{
    // Keys and names that sort against their insertion order.
    const QString group = QStringLiteral("排序");
    QList<Contact> added;
    for (const char *mobile : {"3", "1", "2"}) {
        Contact contact = makeContact(QString::fromUtf8(mobile), QStringLiteral("号") + QString::fromUtf8(mobile));
        QCOMPARE(m_store->addContact(group, &contact), StoreResult::Ok);
        added << contact;
    }
    Contact first = added[0];
    first.setMobile(QStringLiteral("0"));
    first.setName(QStringLiteral("号0"));
    QCOMPARE(m_store->updateContact(first.rowId, group, first), StoreResult::Ok);

    ContactList list;
    QCOMPARE(m_store->contacts(group, {}, {}, &list), StoreResult::Ok);
    QCOMPARE(names(list), (QStringList{"号0", "号1", "号2"}));
    QCOMPARE(list[0].rowId, added[0].rowId);
    QCOMPARE(list[1].rowId, added[1].rowId);
}

void TestContactStore::updateActsOnTheIdentity()
{
    ContactList list;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &list);
    QVERIFY(m_database->execute("UPDATE [通讯录] SET [选项] = 'x'"));

    Contact li = list[1];
    li.setMobile(QStringLiteral("13900000009"));
    li.setName(QStringLiteral("李四改"));
    li.setSalutation(QStringLiteral("老师"));
    li.setRemark(QStringLiteral("新备注"));
    QCOMPARE(m_store->updateContact(li.rowId, QStringLiteral("客户"), li), StoreResult::Ok);

    ContactList after;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &after);
    QCOMPARE(after.size(), 2);
    QCOMPARE(after[0], list[0]);
    QCOMPARE(after[1], li);
    QVERIFY(m_store->contactKeyExists(QStringLiteral("客户"), QStringLiteral("13900000009")));
    QVERIFY(!m_store->contactKeyExists(QStringLiteral("客户"), QStringLiteral("13958700002")));
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [选项] = 'x'"), 3);

    // Into another group: group and key follow.
    QCOMPARE(m_store->updateContact(li.rowId, QStringLiteral("同事"), li), StoreResult::Ok);
    QVERIFY(m_store->contactKeyExists(QStringLiteral("同事"), QStringLiteral("13900000009")));

    // A key another row holds is refused; a missing row is reported.
    Contact clash = list[0];
    clash.setMobile(QStringLiteral("13958700003"));
    QCOMPARE(m_store->updateContact(clash.rowId, QStringLiteral("同事"), clash), StoreResult::Duplicate);
    QCOMPARE(m_store->updateContact(999, QStringLiteral("客户"), li), StoreResult::NotFound);
    QCOMPARE(m_store->updateContact(-1, QStringLiteral("客户"), li), StoreResult::NotFound);

    // A row number given out again after a delete does not take an edit
    // meant for the deleted contact.
    Contact last = makeContact(QStringLiteral("13900000077"), QStringLiteral("末位"));
    QCOMPARE(m_store->addContact(QStringLiteral("客户"), &last), StoreResult::Ok);
    QCOMPARE(m_store->deleteContact(last.rowId), StoreResult::Ok);
    Contact newcomer = makeContact(QStringLiteral("13900000088"), QStringLiteral("新人"));
    QCOMPARE(m_store->addContact(QStringLiteral("客户"), &newcomer), StoreResult::Ok);
    QCOMPARE(newcomer.rowId, last.rowId);
    Contact stale = last;
    stale.setName(QStringLiteral("旧编辑"));
    QCOMPARE(m_store->updateContact(stale.rowId, QStringLiteral("客户"), stale, last.mobile().toString()),
             StoreResult::NotFound);
    QVERIFY(m_store->contactKeyExists(QStringLiteral("客户"), QStringLiteral("13900000088")));
}

void TestContactStore::deleteActsOnTheIdentity()
{
    ContactList list;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &list);
    QCOMPARE(m_store->deleteContact(list[0].rowId), StoreResult::Ok);
    QCOMPARE(m_store->deleteContact(list[0].rowId), StoreResult::NotFound);
    QCOMPARE(m_store->deleteContact(0), StoreResult::NotFound);

    ContactList after;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &after);
    QCOMPARE(after, ContactList{list[1]});
}

void TestContactStore::deleteGroupRemovesOnlyItsContacts()
{
    // A group whose name begins like another one keeps its contacts.
    Contact similar = makeContact(QStringLiteral("13900000001"), QStringLiteral("赵六"));
    QCOMPARE(m_store->addContact(QStringLiteral("客户2"), &similar), StoreResult::Ok);

    QCOMPARE(m_store->deleteGroup(QStringLiteral("客户")), StoreResult::Ok);
    QStringList groups;
    m_store->groups(&groups);
    QCOMPARE(groups, QStringList{QStringLiteral("同事")});
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [组别] = '客户'"), 0);
    QCOMPARE(count("SELECT count(*) FROM [通讯录]"), 2);
    ContactList colleagues;
    m_store->contacts(QStringLiteral("同事"), {}, {}, &colleagues);
    QCOMPARE(names(colleagues), QStringList{QStringLiteral("王五")});

    // A group that is not there: nothing changes.
    QCOMPARE(m_store->deleteGroup(QStringLiteral("客户2")), StoreResult::NotFound);
    QCOMPARE(count("SELECT count(*) FROM [通讯录]"), 2);

    QCOMPARE(m_store->deleteGroup(QStringLiteral("同事")), StoreResult::Ok);
    m_store->groups(&groups);
    QVERIFY(groups.isEmpty());
}

void TestContactStore::saveAsCopySkipsWhatDoesNotFit()
{
    ContactList source;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &source);
    source << source[0]; // the same mobile twice
    source << makeContact(QStringLiteral("13600000000"), QStringLiteral("长备注"), {},
                          QString(101, QLatin1Char('x')));
    source << makeContact(QStringLiteral("13700000000"), QStringLiteral("新人"), {}, QStringLiteral("R"));

    int copied = -1;
    QList<qsizetype> skipped;
    QCOMPARE(m_store->addGroupWithContacts(QStringLiteral("重点客户"), source, &copied, &skipped),
             StoreResult::Ok);
    QCOMPARE(copied, 3);
    QCOMPARE(skipped, (QList<qsizetype>{2, 3}));
    ContactList copies;
    m_store->contacts(QStringLiteral("重点客户"), {}, {}, &copies);
    QCOMPARE(names(copies), (QStringList{"张三", "李四", "新人"}));
    QCOMPARE(copies[2].remark(), QStringLiteral("R"));
    QVERIFY(copies[0].rowId != source[0].rowId);
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [组别] = '重点客户' "
                   "AND [序号] = '重点客户' || [手机号] AND [备用1] = '' AND [选项] IS NULL"),
             3);

    // An existing name copies nothing.
    QCOMPARE(m_store->addGroupWithContacts(QStringLiteral("客户"), source, &copied), StoreResult::Duplicate);
    QCOMPARE(copied, 0);
    QCOMPARE(count("SELECT count(*) FROM [通讯录]"), 6);

    // No contact: an empty group.
    QCOMPARE(m_store->addGroupWithContacts(QStringLiteral("空"), {}, &copied), StoreResult::Ok);
    QCOMPARE(copied, 0);
    QVERIFY(m_store->groupExists(QStringLiteral("空")));
}

void TestContactStore::saveAsCopyIsAllOrNothing_data()
{
    QTest::addColumn<int>("failingWrite");
    QTest::addColumn<StoreResult>("expected");
    QTest::newRow("group row fails") << 1 << StoreResult::Failed;
    QTest::newRow("first contact fails") << 2 << StoreResult::Failed;
    QTest::newRow("last contact fails") << 4 << StoreResult::Failed;
}

void TestContactStore::saveAsCopyIsAllOrNothing()
{
    QFETCH(int, failingWrite);
    QFETCH(StoreResult, expected);

    ContactList source;
    m_store->contacts(QStringLiteral("客户"), {}, {}, &source);
    source << makeContact(QStringLiteral("13700000000"), QStringLiteral("新人"));
    WriteFault fault(m_database->handle());
    QVERIFY(fault.isInstalled());
    fault.failNthRow(failingWrite);

    int copied = -1;
    QCOMPARE(m_store->addGroupWithContacts(QStringLiteral("重点客户"), source, &copied), expected);
    QCOMPARE(copied, 0);
    QVERIFY(!m_store->groupExists(QStringLiteral("重点客户")));
    QCOMPARE(count("SELECT count(*) FROM [通讯录]"), 3);
    QCOMPARE(count("SELECT count(*) FROM [分组]"), 2);
    QVERIFY(sqlite3_get_autocommit(m_database->handle()));

    // The store goes on working afterwards.
    QCOMPARE(m_store->addGroupWithContacts(QStringLiteral("重点客户"), source.mid(0, 2), &copied),
             StoreResult::Ok);
    QCOMPARE(copied, 2);
}

void TestContactStore::injectedFailureHitsOneWrite()
{
    WriteFault fault(m_database->handle());
    QVERIFY(fault.isInstalled());
    fault.failNthRow(2);
    Contact first = makeContact(QStringLiteral("1"), QStringLiteral("一"));
    Contact second = makeContact(QStringLiteral("2"), QStringLiteral("二"));
    Contact third = makeContact(QStringLiteral("3"), QStringLiteral("三"));
    QCOMPARE(m_store->addContact(QStringLiteral("同事"), &first), StoreResult::Ok);
    QString error;
    QCOMPARE(m_store->addContact(QStringLiteral("同事"), &second, &error), StoreResult::Failed);
    QVERIFY(!error.isEmpty());
    QCOMPARE(m_store->addContact(QStringLiteral("同事"), &third), StoreResult::Ok);
    ContactList list;
    m_store->contacts(QStringLiteral("同事"), {}, {}, &list);
    QCOMPARE(names(list), (QStringList{"王五", "一", "三"}));

    fault.failNthRow(1);
    QCOMPARE(m_store->deleteGroup(QStringLiteral("同事")), StoreResult::Failed);
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [组别] = '同事'"), 3);
    fault.failNthRow(4); // the group row, after its three contacts
    QCOMPARE(m_store->deleteGroup(QStringLiteral("同事")), StoreResult::Failed);
    QCOMPARE(count("SELECT count(*) FROM [通讯录] WHERE [组别] = '同事'"), 3);
    QVERIFY(m_store->groupExists(QStringLiteral("同事")));
}

void TestContactStore::smsTextRoundTripsAndStaysOneRow()
{
    QString text;
    QCOMPARE(m_store->smsText(&text), StoreResult::Ok);
    QCOMPARE(text, QString());

    const QString sms = QStringLiteral("第一行\r\n第二行 It's 100%_done\n\n") + QString(5000, QChar(0x5B57));
    QCOMPARE(m_store->setSmsText(sms), StoreResult::Ok);
    QCOMPARE(m_store->smsText(&text), StoreResult::Ok);
    QCOMPARE(text, sms);
    QCOMPARE(count("SELECT count(*) FROM [短信]"), 1);
    QCOMPARE(count("SELECT count(*) FROM [短信] WHERE [备用1] IS NULL"), 1);

    // The table refuses a second row and losing its row.
    QVERIFY(!m_database->execute("INSERT INTO [短信] VALUES ('x', NULL)"));
    QVERIFY(!m_database->execute("DELETE FROM [短信]"));
    QCOMPARE(count("SELECT count(*) FROM [短信]"), 1);
}

void TestContactStore::closedDatabaseFailsCleanly()
{
    m_database->close();
    QStringList groups{QStringLiteral("old")};
    QCOMPARE(m_store->groups(&groups), StoreResult::Failed);
    QVERIFY(groups.isEmpty());
    ContactList list{Contact()};
    QCOMPARE(m_store->contacts(QStringLiteral("客户"), {}, {}, &list), StoreResult::Failed);
    QVERIFY(list.isEmpty());
    StoreResult result = StoreResult::Ok;
    QVERIFY(!m_store->groupExists(QStringLiteral("客户"), &result));
    QCOMPARE(result, StoreResult::Failed);
    Contact contact = makeContact(QStringLiteral("1"), QStringLiteral("一"));
    QCOMPARE(m_store->addContact(QStringLiteral("客户"), &contact), StoreResult::Failed);
    QCOMPARE(m_store->addGroupWithContacts(QStringLiteral("新"), {contact}), StoreResult::Failed);
    QString error;
    QCOMPARE(m_store->setSmsText(QStringLiteral("x"), &error), StoreResult::Failed);
    QVERIFY(!error.isEmpty());
}

// A contact table replaced (by hand, another tool) by one with other columns
// while the program runs: each operation fails and says why, nothing crashes.
void TestContactStore::replacedTableFailsWithItsReason()
{
    QString error;
    QVERIFY2(m_database->execute("DROP TABLE [通讯录]; "
                                 "CREATE TABLE [通讯录] ([手机号] TEXT, [组别] TEXT)",
                                 &error),
             qPrintable(error));
    const Contact contact = makeContact(QStringLiteral("13800000001"), QStringLiteral("一"));

    error.clear();
    QCOMPARE(
        m_store->addGroupWithContacts(QStringLiteral("新"), {contact}, nullptr, nullptr, &error),
        StoreResult::Failed);
    QVERIFY2(error.contains(QStringLiteral("通讯录")), qPrintable(error));
    QVERIFY(!m_store->groupExists(QStringLiteral("新")));

    error.clear();
    Contact added = contact;
    QCOMPARE(m_store->addContact(QStringLiteral("客户"), &added, &error), StoreResult::Failed);
    QVERIFY2(error.contains(QStringLiteral("通讯录")), qPrintable(error));

    error.clear();
    ContactList listed{contact};
    QCOMPARE(m_store->contacts(QStringLiteral("客户"), {}, {}, &listed, &error),
             StoreResult::Failed);
    QVERIFY(listed.isEmpty());
    QVERIFY2(error.contains(QStringLiteral("column")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestContactStore)
#include "test_contactstore.moc"
