#include "followupfixture.h"

#include "exchange/sheetreader.h"
#include "followup/recordexport.h"
#include "storage/migrations.h"
#include "storage/statement.h"
#include "storage/template/databasetemplate.h"
#include "support/testsupport.h"

#include <QTest>

namespace {

QStringList mobilesOf(const QVector<DueEntry> &entries)
{
    QStringList mobiles;
    for (const DueEntry &entry : entries)
        mobiles << entry.mobile;
    return mobiles;
}

QStringList linesOf(const QVector<HistoryEntry> &entries)
{
    QStringList lines;
    for (const HistoryEntry &entry : entries)
        lines << QStringList{entry.time, entry.method, entry.result}.join(u'|');
    return lines;
}

QDate date(const QString &text)
{
    return QDate::fromString(text, Qt::ISODate);
}

} // namespace

class TestFollowUpStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void dueList_data();
    void dueList();
    void dueListFollowsEditsAndDeletions();
    void dueEntryNamesThePersonAndEveryGroup();
    void historyMergesTheSendLogNewestFirst();
    void refusedRecordStoresNothing_data();
    void refusedRecordStoresNothing();
    void rewriteMayKeepWhatTheFileHolds_data();
    void rewriteMayKeepWhatTheFileHolds();
    void oddNumbersAndLongTextsAreKept();
    void upgradedFileFromTheTemplateFindsItsContacts();
    void exportReadsBack_data();
    void exportReadsBack();
    void failedExportKeepsTheOlderFile_data();
    void failedExportKeepsTheOlderFile();
    void telUrl_data();
    void telUrl();

private:
    std::unique_ptr<FollowUpFixture> m_fixture;
};

void TestFollowUpStore::init()
{
    m_fixture = std::make_unique<FollowUpFixture>();
    QString error;
    QVERIFY2(m_fixture->open(&error), qPrintable(error));
}

void TestFollowUpStore::dueList_data()
{
    QTest::addColumn<QStringList>("records"); // mobile|time|method|result|next
    QTest::addColumn<QString>("today");
    QTest::addColumn<QStringList>("due");

    QTest::newRow("the newest record decides")
        << QStringList{"13800000001|2026-12-01 09:00:00|电话|未接通|2026-12-02",
                       "13800000001|2026-12-03 09:00:00|电话|已接通|",
                       "13800000002|2026-12-01 09:00:00|电话|关机|2026-12-06"}
        << "2026-12-07" << QStringList{"13800000002"};
    QTest::newRow("today is due, tomorrow is not")
        << QStringList{"13800000001|2026-12-01 09:00:00|电话|未接通|2026-12-07",
                       "13800000002|2026-12-01 09:00:00|电话|未接通|2026-12-08"}
        << "2026-12-07" << QStringList{"13800000001"};
    QTest::newRow("longest due first, then the older last call")
        << QStringList{"13800000001|2026-12-05 09:00:00|电话|拒接|2026-12-06",
                       "13800000002|2026-12-01 09:00:00|电话|关机|2026-12-02",
                       "13800000003|2026-12-04 09:00:00|上门|已接通|2026-12-06"}
        << "2026-12-07" << QStringList{"13800000002", "13800000003", "13800000001"};
    QTest::newRow("a call entered late for an earlier time does not replace the newest")
        << QStringList{"13800000001|2026-12-05 09:00:00|电话|未接通|2026-12-06",
                       "13800000001|2026-12-01 09:00:00|电话|已接通|"}
        << "2026-12-07" << QStringList{"13800000001"};
    QTest::newRow("same time: the later record counts")
        << QStringList{"13800000001|2026-12-05 09:00:00|电话|未接通|2026-12-06",
                       "13800000001|2026-12-05 09:00:00|电话|已接通|",
                       "13800000002|2026-12-05 09:00:00|电话|已接通|",
                       "13800000002|2026-12-05 09:00:00|电话|未接通|2026-12-06"}
        << "2026-12-07" << QStringList{"13800000002"};
    QTest::newRow("a number that is not a valid mobile is due like any")
        << QStringList{"8123|2026-12-01 09:00:00|其他|空号|2026-12-01"} << "2026-12-07"
        << QStringList{"8123"};
    QTest::newRow("records without a date are never due")
        << QStringList{"13800000001|2026-12-01 09:00:00|短信||"} << "2026-12-07"
        << QStringList{};
}

void TestFollowUpStore::dueList()
{
    QFETCH(QStringList, records);
    QFETCH(QString, today);
    QFETCH(QStringList, due);
    QString error;
    for (const QString &line : std::as_const(records))
        QVERIFY2(m_fixture->add(line, &error), qPrintable(error));
    QVector<DueEntry> entries;
    QCOMPARE(m_fixture->store().dueList(date(today), &entries, &error), StoreResult::Ok);
    QCOMPARE(mobilesOf(entries), due);
    qsizetype count = -1;
    QCOMPARE(m_fixture->store().dueCount(date(today), &count, &error), StoreResult::Ok);
    QCOMPARE(count, due.size());
}

void TestFollowUpStore::dueListFollowsEditsAndDeletions()
{
    FollowUpStore &store = m_fixture->store();
    FollowUpRecord older = FollowUpFixture::parse("13800000001|2026-12-01 09:00:00|电话|未接通|2026-12-02");
    FollowUpRecord newer = FollowUpFixture::parse("13800000001|2026-12-03 09:00:00|电话|已接通|");
    QCOMPARE(store.add(&older), StoreResult::Ok);
    QCOMPARE(store.add(&newer), StoreResult::Ok);
    const QDate today(2026, 12, 7);
    const auto due = [&] {
        QVector<DueEntry> entries;
        store.dueList(today, &entries);
        return mobilesOf(entries);
    };
    QCOMPARE(due(), QStringList{});

    newer.nextDate = QStringLiteral("2026-12-04");
    QCOMPARE(store.update(newer), StoreResult::Ok);
    QCOMPARE(due(), QStringList{"13800000001"});

    // Moved to another number: the first number's older record decides again.
    newer.mobile = QStringLiteral("13900000009");
    newer.nextDate.clear();
    QCOMPARE(store.update(newer), StoreResult::Ok);
    QCOMPARE(due(), QStringList{"13800000001"});

    QCOMPARE(store.remove(older.id), StoreResult::Ok);
    QCOMPARE(due(), QStringList{});
    QCOMPARE(store.remove(older.id), StoreResult::NotFound);
    newer.id = older.id;
    QCOMPARE(store.update(newer), StoreResult::NotFound);
}

void TestFollowUpStore::dueEntryNamesThePersonAndEveryGroup()
{
    QVERIFY(m_fixture->addContact(QStringLiteral("老客户"), QStringLiteral("13800000001"),
                                  QStringLiteral("王五")));
    QVERIFY(m_fixture->addContact(QStringLiteral("二〇二六"), QStringLiteral("13800000002"),
                                  QStringLiteral("赵六")));
    QVERIFY(m_fixture->addContact(QStringLiteral("二〇二六"), QStringLiteral("13800000001"),
                                  QStringLiteral("王五（新）")));
    QVERIFY(m_fixture->add("13800000001|2026-12-01 09:00:00|电话|未接通|2026-12-02"));
    QVERIFY(m_fixture->add("13700000000|2026-12-01 10:00:00|电话|空号|2026-12-02"));

    QVector<DueEntry> entries;
    QCOMPARE(m_fixture->store().dueList(QDate(2026, 12, 7), &entries), StoreResult::Ok);
    QCOMPARE(entries.size(), 2);
    const DueEntry &kept = entries.at(0);
    QCOMPARE(kept.name, QStringLiteral("王五"));
    QCOMPARE(kept.firstGroup, QStringLiteral("老客户"));
    QCOMPARE(kept.groups, QStringLiteral("老客户、二〇二六"));
    QCOMPARE(kept.lastResult, QStringLiteral("未接通"));
    ContactList holders;
    QStringList groups;
    QCOMPARE(m_fixture->contacts().holdersOf(QStringLiteral("13800000001"), &holders, &groups),
             StoreResult::Ok);
    QCOMPARE(kept.contactRowId, holders.first().rowId);

    const DueEntry &gone = entries.at(1);
    QCOMPARE(gone.contactRowId, 0);
    QVERIFY(gone.groups.isEmpty());
}

void TestFollowUpStore::historyMergesTheSendLogNewestFirst()
{
    const QString mobile = QStringLiteral("13800000001");
    QVERIFY(m_fixture->add("13800000001|2026-12-03 09:00:00|电话|已接通|"));
    QVERIFY(m_fixture->add("13800000002|2026-12-05 09:00:00|电话|已接通|"));
    QVERIFY(m_fixture->addSentMessage(mobile, QStringLiteral("您好"), QStringLiteral("已发送"),
                                      QStringLiteral("2026-12-02 10:00:00")));
    // Not sent yet: it stands at its batch's time.
    QVERIFY(m_fixture->addSentMessage(mobile, QStringLiteral("明天见"), QStringLiteral("待发送"),
                                      QString(), QStringLiteral("2026-12-04 08:00:00")));
    QVERIFY(m_fixture->addSentMessage(QStringLiteral("13800000002"), QStringLiteral("别人的"),
                                      QStringLiteral("已发送"), QStringLiteral("2026-12-06 10:00:00")));

    QVector<HistoryEntry> entries;
    QCOMPARE(m_fixture->store().history(QStringLiteral(" 13800000001 "), &entries),
             StoreResult::Ok);
    QCOMPARE(linesOf(entries), (QStringList{"2026-12-04 08:00:00|短信|待发送",
                                            "2026-12-03 09:00:00|电话|已接通",
                                            "2026-12-02 10:00:00|短信|已发送"}));
    QCOMPARE(entries.at(0).content, QStringLiteral("明天见"));
    QVERIFY(entries.at(0).fromSendLog);
    QVERIFY(!entries.at(1).fromSendLog);
}

void TestFollowUpStore::refusedRecordStoresNothing_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("named"); // what the message must point at

    QTest::newRow("no number") << "  |2026-12-07 14:30:00|电话||" << "手机号";
    QTest::newRow("time without leading zeros") << "13800000001|2026-12-7 9:30:00|电话||"
                                                << "2026-12-7 9:30:00";
    QTest::newRow("no such day") << "13800000001|2026-02-30 14:30:00|电话||"
                                 << "2026-02-30 14:30:00";
    QTest::newRow("unknown method") << "13800000001|2026-12-07 14:30:00|微信||" << "微信";
    QTest::newRow("next date not a date") << "13800000001|2026-12-07 14:30:00|电话||2026-13-01"
                                          << "2026-13-01";
    QTest::newRow("next date with a time") << "13800000001|2026-12-07 14:30:00|电话||2026-12-08 10:00"
                                           << "2026-12-08 10:00";
}

void TestFollowUpStore::refusedRecordStoresNothing()
{
    QFETCH(QString, line);
    QFETCH(QString, named);
    QString error;
    QVERIFY(!m_fixture->add(line, &error));
    QVERIFY2(error.contains(named), qPrintable(error));
    qsizetype count = -1;
    QCOMPARE(m_fixture->store().recordCount(&count), StoreResult::Ok);
    QCOMPARE(count, 0);
}

void TestFollowUpStore::rewriteMayKeepWhatTheFileHolds_data()
{
    QTest::addColumn<QString>("time"); // written in the file's shape, no real time
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("newTime");
    QTest::addColumn<QString>("newNext");
    QTest::addColumn<QString>("refused"); // named in the message; "" when stored

    const QString badTime = QStringLiteral("2026-02-30 09:00:00");
    const QString badDate = QStringLiteral("2026-13-01");
    const QString goodTime = QStringLiteral("2026-12-01 09:00:00");
    QTest::newRow("time as stored") << badTime << QString() << badTime << QString() << QString();
    QTest::newRow("date as stored") << goodTime << badDate << goodTime << badDate << QString();
    QTest::newRow("another bad time")
        << badTime << QString() << QStringLiteral("2026-02-31 09:00:00") << QString()
        << QStringLiteral("2026-02-31");
    QTest::newRow("another bad date")
        << goodTime << badDate << goodTime << QStringLiteral("2026-14-01")
        << QStringLiteral("2026-14-01");
}

void TestFollowUpStore::rewriteMayKeepWhatTheFileHolds()
{
    QFETCH(QString, time);
    QFETCH(QString, next);
    QFETCH(QString, newTime);
    QFETCH(QString, newNext);
    QFETCH(QString, refused);
    QVERIFY(m_fixture->add("13800000001|2026-12-01 09:00:00|电话|未接通|"));
    const QByteArray sql = "UPDATE [回访记录] SET [时间] = '" + time.toUtf8()
        + "', [下次回访] = " + (next.isEmpty() ? QByteArray("NULL") : "'" + next.toUtf8() + "'");
    QString error;
    QVERIFY2(m_fixture->database().execute(sql.constData(), &error), qPrintable(error));
    FollowUpRecord record;
    QCOMPARE(m_fixture->store().record(1, &record), StoreResult::Ok);

    record.result = QStringLiteral("已接通");
    record.time = newTime;
    record.nextDate = newNext;
    const StoreResult written = m_fixture->store().update(record, &error);
    FollowUpRecord read;
    QCOMPARE(m_fixture->store().record(1, &read), StoreResult::Ok);
    if (refused.isEmpty()) {
        QCOMPARE(written, StoreResult::Ok);
        QCOMPARE(read, record);
    } else {
        QCOMPARE(written, StoreResult::Failed);
        QVERIFY2(error.contains(refused), qPrintable(error));
        QCOMPARE(read.result, QStringLiteral("未接通"));
    }
}

void TestFollowUpStore::oddNumbersAndLongTextsAreKept()
{
    FollowUpRecord record = FollowUpFixture::parse(" 010-8888 ' 6666 |2026-12-07 14:30:00|上门|见面|");
    record.content = QString(100000, u'记') + QStringLiteral("\n'; DROP TABLE [回访记录]; --");
    QString error;
    QCOMPARE(m_fixture->store().add(&record, &error), StoreResult::Ok);
    FollowUpRecord read;
    QCOMPARE(m_fixture->store().record(record.id, &read), StoreResult::Ok);
    QCOMPARE(read.mobile, QStringLiteral("010-8888 ' 6666"));
    QCOMPARE(read.content, record.content);
    QVERIFY(read.nextDate.isEmpty());
}

void TestFollowUpStore::upgradedFileFromTheTemplateFindsItsContacts()
{
    // A file as the program before the follow-up left it: the template with
    // contacts in it, version 0.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("通讯录.dat"));
    QString error;
    QCOMPARE(DatabaseTemplate::ensureDatabaseFile(path, &error),
             DatabaseTemplate::EnsureResult::Created);
    Database database;
    QVERIFY(database.open(path, Database::Access::ReadWrite, &error) == Database::OpenResult::Ok);
    ContactStore contacts(database);
    QCOMPARE(contacts.addGroup(QStringLiteral("老分组")), StoreResult::Ok);
    Contact contact(u"13800000001", u"张三", u"先生", u"");
    QCOMPARE(contacts.addContact(QStringLiteral("老分组"), &contact), StoreResult::Ok);

    QVERIFY2(Migrations::upgrade(database.handle(), &error), qPrintable(error));
    FollowUpStore store(database);
    ContactList holders;
    QStringList groups;
    QCOMPARE(contacts.holdersOf(QStringLiteral("13800000001"), &holders, &groups), StoreResult::Ok);
    QCOMPARE(groups, QStringList{QStringLiteral("老分组")});
    QCOMPARE(holders.first().rowId, contact.rowId);
    QStringList results;
    QCOMPARE(store.results(&results), StoreResult::Ok);
    QVERIFY(results.contains(QStringLiteral("已接通")));
    QCOMPARE(store.rememberResult(QStringLiteral("  改天再打 ")), StoreResult::Ok);
    QCOMPARE(store.rememberResult(QStringLiteral("已接通")), StoreResult::Ok);
    QStringList after;
    QCOMPARE(store.results(&after), StoreResult::Ok);
    QCOMPARE(after, results + QStringList{QStringLiteral("改天再打")});

    // The contact's deletion leaves its records.
    FollowUpRecord record = FollowUpFixture::parse("13800000001|2026-12-07 14:30:00|电话|已接通|2026-12-01");
    QCOMPARE(store.add(&record), StoreResult::Ok);
    QCOMPARE(contacts.deleteGroup(QStringLiteral("老分组")), StoreResult::Ok);
    QVector<DueEntry> due;
    QCOMPARE(store.dueList(QDate(2026, 12, 7), &due), StoreResult::Ok);
    QCOMPARE(mobilesOf(due), QStringList{"13800000001"});
    QCOMPARE(due.first().contactRowId, 0);
}

void TestFollowUpStore::exportReadsBack_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("xlsx") << int(RecordExport::Format::Xlsx);
    QTest::newRow("csv") << int(RecordExport::Format::Csv);
}

void TestFollowUpStore::exportReadsBack()
{
    QFETCH(int, format);
    QVERIFY(m_fixture->addContact(QStringLiteral("甲组"), QStringLiteral("13800000001"),
                                  QStringLiteral("张三")));
    QVERIFY(m_fixture->addContact(QStringLiteral("乙组"), QStringLiteral("13800000001"),
                                  QStringLiteral("张三")));
    FollowUpRecord tricky = FollowUpFixture::parse("13800000001|2026-12-07 14:30:00|电话|已接通|2026-12-08");
    tricky.content = QStringLiteral("说：\"好的, 明天\"\n第二行 _x0041_");
    QCOMPARE(m_fixture->store().add(&tricky), StoreResult::Ok);
    QVERIFY(m_fixture->add("13800000001|2026-12-01 09:00:00|短信|已发送|"));
    QVERIFY(m_fixture->add("13500000000|2026-12-02 09:00:00|上门|见面|"));

    const QString path = m_fixture->folder() + (format == int(RecordExport::Format::Csv)
                                                    ? QStringLiteral("/回访.csv")
                                                    : QStringLiteral("/回访.xlsx"));
    QString error;
    QVERIFY2(
        RecordExport::write(m_fixture->store(), path, RecordExport::Format(format), {}, &error),
        qPrintable(error));
    std::unique_ptr<SheetReader> reader = SheetReader::forFile(path, &error);
    QVERIFY2(reader, qPrintable(error));
    QVector<QStringList> rows;
    QVERIFY2(reader->readFirstSheet(path, 8, &rows, &error), qPrintable(error));
    const QVector<QStringList> expected{
        {"手机号", "姓名", "分组", "时间", "方式", "结果", "内容", "下次回访"},
        {"13500000000", "", "", "2026-12-02 09:00:00", "上门", "见面",
         "内容 13500000000|2026-12-02 09:00:00|上门|见面|", ""},
        {"13800000001", "张三", "甲组、乙组", "2026-12-01 09:00:00", "短信", "已发送",
         "内容 13800000001|2026-12-01 09:00:00|短信|已发送|", ""},
        {"13800000001", "张三", "甲组、乙组", "2026-12-07 14:30:00", "电话", "已接通",
         tricky.content, "2026-12-08"},
    };
    QCOMPARE(rows, expected);
}

void TestFollowUpStore::failedExportKeepsTheOlderFile_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("cancel"); // else the disk fills up
    QTest::newRow("xlsx, disk full") << int(RecordExport::Format::Xlsx) << false;
    QTest::newRow("csv, disk full") << int(RecordExport::Format::Csv) << false;
    QTest::newRow("xlsx, cancelled") << int(RecordExport::Format::Xlsx) << true;
    QTest::newRow("csv, cancelled") << int(RecordExport::Format::Csv) << true;
}

void TestFollowUpStore::failedExportKeepsTheOlderFile()
{
    QFETCH(int, format);
    QFETCH(bool, cancel);
    // Many short records for a cancel to stop, one record longer than the disk takes.
    FollowUpRecord record = FollowUpFixture::parse("13800000001|2026-12-07 14:30:00|电话|已接通|");
    record.content = cancel ? QStringLiteral("短") : QString(200000, u'长');
    QVERIFY(m_fixture->database().execute("BEGIN"));
    for (int i = 0; i < (cancel ? 10000 : 1); ++i)
        QCOMPARE(m_fixture->store().add(&record), StoreResult::Ok);
    QVERIFY(m_fixture->database().execute("COMMIT"));
    const QString path = m_fixture->folder() + QStringLiteral("/旧文件");
    QVERIFY(TestSupport::writeAll(path, "older"));
    QString error;
    if (cancel) {
        // Cancelled at the second report, with rows already in the file.
        int reports = 0;
        QVERIFY(!RecordExport::writeFromFile(
            m_fixture->database().path(), path, RecordExport::Format(format),
            [&reports](qsizetype) { return ++reports < 2; }, &error));
        QCOMPARE(reports, 2);
    } else {
        TestSupport::FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.ok());
        QVERIFY(!RecordExport::write(m_fixture->store(), path, RecordExport::Format(format), {},
                                     &error));
    }
    QVERIFY(!error.isEmpty());
    QCOMPARE(TestSupport::readAll(path), QByteArray("older"));
    QCOMPARE(TestSupport::entriesOf(m_fixture->folder()),
             (QStringList{QStringLiteral("旧文件"), QStringLiteral("通讯录.dat")}));
}

void TestFollowUpStore::telUrl_data()
{
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QString>("url");
    QTest::newRow("plain") << "13800138000" << "tel:13800138000";
    QTest::newRow("blanks and dashes") << " 138-0013 8000 " << "tel:13800138000";
    QTest::newRow("international") << "+86 138 0013 8000" << "tel:+8613800138000";
    QTest::newRow("no digit") << "张三" << "";
    QTest::newRow("only a plus") << "+" << "";
    QTest::newRow("URL characters stay out") << "138;?#&00" << "tel:13800";
}

void TestFollowUpStore::telUrl()
{
    QFETCH(QString, mobile);
    QFETCH(QString, url);
    QCOMPARE(FollowUpRules::telUrl(mobile), url);
}

QTEST_GUILESS_MAIN(TestFollowUpStore)
#include "test_followupstore.moc"
