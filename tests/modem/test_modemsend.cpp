#include "modemlinkfixture.h"

#include <QJsonArray>
#include <QSignalSpy>

using namespace ModemLinkTest;
using Readiness = ModemInfo::Readiness;

// Sending through the real ModemManager: what the modem is asked to send,
// the message's state, and what becomes of a send the modem refuses or
// never answers.
class TestModemSend : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void disabledModemIsEnabledByItsFirstSend();
    void messageStateIsUnknownUntilSent();
    void refusedMessagesFail_data();
    void refusedMessagesFail();
    void longTextGoesOutInPartsNamedByTheLast();
    void unansweredSendIsUnconfirmed();
    void modemManagerGoneDuringASendLeavesItUnconfirmed();
    void modemThatStoppedAnsweringFailsTheSend();

private:
    QJsonObject steer(const QJsonObject &command) { return m_rig->steer(m_index, command); }

    std::unique_ptr<ModemRig> m_rig;
    std::unique_ptr<ModemManagerLink> m_link;
    ModemRig::Modem m_made = modemNumbered(1);
    int m_index = -1;
};

void TestModemSend::init()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    ADD_MODEM(*m_rig, m_index, m_made);
    m_link = std::make_unique<ModemManagerLink>(m_rig->linkConnection());
    QVERIFY(waitForReadiness(*m_link, idOf(m_made), Readiness::Disabled));
}

void TestModemSend::cleanup()
{
    if (m_rig)
        m_rig->reportIfFailed();
    m_link.reset();
    m_rig.reset();
}

void TestModemSend::disabledModemIsEnabledByItsFirstSend()
{
    const auto outcome = sendThrough(*m_link, idOf(m_made), QStringLiteral("13912345678"),
                                     QStringLiteral("您好，张先生"));
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Sent);
    QVERIFY(outcome->createdFirst);
    QCOMPARE(outcome->result->smsPath, outcome->createdPath);
    const QList<QJsonObject> sent = m_rig->sent(m_index);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().value(QStringLiteral("number")).toString(),
             QStringLiteral("13912345678"));
    QCOMPARE(sent.first().value(QStringLiteral("text")).toString(), QStringLiteral("您好，张先生"));
    QVERIFY(sent.first().value(QStringLiteral("statusReport")).toBool());
    QCOMPARE(outcome->result->reference,
             sent.first().value(QStringLiteral("messageReference")).toInteger());
    QVERIFY(waitForReadiness(*m_link, idOf(m_made), Readiness::Ready));
    QCOMPARE(outcome->doneCalls, 1);
}

void TestModemSend::messageStateIsUnknownUntilSent()
{
    // The modem takes its time, so the message is seen while it goes out.
    steer({{QStringLiteral("cmd"), QStringLiteral("delay")}, {QStringLiteral("ms"), 2000}});
    const QString number = QStringLiteral("13912345678");
    const QString text = QStringLiteral("状态");
    auto states = std::make_shared<QList<int>>();
    auto result = std::make_shared<std::optional<SendResult>>();
    m_link->send(
        idOf(m_made), number, text,
        [this, states, number, text](const QString &path) {
            m_link->readSmsState(
                idOf(m_made), path, number, text,
                [states](std::optional<uint> state) { states->append(state ? int(*state) : -1); });
        },
        [result](const SendResult &sent) { *result = sent; });
    QTRY_VERIFY_WITH_TIMEOUT(result->has_value(), WaitMs);
    QCOMPARE(*states, QList<int>{int(ModemManagerLink::Unknown)});
    const QString path = result->value().smsPath;
    QCOMPARE(smsState(*m_link, idOf(m_made), path, number, text), int(ModemManagerLink::Sent));
    // Another number or text at that path is another message.
    QCOMPARE(smsState(*m_link, idOf(m_made), path, QStringLiteral("13900000000"), text), -1);
    QCOMPARE(smsState(*m_link, idOf(m_made), path, number, QStringLiteral("别的")), -1);
    QCOMPARE(smsState(*m_link, QStringLiteral("iccid:0"), path, number, text), -1);
}

void TestModemSend::refusedMessagesFail_data()
{
    QTest::addColumn<int>("cms");
    QTest::addColumn<QString>("note");
    const QString unknown =
        QStringLiteral("（org.freedesktop.ModemManager1.Error.Message.Unknown）");
    QTest::newRow("network out of order")
        << 38 << QStringLiteral("短信中心拒绝发送：网络故障（CMS 38）") + unknown;
    QTest::newRow("unknown error")
        << 500 << QStringLiteral("短信猫报告了未知错误（CMS 500）") + unknown;
    QTest::newRow("cause without a name")
        << 99 << QStringLiteral("短信中心拒绝发送（CMS 99）") + unknown;
    QTest::newRow("no network")
        << 331
        << QStringLiteral("没有网络（org.freedesktop.ModemManager1.Error.Message.NoNetwork）");
}

void TestModemSend::refusedMessagesFail()
{
    QFETCH(int, cms);
    QFETCH(QString, note);
    const QString number = QStringLiteral("13912345678");
    steer({{QStringLiteral("cmd"), QStringLiteral("fail_next")},
           {QStringLiteral("number"), number},
           {QStringLiteral("cms"), cms}});
    const auto outcome = sendThrough(*m_link, idOf(m_made), number, QStringLiteral("被拒"));
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Failed);
    QCOMPARE(outcome->result->note, note);
    QCOMPARE(outcome->result->smsPath, outcome->createdPath);
    // Refused, the message stays as made: neither sent nor anything else.
    QCOMPARE(smsState(*m_link, idOf(m_made), outcome->createdPath, number, QStringLiteral("被拒")),
             int(ModemManagerLink::Unknown));
    // The next one to the same number goes out.
    const auto next = sendThrough(*m_link, idOf(m_made), number, QStringLiteral("再来"));
    QVERIFY(next->result);
    QCOMPARE(next->result->state, RecordState::Sent);
}

void TestModemSend::longTextGoesOutInPartsNamedByTheLast()
{
    QString text;
    for (int i = 0; i < 10; ++i)
        text += QStringLiteral("第%1句：感谢您一直以来的支持。").arg(i);
    const auto outcome = sendThrough(*m_link, idOf(m_made), QStringLiteral("+8613912345678"), text);
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Sent);
    const QList<QJsonObject> parts = m_rig->sent(m_index);
    QVERIFY(parts.size() > 1);
    QString joined;
    for (const QJsonObject &part : parts) {
        joined += part.value(QStringLiteral("text")).toString();
        QCOMPARE(part.value(QStringLiteral("encoding")).toString(), QStringLiteral("ucs2"));
        QCOMPARE(
            part.value(QStringLiteral("concat")).toObject().value(QStringLiteral("total")).toInt(),
            parts.size());
        // Only the last part asks for a delivery report ...
        QCOMPARE(part.value(QStringLiteral("statusReport")).toBool(), &part == &parts.last());
    }
    QCOMPARE(joined, text);
    // ... and the message carries that part's reference.
    QCOMPARE(outcome->result->reference,
             parts.last().value(QStringLiteral("messageReference")).toInteger());
}

void TestModemSend::unansweredSendIsUnconfirmed()
{
    steer({{QStringLiteral("cmd"), QStringLiteral("hang")}});
    m_link->setSendTimeout(3000);
    const auto outcome = sendThrough(*m_link, idOf(m_made), QStringLiteral("13912345678"),
                                     QStringLiteral("石沉大海"));
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Unconfirmed);
    QCOMPARE(outcome->result->note,
             QStringLiteral("无法确认短信是否已经发出：没有等到短信猫的回答"
                            "（org.freedesktop.DBus.Error.NoReply）"));
    QCOMPARE(outcome->result->smsPath, outcome->createdPath);
    const QList<QJsonObject> sent = m_rig->sent(m_index);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().value(QStringLiteral("answered")).toBool(true), false);
}

void TestModemSend::modemManagerGoneDuringASendLeavesItUnconfirmed()
{
    steer({{QStringLiteral("cmd"), QStringLiteral("hang")}});
    ModemChannel channel(*m_link, idOf(m_made));
    QSignalSpy gone(&channel, &SendChannel::availabilityChanged);
    auto result = std::make_shared<std::optional<SendResult>>();
    channel.send(
        QStringLiteral("13912345678"), QStringLiteral("半路"), [](const QString &) {},
        [result](const SendResult &sent) { *result = sent; });
    // Stopped once the modem has the message.
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->sent(m_index).size(), 1, WaitMs);
    m_rig->stopModemManager();
    QTRY_VERIFY_WITH_TIMEOUT(result->has_value(), WaitMs);
    QCOMPARE(result->value().state, RecordState::Unconfirmed);
    QVERIFY(result->value().note.startsWith(QStringLiteral("无法确认短信是否已经发出")));
    QTRY_COMPARE(gone.count(), 1);
    QVERIFY(m_link->modems().isEmpty());
}

void TestModemSend::modemThatStoppedAnsweringFailsTheSend()
{
    QString error;
    QVERIFY2(m_rig->enable(m_index, &error), qPrintable(error));
    QVERIFY(waitForReadiness(*m_link, idOf(m_made), Readiness::Ready));
    // The modem's port closes: ModemManager keeps listing it.
    steer({{QStringLiteral("cmd"), QStringLiteral("vanish")}});
    const auto outcome =
        sendThrough(*m_link, idOf(m_made), QStringLiteral("13912345678"), QStringLiteral("没人接"));
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Failed);
    QCOMPARE(outcome->result->note,
             QStringLiteral(
                 "与短信猫的连接已经断开（org.freedesktop.ModemManager1.Error.Core.Connected）"));
    QVERIFY(m_rig->sent(m_index).isEmpty());
}

QTEST_GUILESS_MAIN(TestModemSend)
#include "test_modemsend.moc"
