#include "safekeeping/appfolder.h"
#include "safekeeping/appsession.h"
#include "safekeeping/dailybackup.h"
#include "storage/migrations.h"
#include "storage/template/databasetemplate.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>


namespace {

const QDate Sixth(2024, 3, 6);

QString dbFile(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("通讯录.dat"));
}

QString backupOf(const QTemporaryDir &dir, QDate day)
{
    return DailyBackup::filePath(dir.path(), day);
}

} // namespace

// Each test uses a fresh temporary folder as the application folder.
class TestAppSession : public QObject
{
    Q_OBJECT

private slots:
    void appFolderIsTheExecutablesUnlessOverridden();
    void firstStartWritesTheTemplate();
    void secondStartKeepsTheFile();
    void unusableFileIsReportedAndKept_data();
    void unusableFileIsReportedAndKept();
    void unwritableFolderIsReported();
    void readOnlyFolderIsReported();
    void smsTextSurvivesARestart();
    void finishWritesTheDaysBackup();
    void secondFinishOnADayReplacesItsBackup();
    void deletedBackupTreeIsRecreated();
    void failingBackupKeepsTheDatabase();
    void finishWithoutStartWritesNothing();
    void failedRestoreReopensOrSaysItCouldNot_data();
    void failedRestoreReopensOrSaysItCouldNot();
    void foreignLogTablesTurnSendingOff_data();
    void foreignLogTablesTurnSendingOff();
};

void TestAppSession::appFolderIsTheExecutablesUnlessOverridden()
{
    QCOMPARE(AppFolder::path(), QCoreApplication::applicationDirPath());
    QTemporaryDir dir;
    AppFolder::setOverride(dir.path());
    QCOMPARE(AppFolder::path(), dir.path());
    QCOMPARE(AppFolder::databasePath(), dbFile(dir));

    AppSession session;
    QString message;
    QVERIFY2(session.start(&message), qPrintable(message));
    QCOMPARE(session.appFolder(), dir.path());
    QVERIFY(QFileInfo(dbFile(dir)).isFile());
    AppFolder::setOverride(QString());
    QCOMPARE(AppFolder::path(), QCoreApplication::applicationDirPath());
}

void TestAppSession::firstStartWritesTheTemplate()
{
    QTemporaryDir dir;
    AppSession session(dir.path());
    QString message;
    QVERIFY2(session.start(&message), qPrintable(message));
    QVERIFY(session.isStarted());
    QCOMPARE(session.databasePath(), dbFile(dir));
    // The template, brought up to this version's tables.
    QCOMPARE(Migrations::version(session.database().handle(), nullptr),
             Migrations::latestVersion());

    QStringList groups;
    QCOMPARE(session.store().groups(&groups), StoreResult::Ok);
    QCOMPARE(groups, (QStringList{QStringLiteral("客户"), QStringLiteral("同事")}));
    ContactList customers, colleagues;
    session.store().contacts(QStringLiteral("客户"), {}, {}, &customers);
    session.store().contacts(QStringLiteral("同事"), {}, {}, &colleagues);
    QCOMPARE(customers.size(), 2);
    QCOMPARE(customers[0].name(), QStringLiteral("张三"));
    QCOMPARE(customers[1].name(), QStringLiteral("李四"));
    QCOMPARE(colleagues.size(), 1);
    QCOMPARE(colleagues[0].name(), QStringLiteral("王五"));
    QCOMPARE(session.initialSmsText(), QString());
}

void TestAppSession::secondStartKeepsTheFile()
{
    QTemporaryDir dir;
    {
        AppSession first(dir.path());
        QVERIFY(first.start(nullptr));
        Contact contact;
        contact.setMobile(QStringLiteral("13900000000"));
        contact.setName(QStringLiteral("新人"));
        QCOMPARE(first.store().addContact(QStringLiteral("同事"), &contact), StoreResult::Ok);
    }
    const QByteArray before = TestSupport::readAll(dbFile(dir));
    QVERIFY(before != DatabaseTemplate::bytes());
    const QDateTime modified = QFileInfo(dbFile(dir)).lastModified();

    AppSession second(dir.path());
    QVERIFY(second.start(nullptr));
    ContactList colleagues;
    second.store().contacts(QStringLiteral("同事"), {}, {}, &colleagues);
    QCOMPARE(colleagues.size(), 2);
    QCOMPARE(TestSupport::readAll(dbFile(dir)), before);
    QCOMPARE(QFileInfo(dbFile(dir)).lastModified(), modified);
}

void TestAppSession::unusableFileIsReportedAndKept_data()
{
    QTest::addColumn<QByteArray>("content");
    QByteArray garbage;
    for (int i = 0; i < 3000; ++i)
        garbage.append(char(i * 31));
    QTest::newRow("garbage") << garbage;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("通讯录\r\n");
    QTest::newRow("damaged template") << DatabaseTemplate::bytes().left(1500);
}

void TestAppSession::unusableFileIsReportedAndKept()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QVERIFY(TestSupport::writeAll(dbFile(dir), content));

    {
        // The session keeps the damaged file locked while the user decides
        // about a restore; nothing else is left once it ends.
        AppSession session(dir.path());
        QString message;
        QVERIFY(!session.start(&message));
        QVERIFY(!session.isStarted());
        QVERIFY2(message.contains(QDir::toNativeSeparators(dbFile(dir))), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("已损坏或不是本程序的数据库")), qPrintable(message));
    }
    QCOMPARE(TestSupport::readAll(dbFile(dir)), content);
    QCOMPARE(TestSupport::entriesOf(dir.path()),
             QStringList{QStringLiteral("通讯录.dat")});
}

void TestAppSession::unwritableFolderIsReported()
{
    // A plain file standing where the folder should be fails for everyone,
    // root included.
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath(QStringLiteral("app"));
    QVERIFY(TestSupport::writeAll(notAFolder, "x"));
    {
        AppSession session(notAFolder);
        QString message;
        QVERIFY(!session.start(&message));
        QVERIFY2(message.startsWith(QStringLiteral("无法创建数据库文件")), qPrintable(message));
        QVERIFY(message.contains(QDir::toNativeSeparators(notAFolder + QStringLiteral("/通讯录.dat"))));
        QCOMPARE(TestSupport::readAll(notAFolder), QByteArray("x"));
    }
}

void TestAppSession::readOnlyFolderIsReported()
{
    QTemporaryDir dir;
    const QString readOnly = dir.filePath(QStringLiteral("readonly"));
    QVERIFY(QDir().mkpath(readOnly));
    const TestSupport::ReadOnlyFolder readOnlyFolder(readOnly);
    QVERIFY(readOnlyFolder.ok());
    AppSession session(readOnly);
    QString message;
    QVERIFY(!session.start(&message));
    QVERIFY2(message.startsWith(QStringLiteral("无法创建数据库文件")), qPrintable(message));
    QVERIFY(QDir(readOnly).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

void TestAppSession::smsTextSurvivesARestart()
{
    QTemporaryDir dir;
    const QString sms = QStringLiteral("您好！\r\n明天 9:00 开会，别忘了 Tom's 报告。\r\n\r\n谢谢'\n");
    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        QCOMPARE(session.finish(sms, Sixth), QStringList());
        QVERIFY(!session.isStarted());
    }
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.initialSmsText(), sms);
}

void TestAppSession::finishWritesTheDaysBackup()
{
    QTemporaryDir dir;
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.finish(QStringLiteral("你好"), Sixth), QStringList());

    const QString backup = dir.filePath(QStringLiteral("数据备份/6日/通讯录.dat"));
    QCOMPARE(backupOf(dir, Sixth), backup);
    QVERIFY(QFileInfo(backup).isFile());
    QCOMPARE(TestSupport::readAll(backup), TestSupport::readAll(dbFile(dir)));
    QVERIFY(TestSupport::readAll(backup) != DatabaseTemplate::bytes()); // it holds 你好

    Database copy;
    QCOMPARE(copy.open(backup), Database::OpenResult::Ok);
    ContactStore store(copy);
    QString text;
    QCOMPARE(store.smsText(&text), StoreResult::Ok);
    QCOMPARE(text, QStringLiteral("你好"));
}

void TestAppSession::secondFinishOnADayReplacesItsBackup()
{
    QTemporaryDir dir;
    for (const QString &sms : {QStringLiteral("第一次"), QStringLiteral("第二次")}) {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        QCOMPARE(session.finish(sms, Sixth), QStringList());
    }
    QCOMPARE(TestSupport::readAll(backupOf(dir, Sixth)), TestSupport::readAll(dbFile(dir)));

    // Another day gets its own copy; the sixth's stays.
    const QByteArray sixth = TestSupport::readAll(backupOf(dir, Sixth));
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.finish(QStringLiteral("第三次"), QDate(2024, 4, 7)), QStringList());
    QCOMPARE(TestSupport::readAll(backupOf(dir, QDate(2024, 4, 7))), TestSupport::readAll(dbFile(dir)));
    QCOMPARE(TestSupport::readAll(backupOf(dir, Sixth)), sixth);
    QCOMPARE(QDir(dir.filePath(QStringLiteral("数据备份"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("6日"), QStringLiteral("7日")}));
}

void TestAppSession::deletedBackupTreeIsRecreated()
{
    QTemporaryDir dir;
    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        QCOMPARE(session.finish(QString(), Sixth), QStringList());
    }
    QVERIFY(QDir(dir.filePath(QStringLiteral("数据备份"))).removeRecursively());
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.finish(QString(), Sixth), QStringList());
    QCOMPARE(TestSupport::readAll(backupOf(dir, Sixth)), TestSupport::readAll(dbFile(dir)));
}

void TestAppSession::failingBackupKeepsTheDatabase()
{
    QTemporaryDir dir;
    QVERIFY(TestSupport::writeAll(dir.filePath(QStringLiteral("数据备份")), "in the way"));
    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        const QStringList problems = session.finish(QStringLiteral("保存了"), Sixth);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(QStringLiteral("备份")), qPrintable(problems[0]));
        QVERIFY(problems[0].contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("数据备份")))));
    }
    QCOMPARE(TestSupport::readAll(dir.filePath(QStringLiteral("数据备份"))), QByteArray("in the way"));

    AppSession session(dir.path());
    QString message;
    QVERIFY2(session.start(&message), qPrintable(message));
    QCOMPARE(session.initialSmsText(), QStringLiteral("保存了"));
}

void TestAppSession::finishWithoutStartWritesNothing()
{
    QTemporaryDir dir;
    QVERIFY(TestSupport::writeAll(dbFile(dir), "garbage"));
    AppSession session(dir.path());
    QVERIFY(!session.start(nullptr));
    QCOMPARE(session.finish(QStringLiteral("x"), Sixth).size(), 1);
    QCOMPARE(TestSupport::readAll(dbFile(dir)), QByteArray("garbage"));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("数据备份"))));
}

void TestAppSession::failedRestoreReopensOrSaysItCouldNot_data()
{
    QTest::addColumn<bool>("databaseGoneMeanwhile");
    QTest::newRow("the database reopens") << false;
    QTest::newRow("the database cannot be reopened") << true;
}

void TestAppSession::failedRestoreReopensOrSaysItCouldNot()
{
    QFETCH(bool, databaseGoneMeanwhile);
    QTemporaryDir dir;
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    if (databaseGoneMeanwhile)
        QVERIFY(QFile::rename(dbFile(dir), dir.filePath(QStringLiteral("moved.dat"))));

    QString keptAs;
    QString message;
    QVERIFY(!session.restoreFrom(dir.filePath(QStringLiteral("no-such-backup.dat")),
                                 DatabaseRestore::Reason::ReplacedByHand, &keptAs, &message));
    QVERIFY(!message.isEmpty());
    QCOMPARE(session.isStarted(), !databaseGoneMeanwhile);
    QCOMPARE(message.contains(QStringLiteral("未能重新打开")), databaseGoneMeanwhile);
}

void TestAppSession::foreignLogTablesTurnSendingOff_data()
{
    QTest::addColumn<QByteArray>("change"); // made to the file after a first start
    QTest::addColumn<bool>("sendingOff");
    QTest::addColumn<bool>("followUpOff");
    QTest::addColumn<QString>("named");
    QTest::newRow("as written") << QByteArray() << false << false << QString();
    QTest::newRow("written by a newer program") << QByteArray("PRAGMA user_version = 99") << true
                                                << true << QStringLiteral("较新版本");
    QTest::newRow("opt-out list replaced")
        << QByteArray("DROP TABLE [退订名单]; CREATE TABLE [退订名单] ([号码] TEXT)") << true
        << false << QStringLiteral("退订名单");
    QTest::newRow("records replaced")
        << QByteArray("DROP TABLE [发送记录]; CREATE TABLE [发送记录] ([编号] INTEGER)") << true
        << false << QStringLiteral("发送记录");
    QTest::newRow("follow-up table gone") << QByteArray("DROP TABLE [回访最新]") << false << true
                                          << QStringLiteral("回访最新");
    // The tables there, the version lost: the steps cannot run again.
    QTest::newRow("version lost") << QByteArray("PRAGMA user_version = 0") << true << true
                                  << QStringLiteral("无法在数据库文件");
}

void TestAppSession::foreignLogTablesTurnSendingOff()
{
    QFETCH(QByteArray, change);
    QFETCH(bool, sendingOff);
    QFETCH(bool, followUpOff);
    QFETCH(QString, named);
    QTemporaryDir dir;
    {
        AppSession first(dir.path());
        QVERIFY(first.start(nullptr));
        QCOMPARE(first.upgradeProblem(), QString());
        if (!change.isEmpty())
            QVERIFY(first.database().execute(change.constData()));
    }
    AppSession second(dir.path());
    QVERIFY(second.start(nullptr));
    QCOMPARE(!second.sendingProblem().isEmpty(), sendingOff);
    QCOMPARE(!second.followUpProblem().isEmpty(), followUpOff);
    QCOMPARE(second.upgradeProblem().isEmpty(), !sendingOff && !followUpOff);
    QVERIFY2(second.upgradeProblem().contains(named), qPrintable(second.upgradeProblem()));
    // The contacts work all the same.
    QStringList groups;
    QCOMPARE(second.store().groups(&groups, nullptr), StoreResult::Ok);
}

QTEST_GUILESS_MAIN(TestAppSession)
#include "test_appsession.moc"
