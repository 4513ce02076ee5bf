#include "modemlinkfixture.h"

#include <QDBusObjectPath>
#include <QSignalSpy>

using namespace ModemLinkTest;
using Readiness = ModemInfo::Readiness;

// The modems as the link lists them, against the real ModemManager: their
// identity, their readiness and labels, and how they follow the daemon.
class TestModemList : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void disabledModemIsListedThenEnabled();
    void everyModemOfAPoolIsListedWithItsOwnId();
    void lockedSimWaitsForItsPin();
    void modemWithoutSimIsNamedByItsImei();
    void signalAndRegistrationShowInTheLabel();
    void replugGivesANewPathAndTheSameId();
    void restartedModemManagerKeepsTheIdButNotTheMessages();
    void refusalWithoutPolkitRuleIsToldBeforeAnythingIsSent();

private:
    std::unique_ptr<ModemRig> m_rig;
};

void TestModemList::cleanup()
{
    if (m_rig)
        m_rig->reportIfFailed();
    m_rig.reset();
}

void TestModemList::disabledModemIsListedThenEnabled()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    const ModemRig::Modem made = modemNumbered(1);
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    ModemManagerLink link(m_rig->linkConnection());
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    ModemInfo modem = *link.modem(idOf(made));
    QCOMPARE(modem.path, m_rig->path(index));
    QCOMPARE(modem.iccid, made.iccid);
    QCOMPARE(modem.imei, made.imei);
    QCOMPARE(modem.ownNumber, made.number);
    QVERIFY(modem.canSend());
    QCOMPARE(modem.label(), QStringLiteral("Lanzhou GSM Modem（尾号 5601）：短信猫还没有启用"));

    bool enabled = false;
    QString why = QStringLiteral("not answered");
    link.enable(idOf(made), [&](bool ok, const QString &error) {
        enabled = ok;
        why = error;
    });
    QTRY_VERIFY_WITH_TIMEOUT(enabled, WaitMs);
    QVERIFY(why.isEmpty());
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Ready));
    // The operator and the signal follow registration.
    QTRY_COMPARE_WITH_TIMEOUT(link.modem(idOf(made))->label(),
                              QStringLiteral("Lanzhou GSM Modem（中国移动，尾号 5601，信号 80%）"), WaitMs);
    modem = *link.modem(idOf(made));
    QCOMPARE(modem.simLabel(), QStringLiteral("中国移动 尾号 5601"));
    QVERIFY(modem.problem.isEmpty());
    // Asked again, it is enabled already.
    int answers = 0;
    link.enable(idOf(made), [&](bool ok, const QString &) { answers += ok ? 1 : 100; });
    QTRY_COMPARE(answers, 1);
}

void TestModemList::everyModemOfAPoolIsListedWithItsOwnId()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    QList<ModemRig::Modem> made;
    for (int n = 1; n <= 3; ++n) {
        made.append(modemNumbered(n));
        int index = -1;
        ADD_MODEM(*m_rig, index, made.last());
        QString error;
        QVERIFY2(m_rig->enable(index, &error), qPrintable(error));
    }
    ModemManagerLink link(m_rig->linkConnection());
    for (const ModemRig::Modem &modem : std::as_const(made))
        QVERIFY2(waitForReadiness(link, idOf(modem), Readiness::Ready), qPrintable(idOf(modem)));
    QCOMPARE(link.modems().size(), made.size());
    // Through the second one: only its own modem sends.
    const auto outcome = sendThrough(link, idOf(made.at(1)), QStringLiteral("13912345678"),
                                     QStringLiteral("池中第二个"));
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Sent);
    QCOMPARE(m_rig->sent(0).size(), 0);
    QCOMPARE(m_rig->sent(1).size(), 1);
    QCOMPARE(m_rig->sent(2).size(), 0);
}

void TestModemList::lockedSimWaitsForItsPin()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    ModemRig::Modem made = modemNumbered(2);
    made.pin = QStringLiteral("1234");
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    ModemManagerLink link(m_rig->linkConnection());
    QTRY_VERIFY_WITH_TIMEOUT(!link.modems().isEmpty(), WaitMs);
    ModemInfo modem = link.modems().constFirst();
    QCOMPARE(modem.readiness, Readiness::Locked);
    QVERIFY(!modem.canSend());
    QCOMPARE(modem.problem, QStringLiteral("SIM 卡需要 PIN 码"));
    QVERIFY(modem.label().endsWith(QStringLiteral("：SIM 卡需要 PIN 码")));
    // The SIM is read while it waits for its PIN: the id is the one it keeps.
    QCOMPARE(modem.id, idOf(made));

    const auto refused =
        sendThrough(link, idOf(made), QStringLiteral("13912345678"), QStringLiteral("不该发出"));
    QVERIFY(refused->result);
    QCOMPARE(refused->result->state, RecordState::Failed);
    QCOMPARE(refused->result->note, QStringLiteral("SIM 卡需要 PIN 码"));
    QVERIFY(refused->createdPath.isEmpty());
    QVERIFY(m_rig->sent(index).isEmpty());

    // The PIN given as a user would (mmcli --pin): the modem comes up.
    const QString simPath =
        m_rig->connection()
            .call(QDBusMessage::createMethodCall(
                      QStringLiteral("org.freedesktop.ModemManager1"), modem.path,
                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
                  << QStringLiteral("org.freedesktop.ModemManager1.Modem") << QStringLiteral("Sim"))
            .arguments()
            .value(0)
            .value<QDBusVariant>()
            .variant()
            .value<QDBusObjectPath>()
            .path();
    const QDBusMessage pin = m_rig->connection().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ModemManager1"), simPath,
                                       QStringLiteral("org.freedesktop.ModemManager1.Sim"),
                                       QStringLiteral("SendPin"))
            << QStringLiteral("1234"),
        QDBus::Block, WaitMs);
    QVERIFY2(pin.type() == QDBusMessage::ReplyMessage, qPrintable(pin.errorMessage()));
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    const auto outcome =
        sendThrough(link, idOf(made), QStringLiteral("13912345678"), QStringLiteral("解锁以后"));
    QVERIFY(outcome->result);
    QCOMPARE(outcome->result->state, RecordState::Sent);
    QCOMPARE(m_rig->sent(index).size(), 1);
}

void TestModemList::modemWithoutSimIsNamedByItsImei()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    ModemRig::Modem made = modemNumbered(3);
    made.noSim = true;
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    ModemManagerLink link(m_rig->linkConnection());
    const QString id = QStringLiteral("imei:") + made.imei;
    QVERIFY(waitForReadiness(link, id, Readiness::NoSim));
    const ModemInfo modem = *link.modem(id);
    QVERIFY(!modem.canSend());
    QVERIFY(modem.iccid.isEmpty());
    QCOMPARE(modem.problem, QStringLiteral("没有插入 SIM 卡"));
    bool answered = false;
    QString why;
    link.enable(id, [&](bool ok, const QString &error) {
        answered = !ok;
        why = error;
    });
    QTRY_VERIFY(answered);
    QCOMPARE(why, QStringLiteral("没有插入 SIM 卡"));
}

void TestModemList::signalAndRegistrationShowInTheLabel()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    const ModemRig::Modem made = modemNumbered(4);
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    QString error;
    QVERIFY2(m_rig->enable(index, &error), qPrintable(error));
    ModemManagerLink link(m_rig->linkConnection());
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Ready));
    QSignalSpy changed(&link, &ModemManagerLink::modemsChanged);

    m_rig->steer(
        index,
        {{QStringLiteral("cmd"), QStringLiteral("signal")}, {QStringLiteral("percent"), 20}});
    QTRY_COMPARE_WITH_TIMEOUT(link.modem(idOf(made))->signalPercent, 20, WaitMs);
    QVERIFY(link.modem(idOf(made))->label().contains(QStringLiteral("信号 20%")));
    QVERIFY(!changed.isEmpty());

    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("registration")},
                  {QStringLiteral("registered"), false}});
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::NoNetwork));
    QVERIFY(link.modem(idOf(made))->label().endsWith(QStringLiteral("：没有注册到网络")));

    m_rig->steer(index,
                 {{QStringLiteral("cmd"), QStringLiteral("registration")},
                  {QStringLiteral("registered"), true}});
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Ready));
}

void TestModemList::replugGivesANewPathAndTheSameId()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    const ModemRig::Modem made = modemNumbered(5);
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    ModemManagerLink link(m_rig->linkConnection());
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    ModemChannel channel(link, idOf(made));
    QVERIFY(channel.isPresent());
    QSignalSpy gone(&channel, &SendChannel::availabilityChanged);
    const QString before = link.modem(idOf(made))->path;

    QString error;
    QVERIFY2(m_rig->unplug(index, &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, WaitMs);
    QVERIFY(!channel.isPresent());
    QVERIFY(!link.modem(idOf(made)));

    QVERIFY2(m_rig->plugIn(index, &error), qPrintable(error));
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    QVERIFY(channel.isPresent());
    QVERIFY(link.modem(idOf(made))->path != before);
    QCOMPARE(link.modem(idOf(made))->path, m_rig->path(index));
    QCOMPARE(gone.count(), 2); // went, and came back
    // The channel follows the id: its next send goes out on the new path.
    auto outcome = std::make_shared<std::optional<SendResult>>();
    channel.send(
        QStringLiteral("13912345678"), QStringLiteral("又插上了"), [](const QString &) {},
        [outcome](const SendResult &result) { *outcome = result; });
    QTRY_VERIFY_WITH_TIMEOUT(outcome->has_value(), WaitMs);
    QCOMPARE(outcome->value().state, RecordState::Sent);
    QCOMPARE(gone.count(), 2);
}

void TestModemList::restartedModemManagerKeepsTheIdButNotTheMessages()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    const ModemRig::Modem made = modemNumbered(6);
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    ModemManagerLink link(m_rig->linkConnection());
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    const auto first =
        sendThrough(link, idOf(made), QStringLiteral("13900000001"), QStringLiteral("重启之前"));
    QVERIFY(first->result);
    QCOMPARE(first->result->state, RecordState::Sent);

    QString error;
    QVERIFY2(m_rig->restartModemManager(&error), qPrintable(error));
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    // ModemManager gives out the same paths again: the message made now
    // lies where the one before did.
    const auto second =
        sendThrough(link, idOf(made), QStringLiteral("13900000002"), QStringLiteral("重启之后"));
    QVERIFY(second->result);
    QCOMPARE(second->createdPath, first->createdPath);
    QCOMPARE(smsState(link, idOf(made), first->createdPath, QStringLiteral("13900000001"),
                      QStringLiteral("重启之前")),
             -1);
    QCOMPARE(smsState(link, idOf(made), second->createdPath, QStringLiteral("13900000002"),
                      QStringLiteral("重启之后")),
             int(ModemManagerLink::Sent));
}

void TestModemList::refusalWithoutPolkitRuleIsToldBeforeAnythingIsSent()
{
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig, ModemRig::Polkit::Refuse);
    const ModemRig::Modem made = modemNumbered(7);
    int index = -1;
    ADD_MODEM(*m_rig, index, made);
    ModemManagerLink link(m_rig->linkConnection());
    QVERIFY(waitForReadiness(link, idOf(made), Readiness::Disabled));
    const auto refused =
        sendThrough(link, idOf(made), QStringLiteral("13912345678"), QStringLiteral("没有授权"));
    QVERIFY(refused->result);
    QCOMPARE(refused->result->state, RecordState::Failed);
    QCOMPARE(refused->result->note,
             QStringLiteral("系统不允许当前用户使用短信猫（polkit 没有授权）"
                            "（org.freedesktop.ModemManager1.Error.Core.Unauthorized）"));
    QVERIFY(m_rig->sent(index).isEmpty());

    // With the rule, the same modem sends.
    QString error;
    QVERIFY2(m_rig->setPolkit(ModemRig::Polkit::Allow, &error), qPrintable(error));
    const auto allowed =
        sendThrough(link, idOf(made), QStringLiteral("13912345678"), QStringLiteral("有了授权"));
    QVERIFY(allowed->result);
    QCOMPARE(allowed->result->state, RecordState::Sent);
    QCOMPARE(m_rig->sent(index).size(), 1);
}

QTEST_GUILESS_MAIN(TestModemList)
#include "test_modemlist.moc"
