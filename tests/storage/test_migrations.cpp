#include "storage/contactstore.h"
#include "storage/database.h"
#include "storage/migrations.h"
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
    // A table of the user's own in the way of the last step.
    QVERIFY(database.execute("CREATE TABLE [回访记录] (x)"));
    QString error;
    QVERIFY(!Migrations::upgrade(database.handle(), &error));
    QVERIFY(error.contains(QStringLiteral("回访记录")));
    QCOMPARE(Migrations::version(database.handle(), nullptr), Migrations::latestVersion() - 1);
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

QTEST_GUILESS_MAIN(TestMigrations)
#include "test_migrations.moc"
