#include "app/datafolder.h"
#include "app/programidentity.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

Q_DECLARE_METATYPE(DataFolder::Kind)

namespace {

const QString DatabaseName = QStringLiteral("通讯录.dat");

// A copy of the built program in a folder of its own, so that a run shows
// what it writes beside itself.
QString copyProgramInto(const QString &folder)
{
    const QString copy = QDir(folder).filePath(QStringLiteral("lanzhou-sms"));
    return QFile::copy(QStringLiteral(LANZHOU_PROGRAM), copy) ? copy : QString();
}

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run runProgram(const QString &program, const QStringList &arguments, const QString &home)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LANZHOU_SMS_CLOSE_AFTER_START"), QStringLiteral("1"));
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void folderRule_data();
    void folderRule();
    void missingFoldersAreCreatedPrivate();
    void fileInTheWayIsReported();
    void programKeepsItsDataWhereTheRuleSays_data();
    void programKeepsItsDataWhereTheRuleSays();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir m_dir;
};

void TestDataFolder::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QString::fromLatin1(ProgramIdentity::Name));
    QVERIFY(m_dir.isValid());
}

void TestDataFolder::folderRule_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("executableFolder");
    QTest::addColumn<QString>("installedBinFolder");
    QTest::addColumn<DataFolder::Kind>("kind");
    QTest::addColumn<QString>("expected");

    const QString app = m_dir.filePath(QStringLiteral("app"));
    const QString bin = m_dir.filePath(QStringLiteral("usr/bin"));
    const QString binLink = m_dir.filePath(QStringLiteral("bin"));
    const QString readOnly = m_dir.filePath(QStringLiteral("readonly"));
    QVERIFY(QDir().mkpath(app) && QDir().mkpath(bin) && QDir().mkpath(readOnly));
    QVERIFY(QFile::link(bin, binLink));
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    const QString perUser = DataFolder::perUserFolder();
    QVERIFY(perUser.endsWith(QStringLiteral("/lanzhou-sms")));

    QTest::newRow("portable: a writable folder of its own")
        << QString() << app << bin << DataFolder::Kind::Portable << app;
    QTest::newRow("installed: in the prefix's bin folder, writable or not")
        << QString() << bin << bin << DataFolder::Kind::PerUser << perUser;
    QTest::newRow("installed: started through a link to the bin folder")
        << QString() << binLink << bin << DataFolder::Kind::PerUser << perUser;
    QTest::newRow("installed: a folder it cannot write")
        << QString() << readOnly << bin << DataFolder::Kind::PerUser << perUser;
    QTest::newRow("chosen: wins over the installed location")
        << m_dir.filePath(QStringLiteral("mine")) << bin << bin << DataFolder::Kind::Chosen
        << m_dir.filePath(QStringLiteral("mine"));
    QTest::newRow("chosen: a relative folder is taken from the working folder")
        << QStringLiteral("data/../mine") << app << bin << DataFolder::Kind::Chosen
        << QDir::current().filePath(QStringLiteral("mine"));
}

void TestDataFolder::folderRule()
{
    QFETCH(QString, chosen);
    QFETCH(QString, executableFolder);
    QFETCH(QString, installedBinFolder);
    QFETCH(DataFolder::Kind, kind);
    QFETCH(QString, expected);
    // The read-only folder is one the program cannot write when run by root, too.
    const TestSupport::FileModesBindRoot modesBind;
    const DataFolder folder = DataFolder::choose(chosen, executableFolder, installedBinFolder);
    QCOMPARE(folder.kind(), kind);
    QCOMPARE(folder.path(), expected);
}

void TestDataFolder::missingFoldersAreCreatedPrivate()
{
    const QString outer = m_dir.filePath(QStringLiteral("home/.local"));
    const QString inner = outer + QStringLiteral("/share/lanzhou-sms");
    const DataFolder folder = DataFolder::choose(inner, QString(), QString());
    QString message;
    QVERIFY2(folder.prepare(&message), qPrintable(message));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                      | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    for (const QString &made : {outer, outer + QStringLiteral("/share"), inner}) {
        QVERIFY2(QFileInfo(made).isDir(), qPrintable(made));
        QCOMPARE(QFile::permissions(made) & others, QFile::Permissions());
    }
    // An existing folder is used as it is.
    QVERIFY(QFile::setPermissions(inner, QFile::permissions(inner) | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(folder.prepare(&message));
    QVERIFY(QFile::permissions(inner) & QFile::ReadOther);
}

void TestDataFolder::fileInTheWayIsReported()
{
    const QString file = m_dir.filePath(QStringLiteral("plainfile"));
    QVERIFY(TestSupport::writeAll(file, "x"));
    for (const QString &path : {file, file + QStringLiteral("/data")}) {
        QString message;
        QVERIFY(!DataFolder::choose(path, QString(), QString()).prepare(&message));
        QVERIFY2(message.startsWith(QStringLiteral("无法创建数据文件夹 ") + path), qPrintable(message));
    }
    QCOMPARE(TestSupport::readAll(file), QByteArray("x"));
}

// The built program, copied into a folder of its own and closed right after
// start: where do the database and the day's backup end up?
void TestDataFolder::programKeepsItsDataWhereTheRuleSays_data()
{
    QTest::addColumn<bool>("chooseFolder");
    QTest::newRow("portable: beside the executable") << false;
    QTest::newRow("--data-dir: there and nowhere else") << true;
}

void TestDataFolder::programKeepsItsDataWhereTheRuleSays()
{
    QFETCH(bool, chooseFolder);
    QTemporaryDir dir;
    const QString app = dir.filePath(QStringLiteral("app"));
    const QString home = dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(app) && QDir().mkpath(home));
    const QString program = copyProgramInto(app);
    QVERIFY(!program.isEmpty());
    const QString chosen = dir.filePath(QStringLiteral("chosen/data"));

    const Run run = runProgram(program,
                               chooseFolder ? QStringList{QStringLiteral("--data-dir"), chosen}
                                            : QStringList(),
                               home);
    QVERIFY2(run.status == 0, qPrintable(run.err));

    const QString dataFolder = chooseFolder ? chosen : app;
    QVERIFY(QFileInfo(QDir(dataFolder).filePath(DatabaseName)).isFile());
    QCOMPARE(QDir(QDir(dataFolder).filePath(QStringLiteral("数据备份")))
                 .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                 .size(),
             1);
    if (chooseFolder)
        QCOMPARE(TestSupport::entriesOf(app), QStringList{QStringLiteral("lanzhou-sms")});
    QCOMPARE(TestSupport::entriesOf(home).filter(QStringLiteral(".local")), QStringList());
}

void TestDataFolder::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outText");
    QTest::addColumn<QString>("errText");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << QStringLiteral("--data-dir")
                            << QString();
    QTest::newRow("-h after Qt options")
        << QStringList{QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--reverse"),
                       QStringLiteral("-h")}
        << 0 << QStringLiteral("用法") << QString();
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                               << ProgramIdentity::version() << QString();
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << 2 << QString()
                                    << QStringLiteral("“--frobnicate”");
    QTest::newRow("--data-dir without a folder") << QStringList{QStringLiteral("--data-dir")} << 2
                                                 << QString() << QStringLiteral("--data-dir");
    QTest::newRow("a stray argument") << QStringList{QStringLiteral("名单.xls")} << 2 << QString()
                                      << QStringLiteral("名单.xls");
}

void TestDataFolder::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, outText);
    QFETCH(QString, errText);
    QTemporaryDir home;
    const Run run = runProgram(QStringLiteral(LANZHOU_PROGRAM), arguments, home.path());
    QCOMPARE(run.status, status);
    QVERIFY2(run.out.contains(outText), qPrintable(run.out));
    QVERIFY2(run.err.contains(errText), qPrintable(run.err));
    // Nothing is started or created on the way.
    QCOMPARE(TestSupport::entriesOf(home.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "test_datafolder.moc"
