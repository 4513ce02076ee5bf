#include "storage/database.h"
#include "storage/template/databasetemplate.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using DatabaseTemplate::EnsureResult;

class TestDatabaseTemplate : public QObject
{
    Q_OBJECT

private slots:
    void templateIsAnEncryptedContactDatabase();
    void writesTheTemplateWhenNoFileIsThere();
    void leavesAnExistingFileUntouched();
    void leavesAFolderInTheWayAlone();
    void failedWriteLeavesNothing();
};

void TestDatabaseTemplate::templateIsAnEncryptedContactDatabase()
{
    const QByteArray bytes = DatabaseTemplate::bytes();
    QVERIFY(bytes.size() >= 4096);
    QVERIFY(!bytes.startsWith("SQLite format 3"));
    QCOMPARE(DatabaseTemplate::bytes(), bytes);
}

void TestDatabaseTemplate::writesTheTemplateWhenNoFileIsThere()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    QString error;
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(path, &error), EnsureResult::Created);
    QCOMPARE(TestSupport::readAll(path), DatabaseTemplate::bytes());
    // Only the file: no temporary file left beside it.
    QCOMPARE(TestSupport::entriesOf(dir.path()),
             QStringList{QStringLiteral("通讯录.dat")});

    Database database;
    QVERIFY2(database.open(path, Database::Access::ReadWrite, &error) == Database::OpenResult::Ok,
             qPrintable(error));
}

void TestDatabaseTemplate::leavesAnExistingFileUntouched()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    for (const QByteArray &content : {QByteArray("not a database at all"), QByteArray()}) {
        QVERIFY(TestSupport::writeAll(path, content));
        const QDateTime modified = QFileInfo(path).lastModified();
        QCOMPARE(DatabaseTemplate::ensureDatabaseFile(path), EnsureResult::Existing);
        QCOMPARE(TestSupport::readAll(path), content);
        QCOMPARE(QFileInfo(path).lastModified(), modified);
    }

    // A link to an ordinary file is an ordinary file too.
    const QString link = dir.filePath(QStringLiteral("link.dat"));
    QVERIFY(QFile::link(path, link));
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(link), EnsureResult::Existing);
    QVERIFY(QFileInfo(link).isSymLink());
}

void TestDatabaseTemplate::leavesAFolderInTheWayAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("通讯录.dat/inside")));
    QString error;
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(path, &error), EnsureResult::Failed);
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());

    // A dangling link is not replaced either.
    const QString link = dir.filePath(QStringLiteral("dangling.dat"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), link));
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(link), EnsureResult::Failed);
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("nowhere"))));
}

void TestDatabaseTemplate::failedWriteLeavesNothing()
{
    // Tests run as root, so a read-only folder would still be writable: a
    // plain file where the folder should be makes the write fail instead.
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath(QStringLiteral("app"));
    QVERIFY(TestSupport::writeAll(notAFolder, "file"));
    QString error;
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(notAFolder + QStringLiteral("/通讯录.dat"), &error),
             EnsureResult::Failed);
    QVERIFY(!error.isEmpty());
    QCOMPARE(TestSupport::readAll(notAFolder), QByteArray("file"));
    QCOMPARE(TestSupport::entriesOf(dir.path()),
             QStringList{QStringLiteral("app")});
}

QTEST_GUILESS_MAIN(TestDatabaseTemplate)
#include "test_databasetemplate.moc"
