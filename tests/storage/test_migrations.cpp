#include "storage/contactstore.h"
#include "storage/database.h"
#include "storage/followupschema.h"
#include "storage/migrations.h"
#include "storage/sendlogschema.h"
#include "storage/statement.h"
#include "storage/template/databasetemplate.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

bool tableExists(Database &database, const char *name)
{
    Statement find(database.handle(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    find.bind(1, QString::fromUtf8(name));
    return find.step() == SQLITE_ROW;
}

} // namespace

class TestMigrations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void templateIsBroughtUpToDateKeepingItsContacts();
    void secondUpgradeChangesNothing();
    void failedStepStopsAtTheLastCompleteOne();
    void newerFileIsLeftAlone();
    void batchesOfAnEarlierVersionKeepTheirRowsAndCaps();

private:
    // Opens a fresh copy of the template in m_dir.
    void openTemplate(Database &database);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMigrations::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void TestMigrations::openTemplate(Database &database)
{
    const QString path = m_dir->filePath(QStringLiteral("通讯录.dat"));
    QString error;
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(path, &error),
             DatabaseTemplate::EnsureResult::Created);
    QVERIFY2(database.open(path, Database::Access::ReadWrite, &error) == Database::OpenResult::Ok,
             qPrintable(error));
}

void TestMigrations::templateIsBroughtUpToDateKeepingItsContacts()
{
    Database database;
    openTemplate(database);
    QCOMPARE(Migrations::version(database.handle(), nullptr), 0);
    ContactStore store(database);
    QString error;
    QCOMPARE(store.addGroup(QStringLiteral("迁移前的分组"), &error), StoreResult::Ok);

    QVERIFY2(Migrations::upgrade(database.handle(), &error), qPrintable(error));
    QCOMPARE(Migrations::version(database.handle(), nullptr), Migrations::latestVersion());
    for (const char *table : {"发送批次", "发送记录", "收到的短信", "退订名单", "回访记录"})
        QVERIFY2(tableExists(database, table), table);
    QStringList groups;
    QCOMPARE(store.groups(&groups, &error), StoreResult::Ok);
    QVERIFY(groups.contains(QStringLiteral("迁移前的分组")));
    // The file still opens as a contact database.
    const QString path = database.path();
    database.close();
    QVERIFY2(database.open(path, Database::Access::ReadWrite, &error) == Database::OpenResult::Ok,
             qPrintable(error));
}

void TestMigrations::secondUpgradeChangesNothing()
{
    Database database;
    openTemplate(database);
    QString error;
    QVERIFY2(Migrations::upgrade(database.handle(), &error), qPrintable(error));
    QVERIFY(database.execute("INSERT INTO [退订名单] VALUES ('13800138000', '2026-12-07 10:00:00', '手动')"));
    QVERIFY2(Migrations::upgrade(database.handle(), &error), qPrintable(error));
    Statement count(database.handle(), "SELECT count(*) FROM [退订名单]");
    QCOMPARE(count.step(), SQLITE_ROW);
    QCOMPARE(count.int64(0), 1);
}

void TestMigrations::failedStepStopsAtTheLastCompleteOne()
{
    Database database;
    openTemplate(database);
    // A table of the user's own in the way of the follow-up step.
    QVERIFY(database.execute("CREATE TABLE [回访记录] (x)"));
    QString error;
    QVERIFY(!Migrations::upgrade(database.handle(), &error));
    QVERIFY(error.contains(QStringLiteral("回访记录")));
    QCOMPARE(Migrations::version(database.handle(), nullptr), 1);
    QVERIFY(tableExists(database, "发送记录"));
    // Nothing of the failed step stayed, and the connection is usable.
    Statement index(database.handle(),
                    "SELECT 1 FROM sqlite_master WHERE name = '回访记录手机号'");
    QCOMPARE(index.step(), SQLITE_DONE);
    QVERIFY(database.execute("BEGIN"));
    QVERIFY(database.execute("ROLLBACK"));
}

void TestMigrations::newerFileIsLeftAlone()
{
    Database database;
    openTemplate(database);
    QVERIFY(database.execute("PRAGMA user_version = 99"));
    QString error;
    QVERIFY2(Migrations::upgrade(database.handle(), &error), qPrintable(error));
    QCOMPARE(Migrations::version(database.handle(), nullptr), 99);
    QVERIFY(!tableExists(database, "发送记录"));
}

void TestMigrations::batchesOfAnEarlierVersionKeepTheirRowsAndCaps()
{
    Database database;
    openTemplate(database);
    // A file as the version before devices per record left it.
    QVERIFY(database.execute(SendLogSchema::CreateSql));
    QVERIFY(database.execute(FollowUpSchema::CreateSql));
    QVERIFY(database.execute("PRAGMA user_version = 2"));
    QVERIFY(database.execute(
        "INSERT INTO [发送批次] ([编号], [时间], [发送方式], [设备], [短信内容], [每小时最多], [状态]) "
        "VALUES (7, '2026-12-07 09:00:00', '短信猫', '/org/freedesktop/ModemManager1/Modem/0', "
        "'您好', 200, '已暂停');"
        "INSERT INTO [发送记录] ([批次], [手机号], [发送内容], [状态], [时间]) VALUES "
        "(7, '13800000001', '您好', '已发送', '2026-12-07 09:00:10'),"
        "(7, '13800000002', '您好', '失败', '2026-12-07 09:00:30'),"
        "(7, '13800000003', '您好', '待发送', '')"));
    QString error;
    QVERIFY2(Migrations::upgrade(database.handle(), &error), qPrintable(error));
    QVERIFY2(SendLogSchema::check(database.handle(), &error), qPrintable(error));
    Statement batch(database.handle(), "SELECT [状态], [每小时最多] FROM [发送批次] WHERE [编号] = 7");
    QCOMPARE(batch.step(), SQLITE_ROW);
    QCOMPARE(batch.text(0), QStringLiteral("已暂停"));
    QCOMPARE(batch.int64(1), 200);
    // Both messages that reached the device count against its caps; the
    // waiting one does not.
    Statement counted(database.handle(), "SELECT count(*) FROM [发出的短信] WHERE [设备] = "
                                         "'/org/freedesktop/ModemManager1/Modem/0'");
    QCOMPARE(counted.step(), SQLITE_ROW);
    QCOMPARE(counted.int64(0), 2);
    // A batch may now wait for its time.
    QVERIFY(database.execute("UPDATE [发送批次] SET [状态] = '等待定时' WHERE [编号] = 7"));
}

QTEST_GUILESS_MAIN(TestMigrations)
#include "test_migrations.moc"
