#include "storage/database.h"
#include "storage/schema.h"
#include "storage/statement.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

Q_DECLARE_METATYPE(Database::OpenResult)

namespace {

// Makes a database file with the program's schema, optionally encrypted with
// key (nullptr: a plain SQLite file).
bool makeDatabase(const QString &path, const char *key, bool withSchema = true)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
              == SQLITE_OK;
    if (ok && key)
        ok = sqlite3_key(db, key, int(std::strlen(key))) == SQLITE_OK;
    if (ok && withSchema)
        ok = Schema::create(db, nullptr);
    if (ok && !withSchema)
        ok = sqlite3_exec(db, "CREATE TABLE other (x)", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void createdFileIsEncrypted();
    void createRefusesAnExistingFile();
    void opensACreatedFile();
    void refusesUnusableFiles_data();
    void refusesUnusableFiles();
    void refusesAMissingFileOrAFolder();
    void refusesAReadOnlyFile();
    void transactionRollsBackUnlessCommitted();
    void statementThatDidNotCompile_data();
    void statementThatDidNotCompile();
};

void TestDatabase::createdFileIsEncrypted()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    Database database;
    QString error;
    QVERIFY2(database.create(path, &error) == Database::OpenResult::Ok, qPrintable(error));
    database.close();

    const QByteArray bytes = TestSupport::readAll(path);
    QVERIFY(!bytes.isEmpty());
    QVERIFY(!bytes.startsWith("SQLite format 3"));
    QVERIFY(!bytes.contains("CREATE TABLE"));

    // Without the key nothing can be read.
    sqlite3 *plain = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &plain, SQLITE_OPEN_READONLY,
                             nullptr),
             SQLITE_OK);
    const int read = sqlite3_exec(plain, "SELECT count(*) FROM sqlite_master", nullptr, nullptr,
                                  nullptr);
    sqlite3_close(plain);
    QCOMPARE(read, SQLITE_NOTADB);
}

void TestDatabase::createRefusesAnExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.dat"));
    QVERIFY(TestSupport::writeAll(path, "keep me"));
    Database database;
    QCOMPARE(database.create(path), Database::OpenResult::CannotCreate);
    QCOMPARE(TestSupport::readAll(path), QByteArray("keep me"));
}

void TestDatabase::opensACreatedFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    {
        Database database;
        QCOMPARE(database.create(path), Database::OpenResult::Ok);
    }
    Database database;
    QString error;
    QCOMPARE(database.open(path, Database::Access::ReadWrite, &error), Database::OpenResult::Ok);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(database.path(), QFileInfo(path).absoluteFilePath());

    Statement version(database.handle(), "PRAGMA cipher_version");
    QCOMPARE(version.step(), SQLITE_ROW);
    QVERIFY(!version.text(0).isEmpty());

    // The table holds its one row from the start.
    Statement sms(database.handle(), "SELECT count(*), quote([短信内容]), quote([备用1]) FROM [短信]");
    QCOMPARE(sms.step(), SQLITE_ROW);
    QCOMPARE(sms.int64(0), 1);
    QCOMPARE(sms.text(1), QStringLiteral("''"));
    QCOMPARE(sms.text(2), QStringLiteral("NULL"));
}

void TestDatabase::refusesUnusableFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Database::OpenResult>("expected");
    QTest::newRow("garbage") << "garbage" << Database::OpenResult::NotADatabase;
    QTest::newRow("empty file") << "empty" << Database::OpenResult::WrongSchema;
    QTest::newRow("plain SQLite with the schema") << "plain" << Database::OpenResult::NotADatabase;
    QTest::newRow("another key") << "other key" << Database::OpenResult::NotADatabase;
    QTest::newRow("right key, other tables") << "other tables" << Database::OpenResult::WrongSchema;
    QTest::newRow("truncated") << "truncated" << Database::OpenResult::NotADatabase;
}

void TestDatabase::refusesUnusableFiles()
{
    QFETCH(QString, kind);
    QFETCH(Database::OpenResult, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    if (kind == QLatin1String("garbage")) {
        QByteArray garbage;
        for (int i = 0; i < 5000; ++i)
            garbage.append(char((i * 7919) % 251));
        QVERIFY(TestSupport::writeAll(path, garbage));
    } else if (kind == QLatin1String("empty")) {
        QVERIFY(TestSupport::writeAll(path, QByteArray()));
    } else if (kind == QLatin1String("plain")) {
        QVERIFY(makeDatabase(path, nullptr));
    } else if (kind == QLatin1String("other key")) {
        QVERIFY(makeDatabase(path, "not the key"));
    } else if (kind == QLatin1String("other tables")) {
        QVERIFY(makeDatabase(path, Database::Key, false));
    } else if (kind == QLatin1String("truncated")) {
        QVERIFY(makeDatabase(path, Database::Key));
        QVERIFY(TestSupport::writeAll(path, TestSupport::readAll(path).left(100)));
    }
    const QByteArray before = TestSupport::readAll(path);
    const QStringList entriesBefore = TestSupport::entriesOf(dir.path());

    Database database;
    QString error;
    QCOMPARE(database.open(path, Database::Access::ReadWrite, &error), expected);
    QVERIFY(!database.isOpen());
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("已损坏或不是本程序的数据库")), qPrintable(error));

    QCOMPARE(TestSupport::readAll(path), before);
    QCOMPARE(TestSupport::entriesOf(dir.path()), entriesBefore);
}

void TestDatabase::refusesAMissingFileOrAFolder()
{
    QTemporaryDir dir;
    Database database;
    const QString missing = dir.filePath(QStringLiteral("通讯录.dat"));
    QString error;
    QCOMPARE(database.open(missing, Database::Access::ReadWrite, &error),
             Database::OpenResult::CannotOpen);
    QVERIFY(error.contains(QDir::toNativeSeparators(missing)));
    QVERIFY(!QFile::exists(missing));

    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("通讯录.dat")));
    QCOMPARE(database.open(missing), Database::OpenResult::CannotOpen);
    QVERIFY(QFileInfo(missing).isDir());
}

void TestDatabase::refusesAReadOnlyFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    QVERIFY(makeDatabase(path, Database::Key));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const TestSupport::FileModesBindRoot modesBind;
    const QByteArray before = TestSupport::readAll(path);
    Database database;
    QString error;
    QCOMPARE(database.open(path, Database::Access::ReadWrite, &error),
             Database::OpenResult::ReadOnly);
    QVERIFY(error.contains(QDir::toNativeSeparators(path)));
    QCOMPARE(TestSupport::readAll(path), before);
}

void TestDatabase::transactionRollsBackUnlessCommitted()
{
    QTemporaryDir dir;
    Database database;
    QCOMPARE(database.create(dir.filePath(QStringLiteral("t.dat"))), Database::OpenResult::Ok);
    const auto groups = [&database] {
        Statement count(database.handle(), "SELECT count(*) FROM [分组]");
        return count.step() == SQLITE_ROW ? count.int64(0) : -1;
    };
    {
        Transaction transaction(database);
        QVERIFY(transaction.isActive());
        QVERIFY(database.execute("INSERT INTO [分组] VALUES ('a')"));
    }
    QCOMPARE(groups(), 0);
    {
        Transaction transaction(database);
        QVERIFY(database.execute("INSERT INTO [分组] VALUES ('a')"));
        QVERIFY(transaction.commit());
        QVERIFY(!transaction.isActive());
    }
    QCOMPARE(groups(), 1);
    {
        Transaction outer(database);
        Transaction nested(database); // SQLite has no nested BEGIN
        QVERIFY(outer.isActive());
        QVERIFY(!nested.isActive());
        QVERIFY(!nested.commit());
    }
    QVERIFY(sqlite3_get_autocommit(database.handle()));
}

// Every method of a statement that did not compile is safe to call, and
// step() answers why it did not compile, every time it is asked.
void TestDatabase::statementThatDidNotCompile_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such table") << true << int(SQLITE_ERROR) << QStringLiteral("nowhere");
    QTest::newRow("no connection") << false << int(SQLITE_MISUSE) << QStringLiteral("未打开");
}

void TestDatabase::statementThatDidNotCompile()
{
    QFETCH(bool, connected);
    QFETCH(int, code);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    Database database;
    QString error;
    QVERIFY2(database.create(dir.filePath(QStringLiteral("通讯录.dat")), &error)
                 == Database::OpenResult::Ok,
             qPrintable(error));

    Statement statement(connected ? database.handle() : nullptr,
                        "SELECT [x] FROM [nowhere] WHERE [y] = ?");
    QVERIFY(!statement.isValid());
    statement.bind(1, QStringLiteral("a"));
    statement.bind(2, qint64(7));
    for (int attempt = 0; attempt < 2; ++attempt) {
        error.clear();
        QCOMPARE(statement.step(&error), code);
        QVERIFY2(error.contains(reason), qPrintable(error));
        // Another statement in between moves the connection's own message on.
        Statement other(database.handle(), "SELECT 1");
        QCOMPARE(other.step(), SQLITE_ROW);
        statement.reset();
    }
    QCOMPARE(statement.text(0), QString());
    QVERIFY(statement.utf8(0).isEmpty());
    QCOMPARE(statement.int64(0), qint64(0));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
