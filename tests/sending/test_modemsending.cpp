#include "sending/batchrunner.h"
#include "sending/sendinghub.h"
#include "sendingfixture.h"
#include "support/dbusmockbus.h"

#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString ModemManager = QStringLiteral("org.freedesktop.ModemManager1");
const QString Root = QStringLiteral("/org/freedesktop/ModemManager1");
const QString Mock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString Timeout =
    QStringLiteral("org.freedesktop.ModemManager1.Error.Message.NetworkTimeout");

} // namespace

// Batches through a stand-in ModemManager on a private system bus, into a
// real send log.
class TestModemSending : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void modemIsListedWithItsDetails();
    void eachRecipientGetsItsOwnText();
    void failureInTheMiddleIsRecordedAndTheBatchGoesOn();
    void optOutAfterTheBatchWasMadeIsHonoured();
    void fiveFailuresInARowPause();
    void modemGoingAwayPauses();
    void hourCapWaitsAndSurvivesARestart();
    void optOutReplyGoesOnTheList_data();
    void optOutReplyGoesOnTheList();
    void repliesHeldByTheModemAreReadAtStartOnce();
    void deliveryReportSettlesTheRecord_data();
    void deliveryReportSettlesTheRecord();
    void busyFileHoldsTheMessageBack();

private:
    QVariant steer(const QString &method, const QVariantList &arguments = {});
    QStringList sent();
    qint64 createBatch(const QStringList &mobiles, const BatchSettings &settings = {});
    BatchRunner *run(qint64 batch, const BatchSettings &settings = {});
    SendDevice modem() const;

    DBusMockBus m_bus{DBusMockBus::Kind::System};
    QString m_modemPath;
    QString m_modemId;
    std::unique_ptr<SendLogFile> m_file;
    std::unique_ptr<SendingHub> m_hub;
    QDateTime m_now;
    int m_sentBefore = 0;
};

void TestModemSending::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(&error), qPrintable(error));
    QVERIFY2(m_bus.startService(QStringLiteral("modemmanager.py"), ModemManager, &error),
             qPrintable(error));
}

void TestModemSending::init()
{
    m_modemPath =
        steer(QStringLiteral("AddModem"),
              {QStringLiteral("Quectel"), QStringLiteral("EC25"), QStringLiteral("中国移动"), 80u})
            .value<QDBusObjectPath>()
            .path();
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    m_now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    m_hub = std::make_unique<SendingHub>(m_file->database(), m_bus.connection(),
                                         QDBusConnection(QStringLiteral("no session bus")),
                                         [this] { return m_now; });
    QTRY_COMPARE(m_hub->devices().size(), 1);
    m_modemId = m_hub->devices().constFirst().id;
    m_sentBefore = 0;
    m_sentBefore = int(sent().size());
}

void TestModemSending::cleanup()
{
    m_hub.reset();
    m_file.reset();
    if (!m_modemPath.isEmpty())
        m_bus.call(ModemManager, Root, Mock, QStringLiteral("RemoveModem"),
                   {QVariant::fromValue(QDBusObjectPath(m_modemPath))});
}

QVariant TestModemSending::steer(const QString &method, const QVariantList &arguments)
{
    const QDBusMessage reply = m_bus.call(ModemManager, Root, Mock, method, arguments);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning() << method << reply.errorMessage();
        return {};
    }
    return reply.arguments().value(0);
}

QStringList TestModemSending::sent()
{
    return steer(QStringLiteral("Sent")).toStringList().mid(m_sentBefore);
}

SendDevice TestModemSending::modem() const
{
    return {BatchSettings::Channel::Modem, m_modemId, QString()};
}

qint64 TestModemSending::createBatch(const QStringList &mobiles, const BatchSettings &given)
{
    BatchSettings settings = given;
    settings.deviceId = m_modemId;
    qint64 batch = 0;
    QString error;
    if (m_file->log().createBatch(settings, recipientsFor(mobiles, QStringLiteral("您好")), m_now,
                                  &batch, &error)
        != LogWrite::Written)
        qWarning() << error;
    return batch;
}

BatchRunner *TestModemSending::run(qint64 batch, const BatchSettings &settings)
{
    BatchRunner *runner = m_hub->makeRunner(batch, settings, modem());
    runner->start();
    return runner;
}

void TestModemSending::modemIsListedWithItsDetails()
{
    const QList<SendDevice> devices = m_hub->devices();
    // Named by its IMEI (the stand-in's modems have no SIM).
    QVERIFY(devices.first().id.startsWith(QLatin1String("imei:8675309")));
    for (const char *part : {"Quectel", "EC25", "中国移动", "80%"})
        QVERIFY2(devices.first().label.contains(QString::fromUtf8(part)), part);
}

void TestModemSending::eachRecipientGetsItsOwnText()
{
    const QStringList mobiles = {QStringLiteral("13800000001"), QStringLiteral("13800000002"),
                                 QStringLiteral("13800000003")};
    const qint64 batch = createBatch(mobiles);
    BatchRunner *runner = run(batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(sent(),
             (QStringList{QStringLiteral("13800000001|您好 13800000001"),
                          QStringLiteral("13800000002|您好 13800000002"),
                          QStringLiteral("13800000003|您好 13800000003")}));
    QCOMPARE(m_file->states(batch), QStringList(3, QStringLiteral("已发送")));
    QCOMPARE(runner->progress().sent, 3);
    BatchSummary summary;
    QVERIFY(m_file->log().batch(batch, &summary, nullptr));
    QCOMPARE(summary.status, SendLog::finished());
}

void TestModemSending::failureInTheMiddleIsRecordedAndTheBatchGoesOn()
{
    steer(QStringLiteral("FailNumber"), {QStringLiteral("13800000012"), Timeout});
    const qint64 batch = createBatch({QStringLiteral("13800000011"), QStringLiteral("13800000012"),
                                      QStringLiteral("13800000013")});
    BatchRunner *runner = run(batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    steer(QStringLiteral("FailNumber"), {QStringLiteral("13800000012"), QString()});
    QCOMPARE(
        m_file->states(batch),
        (QStringList{QStringLiteral("已发送"), QStringLiteral("失败"), QStringLiteral("已发送")}));
    QCOMPARE(
        m_file->notes(batch).at(1),
        QStringLiteral("网络超时（org.freedesktop.ModemManager1.Error.Message.NetworkTimeout）"));
    QCOMPARE(runner->progress().failed, 1);
    QCOMPARE(sent().size(), 2);
}

void TestModemSending::optOutAfterTheBatchWasMadeIsHonoured()
{
    const qint64 batch = createBatch({QStringLiteral("13800000021"), QStringLiteral("13800000022"),
                                      QStringLiteral("13800000023")});
    // The reply came while the batch waited.
    QCOMPARE(m_file->log().addOptOuts({QStringLiteral("13800000022")}, QStringLiteral("短信回复"),
                                      m_now, nullptr, nullptr),
             LogWrite::Written);
    BatchRunner *runner = run(batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(sent(),
             (QStringList{QStringLiteral("13800000021|您好 13800000021"),
                          QStringLiteral("13800000023|您好 13800000023")}));
    QCOMPARE(m_file->states(batch).at(1), QStringLiteral("失败"));
    QVERIFY(m_file->notes(batch).at(1).contains(QStringLiteral("退订名单")));
}

void TestModemSending::fiveFailuresInARowPause()
{
    QStringList mobiles;
    for (int i = 0; i < 8; ++i)
        mobiles.append(QStringLiteral("1390000%1").arg(i, 4, 10, QLatin1Char('0')));
    for (const QString &mobile : mobiles)
        steer(QStringLiteral("FailNumber"),
              {mobile, QStringLiteral("org.freedesktop.ModemManager1.Error.Message.SomethingNew")});
    const qint64 batch = createBatch(mobiles);
    BatchRunner *runner = run(batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    for (const QString &mobile : mobiles)
        steer(QStringLiteral("FailNumber"), {mobile, QString()});
    QStringList expected(BatchRunner::FailuresInARowToPause, QStringLiteral("失败"));
    expected += QStringList(mobiles.size() - expected.size(), QStringLiteral("待发送"));
    QCOMPARE(m_file->states(batch), expected);
    // An error without a known reason says so in Chinese, and names it as D-Bus does.
    QCOMPARE(m_file->notes(batch).first(),
             QStringLiteral("短信猫报告了错误：sending failed"
                            "（org.freedesktop.ModemManager1.Error.Message.SomethingNew）"));
    QVERIFY(runner->statusText().contains(QString::number(BatchRunner::FailuresInARowToPause)));
    // Continued, the rest goes out.
    runner->resume();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(sent().size(), mobiles.size() - BatchRunner::FailuresInARowToPause);
}

void TestModemSending::modemGoingAwayPauses()
{
    // Slow enough that the modem is pulled while the batch runs.
    steer(QStringLiteral("SetSendDelay"), {QString(), 0.2});
    QStringList mobiles;
    for (int i = 0; i < 20; ++i)
        mobiles.append(QStringLiteral("1370000%1").arg(i, 4, 10, QLatin1Char('0')));
    const qint64 batch = createBatch(mobiles);
    BatchRunner *runner = run(batch);
    QTRY_VERIFY(sent().size() >= 2);
    steer(QStringLiteral("RemoveModem"), {QVariant::fromValue(QDBusObjectPath(m_modemPath))});
    m_modemPath.clear();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    steer(QStringLiteral("SetSendDelay"), {QString(), 0.0});
    QVERIFY(runner->statusText().contains(QStringLiteral("不在")));
    const QStringList states = m_file->states(batch);
    // Nothing is lost: what did not go out still waits, nothing is 发送中.
    QVERIFY(states.contains(QStringLiteral("待发送")));
    QVERIFY(!states.contains(QStringLiteral("发送中")));
    QCOMPARE(states.count(QStringLiteral("已发送")), sent().size());
}

void TestModemSending::hourCapWaitsAndSurvivesARestart()
{
    BatchSettings settings;
    settings.perHour = 2;
    const qint64 batch = createBatch({QStringLiteral("13600000001"), QStringLiteral("13600000002"),
                                      QStringLiteral("13600000003")},
                                     settings);
    BatchRunner *runner = run(batch, settings);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Waiting);
    QCOMPARE(sent().size(), 2);
    QVERIFY(runner->statusText().contains(QStringLiteral("每小时")));
    QVERIFY(runner->statusText().contains(QStringLiteral("11:00")));
    // A new runner (as after a restart) counts the same two from the log.
    m_now = m_now.addSecs(59 * 60);
    runner = run(batch, settings);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Waiting);
    QCOMPARE(sent().size(), 2);
    m_now = m_now.addSecs(60);
    runner->resume();
    runner->pause();
    runner->resume();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(sent().size(), 3);
}

void TestModemSending::optOutReplyGoesOnTheList_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("optsOut");
    QTest::newRow("退订") << QStringLiteral("退订") << true;
    QTest::newRow("t with blanks") << QStringLiteral("  t \n") << true;
    QTest::newRow("TD") << QStringLiteral("TD") << true;
    QTest::newRow("取消") << QStringLiteral("取消") << true;
    QTest::newRow("a sentence holding 退订") << QStringLiteral("我不想退订") << false;
    QTest::newRow("ordinary reply") << QStringLiteral("好的，谢谢") << false;
}

void TestModemSending::optOutReplyGoesOnTheList()
{
    QFETCH(QString, reply);
    QFETCH(bool, optsOut);
    QSignalSpy changed(m_hub.get(), &SendingHub::logChanged);
    steer(QStringLiteral("Receive"),
          {QVariant::fromValue(QDBusObjectPath(m_modemPath)), QStringLiteral("+8613500000001"),
           reply});
    QTRY_VERIFY(changed.count() > 0);
    QList<ReceivedMessage> received;
    QVERIFY(m_file->log().received(&received, nullptr));
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().mobile, QStringLiteral("13500000001"));
    QCOMPARE(received.first().text, reply);
    QList<OptOut> optOuts;
    QVERIFY(m_file->log().optOuts(&optOuts, nullptr));
    QCOMPARE(optOuts.size(), optsOut ? 1 : 0);
    if (optsOut) {
        QCOMPARE(optOuts.first().mobile, QStringLiteral("13500000001"));
        QCOMPARE(optOuts.first().source, QStringLiteral("短信回复"));
    }
}

void TestModemSending::repliesHeldByTheModemAreReadAtStartOnce()
{
    // Received while the program was not running.
    m_hub.reset();
    for (const QString &text : {QStringLiteral("退订"), QStringLiteral("好的")})
        steer(QStringLiteral("Receive"),
              {QVariant::fromValue(QDBusObjectPath(m_modemPath)), QStringLiteral("+8613500000007"),
               text});
    QList<ReceivedMessage> received;
    for (int start = 0; start < 2; ++start) {
        m_hub = std::make_unique<SendingHub>(m_file->database(), m_bus.connection(),
                                             QDBusConnection(QStringLiteral("no session bus")),
                                             [this] { return m_now; });
        QTRY_VERIFY(m_file->log().received(&received, nullptr) && received.size() == 2);
        QTest::qWait(300);
        QVERIFY(m_file->log().received(&received, nullptr));
        QCOMPARE(received.size(), 2);
    }
    QVERIFY(m_file->log().isOptedOut(QStringLiteral("13500000007")));
}

void TestModemSending::deliveryReportSettlesTheRecord_data()
{
    QTest::addColumn<uint>("deliveryState");
    QTest::addColumn<QString>("expected");
    QTest::newRow("delivered") << 0x00u << QStringLiteral("已送达");
    QTest::newRow("permanent error") << 0x41u << QStringLiteral("送达失败");
    QTest::newRow("still trying") << 0x20u << QStringLiteral("已发送");
}

void TestModemSending::deliveryReportSettlesTheRecord()
{
    QFETCH(uint, deliveryState);
    QFETCH(QString, expected);
    const qint64 batch =
        createBatch({QStringLiteral("13300000001"), QStringLiteral("13300000002")});
    BatchRunner *runner = run(batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QList<SendRecord> records;
    QVERIFY(m_file->log().records(batch, &records, nullptr));
    QVERIFY(records.at(1).reference >= 0);
    steer(QStringLiteral("Report"),
          {QVariant::fromValue(QDBusObjectPath(m_modemPath)), QStringLiteral("+8613300000002"),
           uint(records.at(1).reference), deliveryState});
    // A report of a network still trying writes nothing: a message received
    // after it shows that it was read.
    steer(QStringLiteral("Receive"),
          {QVariant::fromValue(QDBusObjectPath(m_modemPath)), QStringLiteral("13300000009"),
           QStringLiteral("收到")});
    QList<ReceivedMessage> received;
    QTRY_VERIFY(m_file->log().received(&received, nullptr) && received.size() == 1);
    QCOMPARE(m_file->states(batch).at(1), expected);
    QCOMPARE(m_file->states(batch).at(0), QStringLiteral("已发送"));
}

void TestModemSending::busyFileHoldsTheMessageBack()
{
    const qint64 batch = createBatch({QStringLiteral("13100000001")});
    // Another connection (a long command on a worker thread) holds the write lock.
    Database other;
    QString error;
    QVERIFY2(other.open(m_file->path(), Database::Access::ReadWrite, &error)
                 == Database::OpenResult::Ok,
             qPrintable(error));
    QVERIFY(other.execute("BEGIN IMMEDIATE"));
    BatchRunner *runner = run(batch);
    QTest::qWait(1500);
    QVERIFY(sent().isEmpty());
    QVERIFY(other.execute("COMMIT"));
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(sent().size(), 1);
}

QTEST_GUILESS_MAIN(TestModemSending)
#include "test_modemsending.moc"
