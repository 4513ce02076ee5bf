#include "app/restoredialog.h"
#include "desktop/messagebox.h"
#include "mainwindow/mainwindow.h"
#include "model/contactlistmodel.h"
#include "safekeeping/appsession.h"
#include "safekeeping/backupring.h"
#include "safekeeping/dailybackup.h"
#include "safekeeping/leftoversweep.h"
#include "safekeeping/startuprepair.h"
#include "storage/contactstore.h"
#include "storage/database.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <sys/stat.h>
#include <utime.h>

namespace {

const QDate Fifth(2024, 3, 5);
const QDate Sixth(2024, 3, 6);

QString dbFile(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("通讯录.dat"));
}

// Overwrites 100 bytes inside one page (the page of the group table in a
// new database), as a failing disk or a stray write would.
void damage(const QString &path, qint64 offset = 4096)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(offset));
    QCOMPARE(file.write(QByteArray(100, '\xa5')), qint64(100));
}

void setAge(const QString &path, int secondsAgo)
{
    const time_t when = std::time(nullptr) - secondsAgo;
    const utimbuf times{when, when};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

// Runs the program's start and exit once, with the given SMS text and extra
// group, leaving that day's backup.
void runOnce(const QTemporaryDir &dir, QDate day, const QString &group = {})
{
    AppSession session(dir.path());
    QString message;
    QVERIFY2(session.start(&message), qPrintable(message));
    if (!group.isEmpty())
        QCOMPARE(session.store().addGroup(group), StoreResult::Ok);
    QCOMPARE(session.finish(QString(), day), QStringList());
}

QStringList keptFiles(const QTemporaryDir &dir, const QString &why)
{
    return QDir(dir.path()).entryList({QStringLiteral("通讯录.%1.*.dat").arg(why)}, QDir::Files);
}

} // namespace

class TestBackupSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void damagedDatabaseAtStart_data();
    void damagedDatabaseAtStart();
    void damageOnDiskWhileOpenKeepsTheGoodBackup();
    void damageReadDuringTheRunKeepsTheBackup();
    void restoreByHandKeepsTheCurrentFileAndTheSmsText();
    void leftoversOfInterruptedWritesAreRemoved();
    void databaseAndBackupFollowTheUmask();
};

void TestBackupSafety::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
}

void TestBackupSafety::damagedDatabaseAtStart_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("goodBackup");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("started");
    QTest::newRow("restored on yes") << "page" << true << true << true;
    QTest::newRow("no keeps everything") << "page" << true << false << false;
    QTest::newRow("no good backup") << "page" << false << true << false;
    QTest::newRow("empty file restored") << "empty" << true << true << true;
    QTest::newRow("lost table restored") << "table" << true << true << true;
}

void TestBackupSafety::damagedDatabaseAtStart()
{
    QFETCH(QString, damage);
    QFETCH(bool, goodBackup);
    QFETCH(bool, answerYes);
    QFETCH(bool, started);
    QTemporaryDir dir;
    runOnce(dir, Sixth, QStringLiteral("备份里的分组"));
    if (!goodBackup)
        ::damage(DailyBackup::filePath(dir.path(), Sixth));
    if (damage == u"page") {
        ::damage(dbFile(dir));
    } else if (damage == u"empty") {
        QVERIFY(QFile::resize(dbFile(dir), 0));
    } else {
        Database database;
        QCOMPARE(database.open(dbFile(dir)), Database::OpenResult::Ok);
        QVERIFY(database.execute("DROP TABLE [分组]"));
    }
    const QByteArray damaged = TestSupport::readAll(dbFile(dir));
    const QByteArray backup = TestSupport::readAll(DailyBackup::filePath(dir.path(), Sixth));

    AppSession session(dir.path());
    QString message;
    QVERIFY(!session.start(&message));
    QVERIFY(session.databaseDamaged());
    QVERIFY2(message.contains(QDir::toNativeSeparators(dbFile(dir))), qPrintable(message));

    if (goodBackup)
        MessageBox::setNextAnswer(answerYes ? QMessageBox::Yes : QMessageBox::No);
    QCOMPARE(StartupRepair::recover(session, message), started);
    QCOMPARE(session.isStarted(), started);
    if (!started) {
        QCOMPARE(TestSupport::readAll(dbFile(dir)), damaged);
        QCOMPARE(keptFiles(dir, QStringLiteral("损坏")), QStringList());
        return;
    }
    QCOMPARE(TestSupport::readAll(dbFile(dir)), backup);
    const QStringList kept = keptFiles(dir, QStringLiteral("损坏"));
    QCOMPARE(kept.size(), 1);
    QVERIFY(kept[0].contains(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    QCOMPARE(TestSupport::readAll(dir.filePath(kept[0])), damaged);
    QStringList groups;
    QCOMPARE(session.store().groups(&groups), StoreResult::Ok);
    QVERIFY(groups.contains(QStringLiteral("备份里的分组")));
}

// The program's own connection has the damaged page cached; the check of the
// copy reads it from disk.
void TestBackupSafety::damageOnDiskWhileOpenKeepsTheGoodBackup()
{
    QTemporaryDir dir;
    runOnce(dir, Fifth);
    runOnce(dir, Sixth);
    setAge(DailyBackup::filePath(dir.path(), Fifth), 86400);
    const QString sixth = DailyBackup::filePath(dir.path(), Sixth);
    const QByteArray good = TestSupport::readAll(sixth);

    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    damage(dbFile(dir));
    QStringList groups;
    QCOMPARE(session.store().groups(&groups), StoreResult::Ok); // from the cache
    const QStringList problems = session.finish(QStringLiteral("短信"), Sixth);

    QCOMPARE(TestSupport::readAll(sixth), good);
    QCOMPARE(TestSupport::entriesOf(DailyBackup::folderPath(dir.path(), Sixth)),
             QStringList{QStringLiteral("通讯录.dat")});
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems[0].contains(QDir::toNativeSeparators(dbFile(dir))), qPrintable(problems[0]));
    // The newest good backup is named with its day and time.
    QVERIFY2(problems[0].contains(QStringLiteral("6日")), qPrintable(problems[0]));
    QVERIFY(problems[0].contains(QFileInfo(sixth).lastModified().toString(QStringLiteral("HH:mm"))));
}

void TestBackupSafety::damageReadDuringTheRunKeepsTheBackup()
{
    QTemporaryDir dir;
    runOnce(dir, Sixth);
    const QByteArray before = TestSupport::readAll(DailyBackup::filePath(dir.path(), Sixth));

    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    // The contact table's page, not read yet by this run.
    const QByteArray intact = TestSupport::readAll(dbFile(dir));
    damage(dbFile(dir), 1024);
    ContactList contacts;
    QCOMPARE(session.store().contacts(QStringLiteral("客户"), {}, {}, &contacts), StoreResult::Failed);
    // Even when the file reads well again by the exit, this run saw damage.
    QVERIFY(TestSupport::writeAll(dbFile(dir), intact));
    const QStringList problems = session.finish(QString(), Sixth);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems[0].contains(QStringLiteral("损坏")), qPrintable(problems[0]));
    QCOMPARE(TestSupport::readAll(DailyBackup::filePath(dir.path(), Sixth)), before);
}

void TestBackupSafety::restoreByHandKeepsTheCurrentFileAndTheSmsText()
{
    QTemporaryDir dir;
    runOnce(dir, Fifth, QStringLiteral("五日的分组"));
    runOnce(dir, Sixth, QStringLiteral("六日的分组"));
    runOnce(dir, QDate(2024, 3, 7));
    setAge(DailyBackup::filePath(dir.path(), Fifth), 3 * 86400);
    setAge(DailyBackup::filePath(dir.path(), Sixth), 2 * 86400);
    damage(DailyBackup::filePath(dir.path(), QDate(2024, 3, 7)));

    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.store().addGroup(QStringLiteral("误删前")), StoreResult::Ok);
    Contact added = TestSupport::makeContact(QStringLiteral("13958700009"), QStringLiteral("新来的"));
    QCOMPARE(session.store().addContact(QStringLiteral("五日的分组"), &added), StoreResult::Ok);
    const QByteArray current = TestSupport::readAll(dbFile(dir));
    MainWindow window(session.store(), dir.path());
    window.setSmsText(QStringLiteral("正在写的短信"));
    // Read through the commands' connection, which stays open after it.
    window.chooseGroup(QStringLiteral("五日的分组"));
    QCOMPARE(window.contactList().size(), 1);

    RestoreDialog dialog(session, window);
    auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("BackupList"));
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 3);
    // Newest first: the damaged 7日, then 6日 and 5日 with their counts.
    const QStringList days = {table->item(0, 0)->text(), table->item(1, 0)->text(),
                              table->item(2, 0)->text()};
    QCOMPARE(days, (QStringList{QStringLiteral("7日"), QStringLiteral("6日"), QStringLiteral("5日")}));
    // Listed at once; the checks report through the event loop, and a backup
    // whose check has not passed yet cannot be restored.
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table->item(row, 4)->text(), QStringLiteral("检查中…"));
    QVERIFY(!dialog.restoreRow(2));
    QTRY_VERIFY(dialog.checksDone());
    QVERIFY(table->item(0, 4)->text().startsWith(QStringLiteral("未通过")));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("4")); // 客户, 同事 and two more
    QCOMPARE(table->item(1, 3)->text(), QStringLiteral("3"));
    QCOMPARE(table->item(2, 2)->text(), QStringLiteral("3"));
    QVERIFY(!dialog.restoreRow(0));

    MessageBox::setNextAnswer(QMessageBox::Yes);
    QVERIFY(dialog.restoreRow(2));
    QCOMPARE(TestSupport::readAll(dbFile(dir)),
             TestSupport::readAll(DailyBackup::filePath(dir.path(), Fifth)));
    const QStringList kept = keptFiles(dir, QStringLiteral("恢复前"));
    QCOMPARE(kept.size(), 1);
    QCOMPARE(TestSupport::readAll(dir.filePath(kept[0])), current);

    auto *groupList = window.findChild<QListWidget *>(QStringLiteral("List1"));
    QStringList shown;
    for (int i = 0; i < groupList->count(); ++i)
        shown << groupList->item(i)->text();
    QCOMPARE(shown, (QStringList{QStringLiteral("客户"), QStringLiteral("同事"),
                                 QStringLiteral("五日的分组")}));
    QCOMPARE(window.smsText(), QStringLiteral("正在写的短信"));
    // The group as the backup has it, not as the replaced file (kept aside) had it.
    window.chooseGroup(QStringLiteral("五日的分组"));
    QCOMPARE(window.contactList().size(), 0);
    // The restored file is the one the session works on now.
    QCOMPARE(session.store().addGroup(QStringLiteral("恢复后")), StoreResult::Ok);
}

void TestBackupSafety::leftoversOfInterruptedWritesAreRemoved()
{
    QTemporaryDir dir;
    const QString day = DailyBackup::folderPath(dir.path(), Sixth);
    QVERIFY(QDir().mkpath(day));
    struct Entry
    {
        QString folder;
        QString name;
        int secondsAgo;
        bool removed;
    };
    const QList<Entry> entries = {
        {dir.path(), QStringLiteral(".lztmp-a1B2c3"), 60, true},
        {day, QStringLiteral(".lztmp-Zz9Yy8"), 3600, true},
        {day, QStringLiteral(".通讯录.dat.Xq3kLm"), 60, true}, // named so by earlier versions
        {dir.path(), QStringLiteral(".lztmp-a1B2c3d"), 60, false},
        {dir.path(), QStringLiteral(".lztmp-a1B2"), 60, false},
        {dir.path(), QStringLiteral("lztmp-a1B2c3"), 60, false},
        {dir.path(), QStringLiteral(".lztmp-a1B2c-"), 60, false},
        {dir.path(), QStringLiteral(".客户名单.xls.Xq3kLm"), 60, false},
        {day, QStringLiteral("通讯录.dat"), 60, false},
        {day, QStringLiteral(".lztmp-newer1"), -60, false}, // a write of this run
    };
    for (const Entry &entry : entries) {
        QVERIFY(TestSupport::writeAll(QDir(entry.folder).filePath(entry.name), "partial"));
        setAge(QDir(entry.folder).filePath(entry.name), entry.secondsAgo);
    }
    // A day folder that is a link leads out of the data folder: never entered.
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral(".lztmp-a1B2c3"));
    QVERIFY(TestSupport::writeAll(outside, "someone else's"));
    setAge(outside, 3600);
    QVERIFY(QFile::link(elsewhere.path(), DailyBackup::folderPath(dir.path(), QDate(2024, 3, 9))));
    // Dated far ahead (the clock was set back since): never older than a start.
    const QString ahead = QDir(day).filePath(QStringLiteral(".lztmp-ahead1"));
    QVERIFY(TestSupport::writeAll(ahead, "partial"));
    setAge(ahead, -400 * 86400);

    QCOMPARE(LeftoverSweep::run(dir.path(), QDateTime::currentDateTime()), 4);
    QVERIFY(QFileInfo::exists(outside));
    QVERIFY(!QFileInfo::exists(ahead));
    for (const Entry &entry : entries)
        QVERIFY2(QFileInfo::exists(QDir(entry.folder).filePath(entry.name)) != entry.removed,
                 qPrintable(entry.name));
}

// Under umask 077 nothing of the user's becomes readable by others: the new
// database gets 0600, and a backup the database's mode, also over an
// older, wider copy.
void TestBackupSafety::databaseAndBackupFollowTheUmask()
{
    QTemporaryDir dir;
    const mode_t previous = ::umask(077);
    const auto modeOf = [](const QString &path) {
        struct stat info {};
        ::stat(QFile::encodeName(path).constData(), &info);
        return int(info.st_mode & 07777);
    };
    AppSession session(dir.path());
    const bool started = session.start(nullptr);
    const int created = modeOf(dbFile(dir));
    const QString backup = DailyBackup::filePath(dir.path(), Sixth);
    QDir().mkpath(DailyBackup::folderPath(dir.path(), Sixth));
    TestSupport::writeAll(backup, "an older copy");
    ::chmod(QFile::encodeName(backup).constData(), 0644);
    const QStringList problems = session.finish(QString(), Sixth);
    ::umask(previous);

    QVERIFY(started);
    QCOMPARE(created, 0600);
    QCOMPARE(problems, QStringList());
    QCOMPARE(modeOf(backup), 0600);
}

QTEST_MAIN(TestBackupSafety)
#include "test_backupsafety.moc"
