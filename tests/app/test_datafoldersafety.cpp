#include "safekeeping/appsession.h"
#include "safekeeping/backupring.h"
#include "safekeeping/dailybackup.h"
#include "safekeeping/instancelock.h"
#include "safekeeping/smsrecoveryfile.h"
#include "safekeeping/startuprepair.h"
#include "desktop/messagebox.h"
#include "storage/integritycheck.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <ctime>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

const QDate Fifth(2024, 3, 5);
const QDate Sixth(2024, 3, 6);

QString dbFile(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("通讯录.dat"));
}

bool makeLink(const QString &target, const QString &link)
{
    return QFile::link(target, link);
}

void setAge(const QString &path, qint64 secondsAgo)
{
    const time_t when = std::time(nullptr) - time_t(secondsAgo);
    const utimbuf times{when, when};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

// One start and exit storing smsText, leaving that day's backup.
void runOnce(const QString &folder, QDate day, const QString &smsText = {})
{
    AppSession session(folder);
    QString message;
    QVERIFY2(session.start(&message), qPrintable(message));
    QCOMPARE(session.finish(smsText, day), QStringList());
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

} // namespace

// The data folder as a hostile or careless hand leaves it: links to files
// elsewhere, special files, odd lock files, odd backups.
class TestDataFolderSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void recoveryFileThatIsNoFileIsLeftAlone_data();
    void recoveryFileThatIsNoFileIsLeftAlone();
    void recoveryFileInEitherEncoding_data();
    void recoveryFileInEitherEncoding();
    void lockFileLeftBehind_data();
    void lockFileLeftBehind();
    void readOnlyFolderIsSaidAtStart();
    void backupsThatAreNotOffered_data();
    void backupsThatAreNotOffered();
    void linkedDatabaseIsRestoredInItsTarget();
    void restoreOnAFullDiskSaysWhy();
};

void TestDataFolderSafety::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
}

void TestDataFolderSafety::recoveryFileThatIsNoFileIsLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to a file elsewhere") << "link";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to an endless device") << "zero";
    QTest::newRow("folder") << "folder";
}

// Neither read at start (nor removed), nor written through at exit.
void TestDataFolderSafety::recoveryFileThatIsNoFileIsLeftAlone()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    runOnce(dir.path(), Fifth, QStringLiteral("存好的短信"));
    const QString outside = elsewhere.filePath(QStringLiteral("notes.txt"));
    QVERIFY(TestSupport::writeAll(outside, "not the program's"));
    const SmsRecoveryFile recovery(dbFile(dir.path()));
    const QByteArray path = QFile::encodeName(recovery.path());
    if (kind == u"link")
        QVERIFY(makeLink(outside, recovery.path()));
    else if (kind == u"fifo")
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    else if (kind == u"zero")
        QVERIFY(makeLink(QStringLiteral("/dev/zero"), recovery.path()));
    else
        QVERIFY(QDir().mkdir(recovery.path()));

    {
        AppSession session(dir.path());
        QString message;
        QVERIFY2(session.start(&message), qPrintable(message));
        QCOMPARE(session.initialSmsText(), QStringLiteral("存好的短信"));
        QCOMPARE(session.startNotes().size(), 1);
        QVERIFY2(session.startNotes()[0].contains(QDir::toNativeSeparators(recovery.path())),
                 qPrintable(session.startNotes()[0]));
        QCOMPARE(session.finish(QStringLiteral("新的短信"), Sixth), QStringList());
    }
    struct stat info {};
    QCOMPARE(::lstat(path.constData(), &info), 0); // still there, as it was
    QCOMPARE(kind == u"link" || kind == u"zero", S_ISLNK(info.st_mode));

    QString error;
    QVERIFY(!recovery.write(QStringLiteral("短信"), &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(recovery.path())), qPrintable(error));
    QCOMPARE(TestSupport::readAll(outside), QByteArray("not the program's"));
    QCOMPARE(::lstat(path.constData(), &info), 0);
}

void TestDataFolderSafety::recoveryFileInEitherEncoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString text = QStringLiteral("明天上午九点开会，请准时参加。");
    QTest::newRow("UTF-8, as the program writes it") << text.toUtf8();
    QStringEncoder gbk("GBK");
    QTest::newRow("GBK, saved by hand") << QByteArray(gbk.encode(text));
}

void TestDataFolderSafety::recoveryFileInEitherEncoding()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    runOnce(dir.path(), Fifth);
    QVERIFY(TestSupport::writeAll(SmsRecoveryFile(dbFile(dir.path())).path(), bytes));
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.initialSmsText(), QStringLiteral("明天上午九点开会，请准时参加。"));
}

void TestDataFolderSafety::lockFileLeftBehind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("started");
    // Nobody holds these: they are taken over without a word.
    QTest::newRow("empty") << "empty" << false << false << true;
    QTest::newRow("garbled") << "garbled" << false << false << true;
    QTest::newRow("from another computer") << "other computer" << false << false << true;
    QTest::newRow("another user's, in a shared folder") << "other user" << false << false << true;
    // Nothing tells whether anyone uses the database: the user decides.
    QTest::newRow("folder, go on") << "folder" << true << true << true;
    QTest::newRow("dangling link, go on") << "dangling" << true << true << true;
    QTest::newRow("dangling link, stop") << "dangling" << true << false << false;
}

void TestDataFolderSafety::lockFileLeftBehind()
{
    QFETCH(QString, kind);
    QFETCH(bool, asked);
    QFETCH(bool, answerYes);
    QFETCH(bool, started);
    QTemporaryDir dir;
    runOnce(dir.path(), Fifth);
    const QString lockPath = InstanceLock::lockPathFor(dbFile(dir.path()));
    if (kind == u"empty")
        QVERIFY(TestSupport::writeAll(lockPath, QByteArray()));
    else if (kind == u"garbled")
        QVERIFY(TestSupport::writeAll(lockPath, QByteArray("\x01\xff\xfe garbage\n\n\n")));
    else if (kind == u"other computer") // as a USB stick carries it from a crash elsewhere
        QVERIFY(TestSupport::writeAll(lockPath, "4711\nlanzhou-sms\nanother-pc\n"));
    else if (kind == u"folder")
        QVERIFY(QDir().mkdir(lockPath));
    else if (kind == u"other user")
        QVERIFY(TestSupport::writeAll(lockPath, "电脑 pc-2 上的进程 4711\n"));
    else
        QVERIFY(makeLink(dir.filePath(QStringLiteral("gone")), lockPath));

    // Another user's file that this one can neither write nor remove (a
    // folder like /tmp, where only owners remove files).
    QTemporaryDir scratch;
    std::optional<TestSupport::ReadOnlyFolder> asAnotherUser;
    if (kind == u"other user") {
        if (::chown(QFile::encodeName(lockPath).constData(), 65534, 65534) != 0)
            QSKIP("needs the right to give a file to another user");
        QCOMPARE(::chmod(QFile::encodeName(lockPath).constData(), 0644), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        asAnotherUser.emplace(scratch.path()); // the file modes now hold for this process too
    }

    AppSession session(dir.path());
    QString message;
    bool ok = session.start(&message);
    QCOMPARE(session.lockUncheckable(), asked);
    if (asked) {
        QVERIFY(!ok);
        QVERIFY2(message.contains(QStringLiteral("似乎正在另一台电脑上使用")), qPrintable(message));
        QVERIFY2(message.contains(QDir::toNativeSeparators(lockPath)), qPrintable(message));
        MessageBox::setNextAnswer(answerYes ? QMessageBox::Yes : QMessageBox::No);
        ok = StartupRepair::recover(session, message);
        QCOMPARE(MessageBox::shownCount(), 1);
    }
    QCOMPARE(ok, started);
    QCOMPARE(session.isStarted(), started);
    if (kind == u"folder" || kind == u"dangling")
        QVERIFY(QFileInfo(lockPath).isDir() || isLink(lockPath)); // left as it was
}

void TestDataFolderSafety::readOnlyFolderIsSaidAtStart()
{
    QTemporaryDir dir;
    runOnce(dir.path(), Fifth);
    TestSupport::ReadOnlyFolder readOnly(dir.path());
    QVERIFY(readOnly.ok());
    AppSession session(dir.path());
    QString message;
    QVERIFY2(session.start(&message), qPrintable(message));
    QCOMPARE(session.startNotes().size(), 1);
    QVERIFY2(session.startNotes()[0].contains(QDir::toNativeSeparators(dir.path())),
             qPrintable(session.startNotes()[0]));
    // No lock file, yet still one copy at a time.
    AppSession second(dir.path());
    QVERIFY(!second.start(nullptr));
    QVERIFY(second.isRunningElsewhere());
}

void TestDataFolderSafety::backupsThatAreNotOffered_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to a good copy elsewhere") << "link";
    QTest::newRow("padded beyond its pages") << "padded";
    QTest::newRow("dated ahead of the clock") << "future";
}

// The 5日 backup is good and a day old; the 6日 one is odd.
void TestDataFolderSafety::backupsThatAreNotOffered()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    runOnce(dir.path(), Fifth);
    const QString fifth = DailyBackup::filePath(dir.path(), Fifth);
    setAge(fifth, 86400);
    const QString sixth = DailyBackup::filePath(dir.path(), Sixth);
    QVERIFY(QDir().mkpath(DailyBackup::folderPath(dir.path(), Sixth)));
    const QByteArray good = TestSupport::readAll(fifth);
    if (kind == u"link") {
        const QString outside = elsewhere.filePath(QStringLiteral("通讯录.dat"));
        QVERIFY(TestSupport::writeAll(outside, good));
        QVERIFY(makeLink(outside, sixth));
    } else if (kind == u"padded") {
        QVERIFY(TestSupport::writeAll(sixth, good));
        QVERIFY(QFile::resize(sixth, good.size() + (64 << 20))); // sparse: costs no disk
    } else {
        QVERIFY(TestSupport::writeAll(sixth, good));
        setAge(sixth, -2 * 86400);
    }

    const std::optional<BackupRing::Entry> newest = BackupRing::newestGood(dir.path());
    QVERIFY(newest);
    QCOMPARE(newest->dayFolder, QStringLiteral("5日"));
    if (kind == u"padded") {
        QString reason;
        QVERIFY(!IntegrityCheck::check(sixth, &reason));
        QVERIFY2(reason.contains(QStringLiteral("文件大小")), qPrintable(reason));
    }
}

void TestDataFolderSafety::linkedDatabaseIsRestoredInItsTarget()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    runOnce(elsewhere.path(), Fifth); // the real file lives elsewhere
    QVERIFY(makeLink(dbFile(elsewhere.path()), dbFile(dir.path())));
    runOnce(dir.path(), Sixth, QStringLiteral("经由链接"));
    const QString backup = DailyBackup::filePath(dir.path(), Sixth);

    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        QCOMPARE(session.store().addGroup(QStringLiteral("恢复前的分组")), StoreResult::Ok);
        const QByteArray before = TestSupport::readAll(dbFile(elsewhere.path()));
        QString keptAs;
        QString message;
        QVERIFY2(session.restoreFrom(backup, DatabaseRestore::Reason::ReplacedByHand, &keptAs, &message),
                 qPrintable(message));

        QVERIFY(isLink(dbFile(dir.path())));
        QCOMPARE(TestSupport::readAll(dbFile(elsewhere.path())), TestSupport::readAll(backup));
        QCOMPARE(QFileInfo(keptAs).absolutePath(), QFileInfo(dbFile(elsewhere.path())).canonicalPath());
        QCOMPARE(TestSupport::readAll(keptAs), before);
        // Edits after the restore reach the file the link points to.
        QCOMPARE(session.store().addGroup(QStringLiteral("恢复后的分组")), StoreResult::Ok);
        QCOMPARE(session.finish(QString(), Sixth).size(), 0);
    }
    AppSession other(elsewhere.path());
    QVERIFY(other.start(nullptr));
    QStringList groups;
    QCOMPARE(other.store().groups(groups), StoreResult::Ok);
    QVERIFY(groups.contains(QStringLiteral("恢复后的分组")));
    QVERIFY(!groups.contains(QStringLiteral("恢复前的分组")));
}

void TestDataFolderSafety::restoreOnAFullDiskSaysWhy()
{
    QTemporaryDir dir;
    runOnce(dir.path(), Sixth);
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    const QByteArray before = TestSupport::readAll(dbFile(dir.path()));
    QString keptAs;
    QString message;
    {
        TestSupport::FileSizeLimit full(4096);
        QVERIFY(full.ok());
        QVERIFY(!session.restoreFrom(DailyBackup::filePath(dir.path(), Sixth),
                                     DatabaseRestore::Reason::ReplacedByHand, &keptAs, &message));
    }
    QVERIFY2(message.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(message));
    QCOMPARE(TestSupport::readAll(dbFile(dir.path())), before);
    QVERIFY(session.isStarted());
}

QTEST_MAIN(TestDataFolderSafety)
#include "test_datafoldersafety.moc"
