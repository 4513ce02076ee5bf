#include "scriptedchannel.h"
#include "sending/batchrunner.h"
#include "sending/pendingwrites.h"
#include "sendingfixture.h"
#include "storage/statement.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Done, paused, or waiting for its pace with nothing under way.
bool settled(const BatchRunner &runner)
{
    return runner.phase() == BatchRunner::Phase::Finished
           || runner.phase() == BatchRunner::Phase::Paused
           || runner.phase() == BatchRunner::Phase::Waiting;
}

} // namespace

// The runner's rules over one or several devices, against a real send log,
// with devices the test answers for.
class TestBatchRunner : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Several devices
    void eachDeviceKeepsItsOwnCaps();
    void aNumberStaysWithTheDeviceThatWroteToIt();
    void aFailingDeviceLeavesAndTheOthersTakeItsRecipients();
    void everyDeviceGoneThenBackGoesOnByItself();
    void aDeviceThatCannotBeMadeReadyIsNamed();

    // When the program cannot know, it does not send
    void unreadableOptOutListPausesWithItsCause();
    void aRefusalNotYetWrittenIsHonoured();
    void aBusyFileHoldsEveryMessageBack();
    void aMessageThatMayHaveLeftIsNeverSentAgain();
    void deletingABatchKeepsItsSendsCounted();
    void nothingLeftSaysFinishedNotWaiting();

private:
    BatchRunner *run(const BatchSettings &settings, const QStringList &numbers,
                     const QList<ScriptedChannel *> &channels);
    BatchSettings settingsFor(const QList<ScriptedChannel *> &channels) const;

    std::unique_ptr<SendLogFile> m_file;
    std::unique_ptr<PendingWrites> m_writes;
    std::unique_ptr<BatchRunner> m_runner;
    QSet<QString> m_unwrittenOptOuts;
    QDateTime m_now;
    qint64 m_batch = 0;
};

void TestBatchRunner::init()
{
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    m_writes = std::make_unique<PendingWrites>();
    m_unwrittenOptOuts.clear();
    m_now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
}

void TestBatchRunner::cleanup()
{
    m_runner.reset();
    m_writes.reset();
    m_file.reset();
}

BatchSettings TestBatchRunner::settingsFor(const QList<ScriptedChannel *> &channels) const
{
    BatchSettings settings;
    for (const ScriptedChannel *channel : channels)
        settings.deviceIds.append(channel->deviceId());
    settings.text = QStringLiteral("您好");
    return settings;
}

BatchRunner *TestBatchRunner::run(const BatchSettings &settings, const QStringList &numbers,
                                  const QList<ScriptedChannel *> &channels)
{
    m_batch = m_file->addBatch(settings, recipientsFor(numbers, QStringLiteral("您好")), m_now);
    const BatchServices services{m_file->log(), m_file->ledger(), m_file->optOuts(), *m_writes,
                                 [this](const QString &mobile) {
                                     return m_unwrittenOptOuts.contains(mobile);
                                 },
                                 [this] { return m_now; }};
    m_runner = std::make_unique<BatchRunner>(
        services, m_batch, settings,
        QList<SendChannel *>(channels.cbegin(), channels.cend()));
    m_runner->start();
    return m_runner.get();
}

void TestBatchRunner::eachDeviceKeepsItsOwnCaps()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    auto *b = new ScriptedChannel(QStringLiteral("iccid:B"));
    BatchSettings settings = settingsFor({a, b});
    settings.perHour = 2;
    BatchRunner *runner = run(settings, mobiles(6), {a, b});
    QTRY_VERIFY(settled(*runner));
    QCOMPARE(runner->phase(), BatchRunner::Phase::Waiting);
    QVERIFY(runner->statusText().contains(QStringLiteral("每小时上限")));
    QCOMPARE(a->sentTo.size(), 2);
    QCOMPARE(b->sentTo.size(), 2);
    QCOMPARE(runner->progress().remaining, 2);
    QCOMPARE(m_file->devices(m_batch).count(QStringLiteral("iccid:A")), 2);
    // The rest leaves an hour on, each card counting only its own sends
    // (which of the two takes them depends on how long each took).
    const SendPlan::Result plan = runner->plan();
    QCOMPARE(plan.shares.value(0) + plan.shares.value(1), 2);
    QCOMPARE(m_now.secsTo(plan.end), 3600);
}

void TestBatchRunner::aNumberStaysWithTheDeviceThatWroteToIt()
{
    // Last week 13800000003 heard from card B.
    BatchSettings earlier = settingsFor({});
    earlier.deviceIds = {QStringLiteral("iccid:B")};
    const qint64 before = m_file->addBatch(earlier, recipientsFor({QStringLiteral("13800000003")},
                                                                 QStringLiteral("上次")),
                                           m_now.addDays(-7));
    QList<SendRecord> records;
    QCOMPARE(m_file->log().records(before, {}, &records, nullptr), LogResult::Ok);
    bool taken = false;
    QCOMPARE(m_file->log().markSending(records.first().id, QStringLiteral("iccid:B"),
                                       m_now.addDays(-7), &taken, nullptr),
             LogResult::Ok);
    QVERIFY(taken);

    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    auto *b = new ScriptedChannel(QStringLiteral("iccid:B"));
    b->hold(); // B is slow: A takes everyone it may meanwhile
    BatchRunner *runner = run(settingsFor({a, b}), mobiles(4), {a, b});
    QTRY_COMPARE(a->sentTo.size() + b->sentTo.size(), 3);
    QTest::qWait(50);
    QVERIFY(!a->sentTo.contains(QStringLiteral("13800000003")));
    b->release();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QVERIFY(b->sentTo.contains(QStringLiteral("13800000003")));
}

void TestBatchRunner::aFailingDeviceLeavesAndTheOthersTakeItsRecipients()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    auto *b = new ScriptedChannel(QStringLiteral("iccid:B"));
    b->answerWith([](const QString &) {
        return SendResult{RecordState::Failed, QStringLiteral("短信中心拒绝发送"), {}, -1};
    });
    BatchRunner *runner = run(settingsFor({a, b}), mobiles(20), {a, b});
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(b->sentTo.size(), BatchRunner::FailuresInARowToLeave);
    QCOMPARE(a->sentTo.size(), 20 - BatchRunner::FailuresInARowToLeave);
    const QList<BatchRunner::Device> devices = runner->devices();
    QVERIFY(!devices.at(1).inBatch);
    QVERIFY(devices.at(1).status.contains(QStringLiteral("短信中心拒绝发送")));
    QCOMPARE(m_file->states(m_batch).count(QStringLiteral("失败")), BatchRunner::FailuresInARowToLeave);
}

void TestBatchRunner::everyDeviceGoneThenBackGoesOnByItself()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    a->hold();
    BatchRunner *runner = run(settingsFor({a}), mobiles(3), {a});
    QTRY_COMPARE(a->sentTo.size(), 1);
    a->setPresent(false);
    a->release();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    QVERIFY(runner->statusText().contains(QStringLiteral("拔掉了")));
    QCOMPARE(a->sentTo.size(), 1);
    a->setPresent(true);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(a->sentTo, mobiles(3));
}

void TestBatchRunner::aDeviceThatCannotBeMadeReadyIsNamed()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    a->refusePreparation(QStringLiteral("没有启用短信猫的权限"));
    BatchRunner *runner = run(settingsFor({a}), mobiles(2), {a});
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    QVERIFY(runner->statusText().contains(QStringLiteral("没有启用短信猫的权限")));
    QVERIFY(a->sentTo.isEmpty());
    QCOMPARE(m_file->states(m_batch), QStringList(2, QStringLiteral("待发送")));
}

void TestBatchRunner::unreadableOptOutListPausesWithItsCause()
{
    QVERIFY(m_file->execute("DROP TABLE [退订名单]; CREATE TABLE [退订名单] ([号码] TEXT)"));
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    BatchRunner *runner = run(settingsFor({a}), mobiles(2), {a});
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    QVERIFY(runner->statusText().contains(QStringLiteral("退订名单")));
    QVERIFY(a->sentTo.isEmpty());
}

void TestBatchRunner::aRefusalNotYetWrittenIsHonoured()
{
    m_unwrittenOptOuts.insert(QStringLiteral("13800000002"));
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    BatchRunner *runner = run(settingsFor({a}), mobiles(3), {a});
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(a->sentTo, (QStringList{QStringLiteral("13800000001"), QStringLiteral("13800000003")}));
    QCOMPARE(m_file->states(m_batch).at(1), QStringLiteral("失败"));
}

void TestBatchRunner::aBusyFileHoldsEveryMessageBack()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    Database other;
    QString error;
    QCOMPARE(other.open(m_file->path(), Database::Access::ReadWrite, &error), Database::OpenResult::Ok);
    BatchRunner *runner = run(settingsFor({a}), mobiles(2), {a});
    // Another program takes the file before the first message.
    QVERIFY(other.execute("BEGIN EXCLUSIVE", &error));
    QTest::qWait(1500);
    QVERIFY(a->sentTo.isEmpty());
    QVERIFY(runner->statusText().contains(QStringLiteral("数据库正忙")));
    QVERIFY(other.execute("COMMIT", &error));
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(a->sentTo, mobiles(2));
}

void TestBatchRunner::aMessageThatMayHaveLeftIsNeverSentAgain()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    a->answerWith([](const QString &number) {
        return number.endsWith(u'1') ? SendResult{RecordState::Unconfirmed, QStringLiteral("短信猫没有应答"), {}, -1}
                                     : SendResult{RecordState::Sent, {}, {}, -1};
    });
    BatchRunner *runner = run(settingsFor({a}), mobiles(2), {a});
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(m_file->states(m_batch), (QStringList{QStringLiteral("未确认"), QStringLiteral("已发送")}));
    QCOMPARE(runner->progress().unconfirmed, 1);
    // Continued: nobody waits, nothing leaves.
    runner->resume();
    QTest::qWait(100);
    QCOMPARE(a->sentTo, mobiles(2));
}

void TestBatchRunner::deletingABatchKeepsItsSendsCounted()
{
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    BatchSettings settings = settingsFor({a});
    settings.perHour = 2;
    BatchRunner *runner = run(settings, mobiles(2), {a});
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(m_file->log().deleteBatch(m_batch, nullptr), LogResult::Ok);
    m_runner.reset();
    auto *again = new ScriptedChannel(QStringLiteral("iccid:A"));
    BatchRunner *second = run(settings, mobiles(2, 13900000001), {again});
    QTRY_VERIFY(settled(*second));
    QVERIFY(again->sentTo.isEmpty());
    QVERIFY(second->statusText().contains(QStringLiteral("每小时上限")));
}

void TestBatchRunner::nothingLeftSaysFinishedNotWaiting()
{
    // The first card to answer starts its interval while the other still
    // sends the last message.
    auto *a = new ScriptedChannel(QStringLiteral("iccid:A"));
    auto *b = new ScriptedChannel(QStringLiteral("iccid:B"));
    BatchSettings settings = settingsFor({a, b});
    settings.intervalSeconds = 30;
    b->hold();
    BatchRunner *runner = run(settings, mobiles(2), {a, b});
    QTRY_VERIFY(b->sentTo.size() == 1 && !runner->devices().value(0).status.isEmpty());
    b->release();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(runner->statusText(), QStringLiteral("发送完毕。"));
    QVERIFY(!runner->isActive());
    for (const BatchRunner::Device &device : runner->devices())
        QVERIFY2(device.status.isEmpty(), qPrintable(device.status));
}

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "test_batchrunner.moc"
