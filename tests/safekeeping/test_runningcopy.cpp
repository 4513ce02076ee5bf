#include "safekeeping/appsession.h"
#include "safekeeping/instancelock.h"
#include "safekeeping/runningcopy.h"
#include "safekeeping/smsrecoveryfile.h"
#include "storage/database.h"
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QString dbFile(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("通讯录.dat"));
}

// The program itself, run on dir as its application folder.
bool startProgram(QProcess &process, const QTemporaryDir &dir, bool closeAfterStart = false)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (closeAfterStart)
        environment.insert(QStringLiteral("LANZHOU_SMS_CLOSE_AFTER_START"), QStringLiteral("1"));
    environment.insert(QStringLiteral("LANZHOU_TEST_APP_FOLDER"), dir.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PROGRAM_DRIVER), QStringList());
    return process.waitForStarted();
}

bool startLockHolder(QProcess &process, const QString &databasePath, bool listen,
                     int closeAfterMs = -1)
{
    QStringList arguments{databasePath};
    if (listen)
        arguments << QStringLiteral("listen");
    else if (closeAfterMs >= 0)
        arguments << QStringLiteral("close") << QString::number(closeAfterMs);
    process.start(QStringLiteral(LOCK_HOLDER), arguments);
    return process.waitForReadyRead(5000) && process.readLine() == "ready\n";
}

QString outputOf(QProcess &process)
{
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

// Every case here has a second real process: the program, or a small holder
// of the lock.
class TestRunningCopy : public QObject
{
    Q_OBJECT

private slots:
    void secondStartShowsTheRunningCopyAndLeaves();
    void secondStartSaysSoWhenTheCopyDoesNotAnswer();
    void startWhileTheFirstCopyClosesWaitsForIt();
    void lockOfACrashedCopyIsTakenOver();
    void foldersSharingOneDatabaseShareItsLock();
    void lockHeldOnAnotherComputerIsNamed();
    void stopSignalDuringAFailingSaveKeepsTheText();
};

void TestRunningCopy::secondStartShowsTheRunningCopyAndLeaves()
{
    QTemporaryDir dir;
    QProcess first;
    QVERIFY(startProgram(first, dir));
    QVERIFY(RunningCopy::askToShow(dbFile(dir), 10000));
    const QByteArray before = TestSupport::readAll(dbFile(dir));

    QProcess second;
    QVERIFY(startProgram(second, dir));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(outputOf(second), QString()); // shown through the first: no message
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(TestSupport::readAll(dbFile(dir)), before);

    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(InstanceLock::lockPathFor(dbFile(dir))));
}

void TestRunningCopy::secondStartSaysSoWhenTheCopyDoesNotAnswer()
{
    QTemporaryDir dir;
    QProcess holder;
    QVERIFY(startLockHolder(holder, dbFile(dir), false));

    QProcess second;
    QVERIFY(startProgram(second, dir));
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(outputOf(second), QStringLiteral("程序已经在运行。"));
    QVERIFY(!QFileInfo::exists(dbFile(dir))); // not even created
    holder.kill();
    holder.waitForFinished();
}

void TestRunningCopy::startWhileTheFirstCopyClosesWaitsForIt()
{
    QTemporaryDir dir;
    QProcess closing;
    QVERIFY(startLockHolder(closing, dbFile(dir), false, 1500));

    QProcess second;
    QVERIFY(startProgram(second, dir, true));
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(outputOf(second), QString()); // no "already running"
    QVERIFY(QFileInfo(dbFile(dir)).isFile()); // it did start
    QVERIFY(closing.waitForFinished());
}

void TestRunningCopy::lockOfACrashedCopyIsTakenOver()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QProcess holder;
    QVERIFY(startLockHolder(holder, dbFile(dir), true));

    InstanceLock lock(dbFile(dir));
    QCOMPARE(lock.acquire(), InstanceLock::Outcome::HeldByRunningCopy);
    // Reached through another spelling of the same path.
    QVERIFY(RunningCopy::askToShow(dir.filePath(QStringLiteral("sub/../通讯录.dat"))));
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine(), QByteArray("shown\n"));

    holder.kill(); // no chance to remove its lock file or its socket
    QVERIFY(holder.waitForFinished());
    QVERIFY(QFileInfo::exists(InstanceLock::lockPathFor(dbFile(dir))));
    QCOMPARE(lock.acquire(), InstanceLock::Outcome::Acquired);
    RunningCopy runningCopy(dbFile(dir));
    QVERIFY(runningCopy.listen());
}

void TestRunningCopy::foldersSharingOneDatabaseShareItsLock()
{
    QTemporaryDir dir;
    QTemporaryDir other;
    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
    }
    QVERIFY(QFile::link(dbFile(dir), dbFile(other)));
    QProcess holder;
    QVERIFY(startLockHolder(holder, dbFile(dir), true));

    AppSession session(other.path());
    QVERIFY(!session.start(nullptr));
    QVERIFY(session.isRunningElsewhere());
    QVERIFY(RunningCopy::askToShow(dbFile(other)));
    holder.kill();
    holder.waitForFinished();
}

// On a network share the holder may be another computer, which no window of
// this one can show: the message says where the database is in use.
void TestRunningCopy::lockHeldOnAnotherComputerIsNamed()
{
    QTemporaryDir dir;
    QProcess holder;
    QVERIFY(startLockHolder(holder, dbFile(dir), false));
    QFile lockFile(InstanceLock::lockPathFor(dbFile(dir)));
    QVERIFY(lockFile.open(QIODevice::ReadWrite | QIODevice::Truncate)); // the same file, rewritten
    QVERIFY(lockFile.write(QStringLiteral("电脑 pc-2 上的进程 4711（用户 li，2026-12-01 09:00:00 起）\n").toUtf8()) > 0);
    lockFile.close();

    AppSession session(dir.path());
    QString message;
    QVERIFY(!session.start(&message));
    QVERIFY(session.isRunningElsewhere());
    QVERIFY2(message.contains(QStringLiteral("正在另一台电脑上使用")) && message.contains(QStringLiteral("pc-2")),
             qPrintable(message));
    holder.kill();
    holder.waitForFinished();
}

void TestRunningCopy::stopSignalDuringAFailingSaveKeepsTheText()
{
    QTemporaryDir dir;
    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        QCOMPARE(session.finish(QStringLiteral("周五开会"), QDate(2024, 3, 6)), QStringList());
    }
    QProcess program;
    QVERIFY(startProgram(program, dir));
    QVERIFY(RunningCopy::askToShow(dbFile(dir), 10000));

    // Another connection holds the database: the program's save fails.
    Database other;
    QCOMPARE(other.open(dbFile(dir)), Database::OpenResult::Ok);
    QVERIFY(other.execute("BEGIN EXCLUSIVE"));
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(15000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    const SmsRecoveryFile recovery(dbFile(dir));
    QVERIFY2(QString::fromUtf8(program.readAllStandardError()).contains(recovery.path()),
             "the report names the recovery file");
    QCOMPARE(TestSupport::readAll(recovery.path()), QStringLiteral("周五开会").toUtf8());

    // Meanwhile the stored text changed: the next start still brings back
    // the text that was in the box.
    QVERIFY(other.execute("UPDATE [短信] SET [短信内容] = '旧'"));
    QVERIFY(other.execute("COMMIT"));
    other.close();
    {
        AppSession session(dir.path());
        QVERIFY(session.start(nullptr));
        QCOMPARE(session.initialSmsText(), QStringLiteral("周五开会"));
        QVERIFY(!QFileInfo::exists(recovery.path()));
    }
    AppSession session(dir.path());
    QVERIFY(session.start(nullptr));
    QCOMPARE(session.initialSmsText(), QStringLiteral("周五开会")); // stored again
}

QTEST_GUILESS_MAIN(TestRunningCopy)
#include "test_runningcopy.moc"
