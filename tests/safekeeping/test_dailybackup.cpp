#include "safekeeping/dailybackup.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestDailyBackup : public QObject
{
    Q_OBJECT

private slots:
    void folderIsNamedAfterTheDay_data();
    void folderIsNamedAfterTheDay();
    void writesAnEqualCopyAndMakesTheFolders();
    void failedCopyKeepsThePreviousOne();
    void folderInTheWayIsReported_data();
    void folderInTheWayIsReported();
};

void TestDailyBackup::folderIsNamedAfterTheDay_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("folder");
    QTest::newRow("6th") << QDate(2024, 3, 6) << "数据备份/6日";
    QTest::newRow("1st") << QDate(2024, 2, 1) << "数据备份/1日";
    QTest::newRow("10th") << QDate(2024, 12, 10) << "数据备份/10日";
    QTest::newRow("31st") << QDate(2024, 1, 31) << "数据备份/31日";
    QTest::newRow("29 Feb") << QDate(2024, 2, 29) << "数据备份/29日";
}

void TestDailyBackup::folderIsNamedAfterTheDay()
{
    QFETCH(QDate, day);
    QFETCH(QString, folder);
    QCOMPARE(DailyBackup::folderPath(QStringLiteral("/app"), day), QStringLiteral("/app/") + folder);
    QCOMPARE(DailyBackup::filePath(QStringLiteral("/app"), day),
             QStringLiteral("/app/") + folder + QStringLiteral("/通讯录.dat"));
}

void TestDailyBackup::writesAnEqualCopyAndMakesTheFolders()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("通讯录.dat"));
    QByteArray content(70000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i % 253);
    QVERIFY(TestSupport::writeAll(source, content));

    QString error;
    QVERIFY2(DailyBackup::write(dir.path(), source, QDate(2024, 5, 9), &error), qPrintable(error));
    const QString copy = dir.filePath(QStringLiteral("数据备份/9日/通讯录.dat"));
    QCOMPARE(TestSupport::readAll(copy), content);
    QCOMPARE(TestSupport::entriesOf(dir.filePath(QStringLiteral("数据备份/9日"))),
             QStringList{QStringLiteral("通讯录.dat")});
}

void TestDailyBackup::failedCopyKeepsThePreviousOne()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("通讯录.dat"));
    QVERIFY(TestSupport::writeAll(source, "yesterday's"));
    const QDate day(2024, 5, 9);
    QVERIFY(DailyBackup::write(dir.path(), source, day, nullptr));

    QVERIFY(QFile::remove(source)); // the copy cannot be read now
    QString error;
    QVERIFY(!DailyBackup::write(dir.path(), source, day, &error));
    QVERIFY(error.contains(QDir::toNativeSeparators(DailyBackup::filePath(dir.path(), day))));
    QCOMPARE(TestSupport::readAll(DailyBackup::filePath(dir.path(), day)), QByteArray("yesterday's"));
    QCOMPARE(TestSupport::entriesOf(DailyBackup::folderPath(dir.path(), day)),
             QStringList{QStringLiteral("通讯录.dat")});
}

void TestDailyBackup::folderInTheWayIsReported_data()
{
    QTest::addColumn<QString>("inTheWay"); // under the data folder
    QTest::addColumn<bool>("link");        // else a plain file
    QTest::newRow("plain file named like the day's folder") << "数据备份/9日" << false;
    QTest::newRow("day's folder a link elsewhere") << "数据备份/9日" << true;
    QTest::newRow("backup folder a link elsewhere") << "数据备份" << true;
}

// Nothing is written there, nor through it.
void TestDailyBackup::folderInTheWayIsReported()
{
    QFETCH(QString, inTheWay);
    QFETCH(bool, link);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString source = dir.filePath(QStringLiteral("通讯录.dat"));
    QVERIFY(TestSupport::writeAll(source, "data"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("数据备份")));
    QVERIFY(QDir(elsewhere.path()).mkpath(QStringLiteral("9日")));
    const QString outside = elsewhere.filePath(QStringLiteral("9日/通讯录.dat"));
    QVERIFY(TestSupport::writeAll(outside, "someone else's"));
    const QString path = dir.filePath(inTheWay);
    QDir().rmdir(path);
    if (link)
        QVERIFY(QFile::link(inTheWay.endsWith(u'日') ? elsewhere.filePath(QStringLiteral("9日"))
                                                     : elsewhere.path(),
                            path));
    else
        QVERIFY(TestSupport::writeAll(path, "file"));
    QString error;
    QVERIFY(!DailyBackup::write(dir.path(), source, QDate(2024, 5, 9), &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QCOMPARE(TestSupport::readAll(outside), QByteArray("someone else's"));
    QCOMPARE(TestSupport::entriesOf(elsewhere.filePath(QStringLiteral("9日"))),
             QStringList{QStringLiteral("通讯录.dat")});
    if (!link)
        QCOMPARE(TestSupport::readAll(path), QByteArray("file"));
}

QTEST_GUILESS_MAIN(TestDailyBackup)
#include "test_dailybackup.moc"
