#include "instantcommands.h"
#include "modem/modemlinkfixture.h"
#include "phonelink/kdeconnectphones.h"
#include "sending/batchstarter.h"
#include "sending/sendingservice.h"
#include "sendingfixture.h"
#include "storage/statement.h"
#include "support/writefault.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QJsonObject>
#include <QTest>

using ModemLinkTest::idOf;
using ModemLinkTest::modemNumbered;

namespace {

constexpr int BatchMs = 60000;

QStringList numbersSent(const ModemRig &rig, int modem)
{
    QStringList numbers;
    for (const QJsonObject &message : rig.sent(modem)) {
        if (message.value(QStringLiteral("answered")).toBool())
            numbers.append(message.value(QStringLiteral("number")).toString());
    }
    return numbers;
}

} // namespace

// Batches through the real ModemManager and emulated modems, from the
// service the program sends through, into a real send log.
class TestModemBatches : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void disabledModemIsEnabledAndTheBatchGoesOut();
    void refusedPermissionIsSaidBeforeAnyoneIsMarked();
    void lockedSimIsListedButCannotBeChosen();
    void networkRefusalIsFailedInChinese();
    void noAnswerIsUnconfirmedAndNotResent();
    void refusalReplyGoesOnTheListAndLeavesTheSim();
    void refusalWhileTheFileIsHeldIsHonouredAndWrittenLater();
    void refusalOnAFullDiskPausesAndIsWrittenOnceThereIsRoom();
    void deliveryReportSettlesTheRecordAndFreesTheModem();
    void capsAndBatchFollowTheSimToANewPath();
    void poolSplitsByEachSimsCaps();
    void aSimThatGoesAwayHandsItsRecipientsOver();
    void scheduledBatchLeavesAtItsTime();

private:
    void startService(ModemRig::Polkit polkit = ModemRig::Polkit::Allow);
    int addModem(const ModemRig::Modem &modem);
    qint64 batchOf(const QStringList &modemIds, const QStringList &numbers,
                   const BatchSettings &pace = {});
    BatchRunner *runBatch(qint64 batch);
    QStringList states(qint64 batch) { return m_file->states(batch); }
    // The messages ModemManager holds for the modem, as its own list says.
    QStringList listedOn(int modem) const;
    // How many messages the emulated SIM holds.
    int storedOn(int modem) const
    {
        return m_rig->steer(modem, {{QStringLiteral("cmd"), QStringLiteral("state")}})
            .value(QStringLiteral("stored"))
            .toInt();
    }

    std::unique_ptr<ModemRig> m_rig;
    std::unique_ptr<SendLogFile> m_file;
    std::unique_ptr<ModemManagerLink> m_link;
    std::unique_ptr<KdeConnectPhones> m_phones;
    std::unique_ptr<SendingService> m_service;
    InstantCommands m_commands;
    std::unique_ptr<BatchStarter> m_starter;
    QDateTime m_start;
    qint64 m_clockShiftSecs = 0;
};

QStringList TestModemBatches::listedOn(int modem) const
{
    const QDBusMessage reply = m_rig->connection().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ModemManager1"), m_rig->path(modem),
        QStringLiteral("org.freedesktop.ModemManager1.Modem.Messaging"), QStringLiteral("List")));
    QStringList paths;
    for (const QDBusObjectPath &path :
         qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0)))
        paths.append(path.path());
    return paths;
}

void TestModemBatches::init()
{
    m_rig = std::make_unique<ModemRig>();
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    m_start = QDateTime::currentDateTime();
    m_clockShiftSecs = 0;
}

void TestModemBatches::cleanup()
{
    if (m_rig)
        m_rig->reportIfFailed();
    m_starter.reset();
    m_service.reset();
    m_phones.reset();
    m_link.reset();
    m_rig.reset();
    m_file.reset();
}

void TestModemBatches::startService(ModemRig::Polkit polkit)
{
    START_MODEM_RIG(*m_rig, polkit);
    m_link = std::make_unique<ModemManagerLink>(m_rig->linkConnection());
    m_phones = std::make_unique<KdeConnectPhones>(QDBusConnection(QStringLiteral("none")));
    m_service = std::make_unique<SendingService>(m_file->database(), *m_link, *m_phones, [this] {
        return QDateTime::currentDateTime().addSecs(m_clockShiftSecs);
    });
    m_starter = std::make_unique<BatchStarter>(*m_service, m_commands);
}

int TestModemBatches::addModem(const ModemRig::Modem &modem)
{
    QString error;
    const int index = m_rig->addModem(modem, &error);
    if (index < 0) {
        qWarning("modem not added: %s", qPrintable(error));
    } else if (!QTest::qWaitFor([&] { return m_link->modem(idOf(modem)).has_value(); }, BatchMs)) {
        QStringList listed;
        for (const ModemInfo &info : m_link->modems())
            listed.append(info.id + u' ' + info.path + u' ' + info.label());
        qWarning("the link never listed %s; it lists: %s (bus %s, ModemManager %s)",
                 qPrintable(idOf(modem)), qPrintable(listed.join(QStringLiteral("; "))),
                 m_rig->linkConnection().isConnected() ? "connected" : "not connected",
                 m_link->hasAnswered() ? "answered" : "never answered");
        return -1;
    }
    return index;
}

qint64 TestModemBatches::batchOf(const QStringList &modemIds, const QStringList &numbers,
                                 const BatchSettings &pace)
{
    BatchSettings settings = pace;
    settings.channel = BatchSettings::Channel::Modem;
    settings.deviceIds = modemIds;
    settings.text = QStringLiteral("您好");
    return m_file->addBatch(settings, recipientsFor(numbers, QStringLiteral("您好")),
                            m_service->clock()());
}

BatchRunner *TestModemBatches::runBatch(qint64 batch)
{
    BatchRunner *runner = m_service->run(batch);
    if (!runner)
        qWarning("batch %lld did not start", batch);
    return runner;
}

void TestModemBatches::disabledModemIsEnabledAndTheBatchGoesOut()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(1);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    QCOMPARE(m_link->modem(idOf(modem))->readiness, ModemInfo::Readiness::Disabled);
    const QList<SendDevice> devices = m_service->devices();
    QCOMPARE(devices.size(), 1);
    QVERIFY(devices.first().usable);

    const qint64 batch = batchOf({idOf(modem)}, mobiles(3));
    BatchRunner *runner = runBatch(batch);
    QVERIFY(runner);
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    QCOMPARE(states(batch), QStringList(3, QStringLiteral("已发送")));
    QCOMPARE(m_file->devices(batch), QStringList(3, idOf(modem)));
    QCOMPARE(numbersSent(*m_rig, index), mobiles(3));
    const QList<QJsonObject> sent = m_rig->sent(index);
    QCOMPARE(sent.first().value(QStringLiteral("text")).toString(),
             QStringLiteral("您好 13800000001"));
}

void TestModemBatches::refusedPermissionIsSaidBeforeAnyoneIsMarked()
{
    startService(ModemRig::Polkit::Refuse);
    const ModemRig::Modem modem = modemNumbered(2);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    const qint64 batch = batchOf({idOf(modem)}, mobiles(2));
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Paused, BatchMs);
    const QString said = runner->statusText();
    QVERIFY2(said.contains(QStringLiteral("不允许")), qPrintable(said));
    QCOMPARE(states(batch), QStringList(2, QStringLiteral("待发送")));
    QVERIFY(m_rig->sent(index).isEmpty());
}

void TestModemBatches::lockedSimIsListedButCannotBeChosen()
{
    startService();
    ModemRig::Modem modem = modemNumbered(3);
    modem.pin = QStringLiteral("1234");
    QVERIFY(addModem(modem) >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(!m_service->devices().isEmpty(), BatchMs);
    const SendDevice device = m_service->devices().first();
    QVERIFY(!device.usable);
    QVERIFY2(device.label.contains(QStringLiteral("PIN")), qPrintable(device.label));
}

void TestModemBatches::networkRefusalIsFailedInChinese()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(4);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    for (int cms : {38, 500})
        m_rig->steer(index,
                     {{QStringLiteral("cmd"), QStringLiteral("fail_next")},
                      {QStringLiteral("number"), QStringLiteral("13800000002")},
                      {QStringLiteral("cms"), cms}});
    const qint64 batch = batchOf({idOf(modem)}, mobiles(3));
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    QCOMPARE(
        states(batch),
        (QStringList{QStringLiteral("已发送"), QStringLiteral("失败"), QStringLiteral("已发送")}));
    const QString note = m_file->notes(batch).at(1);
    // A Chinese reason first; the D-Bus name may only follow it.
    QVERIFY2(!note.isEmpty() && note.at(0).script() == QChar::Script_Han, qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("38")), qPrintable(note));
}

void TestModemBatches::noAnswerIsUnconfirmedAndNotResent()
{
    startService();
    m_link->setSendTimeout(5000);
    const ModemRig::Modem modem = modemNumbered(5);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    m_rig->steer(index, {{QStringLiteral("cmd"), QStringLiteral("hang")}});
    const qint64 batch = batchOf({idOf(modem)}, mobiles(1));
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    QCOMPARE(states(batch), QStringList{QStringLiteral("未确认")});
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("hang")}, {QStringLiteral("on"), false}});
    // 重发失败的 without the 未确认: there is nobody to send.
    bool answered = false;
    QString error;
    m_starter->resend(batch, false, [&](const BatchStarter::Outcome &outcome) {
        answered = true;
        error = outcome.error;
    });
    QTRY_VERIFY(answered);
    QVERIFY(!error.isEmpty());
    QCOMPARE(m_rig->sent(index).size(), 1);
}

void TestModemBatches::refusalReplyGoesOnTheListAndLeavesTheSim()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(6);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    QVERIFY(m_rig->enable(index, nullptr));
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("deliver")},
                  {QStringLiteral("from"), QStringLiteral("+8613800000007")},
                  {QStringLiteral("text"), QStringLiteral("回T退订")}});
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            bool optedOut = false;
            return m_file->optOuts().contains(QStringLiteral("13800000007"), &optedOut, nullptr)
                == LogResult::Ok
                && optedOut;
        }(),
        BatchMs);
    QList<ReceivedMessage> received;
    QCOMPARE(m_file->inbox().messages(&received, nullptr), LogResult::Ok);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().text, QStringLiteral("回T退订"));
    QVERIFY(!received.first().deviceName.isEmpty());
    // Once the log holds it, the SIM's room is free again.
    QTRY_COMPARE_WITH_TIMEOUT(storedOn(index), 0, BatchMs);
}

void TestModemBatches::refusalWhileTheFileIsHeldIsHonouredAndWrittenLater()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(7);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("delay")}, {QStringLiteral("ms"), 1500}});
    const qint64 batch = batchOf({idOf(modem)}, mobiles(3));
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->sent(index).size(), 1, BatchMs);
    // Another program takes the file while the second message is out;
    // meanwhile number 3 says 退订.
    Database other;
    QString error;
    QCOMPARE(other.open(m_file->path(), Database::Access::ReadWrite, &error),
             Database::OpenResult::Ok);
    QVERIFY(other.execute("BEGIN EXCLUSIVE", &error));
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("deliver")},
                  {QStringLiteral("from"), QStringLiteral("13800000003")},
                  {QStringLiteral("text"), QStringLiteral("退订")}});
    QTest::qWait(4000);
    QVERIFY(other.execute("COMMIT", &error));
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    QCOMPARE(numbersSent(*m_rig, index),
             (QStringList{QStringLiteral("13800000001"), QStringLiteral("13800000002")}));
    bool optedOut = false;
    QCOMPARE(m_file->optOuts().contains(QStringLiteral("13800000003"), &optedOut, nullptr),
             LogResult::Ok);
    QVERIFY(optedOut);
}

void TestModemBatches::refusalOnAFullDiskPausesAndIsWrittenOnceThereIsRoom()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(15);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("delay")}, {QStringLiteral("ms"), 1500}});
    const qint64 batch = batchOf({idOf(modem)}, mobiles(3));
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->sent(index).size(), 1, BatchMs);
    // The disk fills while the second message is out; meanwhile number 3
    // says T.
    WriteFault disk(m_file->database().handle());
    QVERIFY(disk.isInstalled());
    disk.failEveryRow();
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("deliver")},
                  {QStringLiteral("from"), QStringLiteral("13800000003")},
                  {QStringLiteral("text"), QStringLiteral("T")}});
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Paused, BatchMs);
    QVERIFY2(runner->statusText().contains(QStringLiteral("写入")),
             qPrintable(runner->statusText()));
    // The reply stays on the SIM until the log holds it.
    QCOMPARE(storedOn(index), 1);
    // 继续 while the disk is still full sends nothing more.
    const qsizetype before = m_rig->sent(index).size();
    runner->resume();
    QTest::qWait(2000);
    QCOMPARE(m_rig->sent(index).size(), before);
    disk.heal();
    QTRY_VERIFY_WITH_TIMEOUT(m_service->writes().isEmpty(), BatchMs);
    runner->resume();
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    QCOMPARE(numbersSent(*m_rig, index),
             (QStringList{QStringLiteral("13800000001"), QStringLiteral("13800000002")}));
    bool optedOut = false;
    QCOMPARE(m_file->optOuts().contains(QStringLiteral("13800000003"), &optedOut, nullptr),
             LogResult::Ok);
    QVERIFY(optedOut);
    QTRY_COMPARE_WITH_TIMEOUT(storedOn(index), 0, BatchMs);
}

void TestModemBatches::deliveryReportSettlesTheRecordAndFreesTheModem()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(8);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    const qint64 batch = batchOf({idOf(modem)}, mobiles(1));
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    QList<SendRecord> records;
    QCOMPARE(m_file->log().records(batch, {}, &records, nullptr), LogResult::Ok);
    QVERIFY(!records.first().smsPath.isEmpty());
    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("report")},
                  {QStringLiteral("reference"), int(records.first().reference)},
                  {QStringLiteral("outcome"), QStringLiteral("delivered")}});
    QTRY_COMPARE_WITH_TIMEOUT(states(batch), QStringList{QStringLiteral("已送达")}, BatchMs);
    // The sent message and its report are gone from the modem.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QList<SendRecord> now;
            m_file->log().records(batch, {}, &now, nullptr);
            return now.first().smsPath.isEmpty();
        }(),
        BatchMs);
    QTRY_VERIFY_WITH_TIMEOUT(!listedOn(index).contains(records.first().smsPath), BatchMs);
}

void TestModemBatches::capsAndBatchFollowTheSimToANewPath()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(9);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    BatchSettings pace;
    pace.perHour = 1;
    const qint64 batch = batchOf({idOf(modem)}, mobiles(2), pace);
    BatchRunner *runner = runBatch(batch);
    QTRY_VERIFY2_WITH_TIMEOUT(runner->phase() == BatchRunner::Phase::Waiting,
                              qPrintable(runner->statusText()), BatchMs);
    const QString before = m_rig->path(index);
    QString error;
    QVERIFY2(m_rig->unplug(index, &error), qPrintable(error));
    QVERIFY2(m_rig->plugIn(index, &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->modem(idOf(modem)).has_value(), BatchMs);
    QVERIFY(m_rig->path(index) != before);
    // Back under another path, it still had its one message this hour.
    QTest::qWait(3000);
    QCOMPARE(m_rig->sent(index).size(), 1);
    QVERIFY(runner->statusText().contains(QStringLiteral("每小时上限")));
    QCOMPARE(states(batch), (QStringList{QStringLiteral("已发送"), QStringLiteral("待发送")}));
}

void TestModemBatches::poolSplitsByEachSimsCaps()
{
    startService();
    const ModemRig::Modem first = modemNumbered(10);
    const ModemRig::Modem second = modemNumbered(11);
    const int a = addModem(first);
    const int b = addModem(second);
    QVERIFY(a >= 0 && b >= 0);
    BatchSettings pace;
    pace.perHour = 2;
    const qint64 batch = batchOf({idOf(first), idOf(second)}, mobiles(6), pace);
    BatchRunner *runner = runBatch(batch);
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Waiting, BatchMs);
    QTRY_COMPARE_WITH_TIMEOUT(runner->progress().remaining, 2, BatchMs);
    QCOMPARE(numbersSent(*m_rig, a).size(), 2);
    QCOMPARE(numbersSent(*m_rig, b).size(), 2);
    QSet<QString> everyone;
    for (const QString &number : numbersSent(*m_rig, a) + numbersSent(*m_rig, b))
        everyone.insert(number);
    QCOMPARE(everyone.size(), 4);
}

void TestModemBatches::aSimThatGoesAwayHandsItsRecipientsOver()
{
    startService();
    const ModemRig::Modem first = modemNumbered(12);
    const ModemRig::Modem second = modemNumbered(13);
    const int a = addModem(first);
    const int b = addModem(second);
    QVERIFY(a >= 0 && b >= 0);
    for (int index : {a, b})
        m_rig->steer(
            index, {{QStringLiteral("cmd"), QStringLiteral("delay")}, {QStringLiteral("ms"), 400}});
    const qint64 batch = batchOf({idOf(first), idOf(second)}, mobiles(12));
    BatchRunner *runner = runBatch(batch);
    QTRY_VERIFY_WITH_TIMEOUT(numbersSent(*m_rig, b).size() >= 2, BatchMs);
    QString error;
    QVERIFY2(m_rig->unplug(b, &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(runner->phase(), BatchRunner::Phase::Finished, BatchMs);
    const QStringList all = numbersSent(*m_rig, a) + numbersSent(*m_rig, b);
    QCOMPARE(QSet<QString>(all.cbegin(), all.cend()).size(), all.size()); // nobody twice
    const QStringList recorded = states(batch);
    QCOMPARE(recorded.count(QStringLiteral("待发送")), 0);
    // What B had under way when it went may not have left: never resent.
    QCOMPARE(recorded.count(QStringLiteral("已发送")) + recorded.count(QStringLiteral("未确认"))
                 + recorded.count(QStringLiteral("失败")),
             12);
    QVERIFY(runner->devices().at(0).sent > runner->devices().at(1).sent);
}

void TestModemBatches::scheduledBatchLeavesAtItsTime()
{
    startService();
    const ModemRig::Modem modem = modemNumbered(14);
    const int index = addModem(modem);
    QVERIFY(index >= 0);
    BatchSettings settings;
    settings.deviceIds = {idOf(modem)};
    settings.text = QStringLiteral("周六促销");
    const QDateTime at = m_service->clock()().addSecs(3);
    const qint64 batch = m_file->addBatch(
        settings, recipientsFor(mobiles(2), QStringLiteral("促销")), m_service->clock()(), at);
    m_service->scheduleChanged();
    QTest::qWait(1000);
    QVERIFY(m_rig->sent(index).isEmpty());
    BatchSummary summary;
    QCOMPARE(m_file->log().batch(batch, &summary, nullptr), LogResult::Ok);
    QCOMPARE(summary.status, BatchStatus::Scheduled);
    QTRY_VERIFY2_WITH_TIMEOUT(states(batch) == QStringList(2, QStringLiteral("已发送")),
                              qPrintable(m_service->runner() ? m_service->runner()->statusText()
                                                             : QStringLiteral("not started")),
                              BatchMs);
    // The log keeps whole seconds.
    QVERIFY(QDateTime::currentDateTime() >= at.addMSecs(-at.time().msec()));
}

QTEST_GUILESS_MAIN(TestModemBatches)
#include "test_modembatches.moc"
