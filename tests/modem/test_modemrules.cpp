#include "sending/modemerrors.h"
#include "sending/modeminfo.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QTest>

namespace {

const QString Error = QStringLiteral("org.freedesktop.ModemManager1.Error.");
const QString ModemInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem");
const QString MessagingInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem.Messaging");

QMap<QString, QVariantMap> modemWith(int state, uint failedReason, uint unlockRequired,
                                     bool messaging)
{
    QMap<QString, QVariantMap> interfaces;
    interfaces[ModemInterface] = {{QStringLiteral("State"), state},
                                  {QStringLiteral("StateFailedReason"), failedReason},
                                  {QStringLiteral("UnlockRequired"), unlockRequired}};
    if (messaging)
        interfaces[MessagingInterface] = {};
    return interfaces;
}

} // namespace

// The rules the modem link applies to what ModemManager says, without a
// daemon: error texts, which failures leave a message unconfirmed, how ready
// a modem is, and what names it.
class TestModemRules : public QObject
{
    Q_OBJECT

private slots:
    void errorsReadInChineseAndNameThemselves_data();
    void errorsReadInChineseAndNameThemselves();
    void codesInTheMessageAreNamed_data();
    void codesInTheMessageAreNamed();
    void onlyLostAnswersLeaveASendUnconfirmed_data();
    void onlyLostAnswersLeaveASendUnconfirmed();
    void readinessFollowsTheModemState_data();
    void readinessFollowsTheModemState();
    void identityPrefersTheSim_data();
    void identityPrefersTheSim();
    void simLabelNamesOperatorAndLastDigits_data();
    void simLabelNamesOperatorAndLastDigits();
};

void TestModemRules::errorsReadInChineseAndNameThemselves_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    // As the real daemon and the bus answer.
    QTest::newRow("cms") << Error + QStringLiteral("Message.Unknown")
                         << QStringLiteral("Unknown message error: 38");
    QTest::newRow("no polkit agent") << Error + QStringLiteral("Core.Failed")
                                     << QStringLiteral("PolicyKit authorization failed: 'x'");
    QTest::newRow("not authorized")
        << Error + QStringLiteral("Core.Unauthorized")
        << QStringLiteral("PolicyKit authorization failed: not authorized");
    QTest::newRow("gone object") << QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")
                                 << QStringLiteral("Object does not exist at path “/x”");
    QTest::newRow("dead port") << Error + QStringLiteral("Core.Connected")
                               << QStringLiteral("Cannot run sequence: 'Could not open serial "
                                                 "device x: it has been forced close'");
    QTest::newRow("no answer") << Error + QStringLiteral("Serial.ResponseTimeout")
                               << QStringLiteral("Serial command timed out");
    QTest::newRow("not enabled") << Error + QStringLiteral("Core.WrongState")
                                 << QStringLiteral("Cannot create SMS: device not yet enabled");
    QTest::newRow("storage busy") << Error + QStringLiteral("Core.Retry")
                                  << QStringLiteral(
                                         "SMS storage currently locked, try again later");
    QTest::newRow("new to us") << Error + QStringLiteral("Message.SomethingNew")
                               << QStringLiteral("something new");
    QTest::newRow("not the daemon's")
        << QStringLiteral("org.example.Error.Strange") << QStringLiteral("strange");
}

void TestModemRules::errorsReadInChineseAndNameThemselves()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    const QString text = ModemErrors::describe(name, message);
    QVERIFY2(text.front().script() == QChar::Script_Han, qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("（%1）").arg(name)), qPrintable(text));
}

void TestModemRules::codesInTheMessageAreNamed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("named");
    QTest::newRow("network cause")
        << Error + QStringLiteral("Message.Unknown") << QStringLiteral("Unknown message error: 21")
        << QStringLiteral("短信被拒收（CMS 21）");
    QTest::newRow("cause without a name")
        << Error + QStringLiteral("Message.Unknown") << QStringLiteral("Unknown message error: 127")
        << QStringLiteral("（CMS 127）");
    QTest::newRow("cms 500") << Error + QStringLiteral("Message.Unknown")
                             << QStringLiteral("Unknown") << QStringLiteral("（CMS 500）");
    QTest::newRow("cme") << Error + QStringLiteral("MobileEquipment.Unknown")
                         << QStringLiteral("Unknown mobile equipment error: 258")
                         << QStringLiteral("（CME 258）");
}

void TestModemRules::codesInTheMessageAreNamed()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, named);
    const QString text = ModemErrors::describe(name, message);
    QVERIFY2(text.contains(named), qPrintable(text));
}

void TestModemRules::onlyLostAnswersLeaveASendUnconfirmed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("mayHaveLeft");
    QTest::newRow("our call timed out")
        << QStringLiteral("org.freedesktop.DBus.Error.NoReply") << true;
    QTest::newRow("the modem did not answer")
        << Error + QStringLiteral("Serial.ResponseTimeout") << true;
    QTest::newRow("cancelled midway") << Error + QStringLiteral("Core.Cancelled") << true;
    QTest::newRow("refused by the network") << Error + QStringLiteral("Message.Unknown") << false;
    QTest::newRow("refused by polkit") << Error + QStringLiteral("Core.Unauthorized") << false;
    QTest::newRow("message gone") << QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")
                                  << false;
    QTest::newRow("dead port") << Error + QStringLiteral("Core.Connected") << false;
    QTest::newRow("no daemon") << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")
                               << false;
}

void TestModemRules::onlyLostAnswersLeaveASendUnconfirmed()
{
    QFETCH(QString, name);
    QFETCH(bool, mayHaveLeft);
    QCOMPARE(ModemErrors::mayHaveLeft(name), mayHaveLeft);
}

void TestModemRules::readinessFollowsTheModemState_data()
{
    using R = ModemInfo::Readiness;
    QTest::addColumn<int>("state");
    QTest::addColumn<uint>("failedReason");
    QTest::addColumn<uint>("unlockRequired");
    QTest::addColumn<bool>("messaging");
    QTest::addColumn<ModemInfo::Readiness>("readiness");
    QTest::addColumn<bool>("canSend");
    QTest::newRow("no sim") << -1 << 2u << 0u << false << R::NoSim << false;
    QTest::newRow("sim error") << -1 << 3u << 0u << false << R::Failed << false;
    QTest::newRow("initialising") << 1 << 0u << 0u << false << R::Busy << false;
    QTest::newRow("pin") << 2 << 0u << 2u << false << R::Locked << false;
    QTest::newRow("puk") << 2 << 0u << 4u << false << R::Locked << false;
    QTest::newRow("disabled") << 3 << 0u << 1u << true << R::Disabled << true;
    QTest::newRow("disabled, no messaging") << 3 << 0u << 1u << false << R::Failed << false;
    QTest::newRow("enabling") << 5 << 0u << 1u << true << R::Busy << false;
    QTest::newRow("enabled, not registered") << 6 << 0u << 1u << true << R::NoNetwork << false;
    QTest::newRow("searching") << 7 << 0u << 1u << true << R::NoNetwork << false;
    QTest::newRow("registered") << 8 << 0u << 1u << true << R::Ready << true;
    QTest::newRow("data connection up") << 11 << 0u << 1u << true << R::Ready << true;
}

void TestModemRules::readinessFollowsTheModemState()
{
    QFETCH(int, state);
    QFETCH(uint, failedReason);
    QFETCH(uint, unlockRequired);
    QFETCH(bool, messaging);
    QFETCH(ModemInfo::Readiness, readiness);
    QFETCH(bool, canSend);
    const ModemInfo modem =
        ModemInfo::fromProperties(QStringLiteral("/org/freedesktop/ModemManager1/Modem/0"),
                                  modemWith(state, failedReason, unlockRequired, messaging), {});
    QCOMPARE(modem.readiness, readiness);
    QCOMPARE(modem.canSend(), canSend);
    QCOMPARE(modem.problem.isEmpty(), readiness == ModemInfo::Readiness::Ready);
    QCOMPARE(modem.label().endsWith(QStringLiteral("：") + modem.problem),
             !modem.problem.isEmpty());
}

void TestModemRules::identityPrefersTheSim_data()
{
    QTest::addColumn<QString>("iccid");
    QTest::addColumn<QString>("imei");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("id");
    QTest::newRow("sim") << QStringLiteral("89860012345678905678")
                         << QStringLiteral("867530900000001") << QStringLiteral("ecfe4e28")
                         << QStringLiteral("iccid:89860012345678905678");
    QTest::newRow("no sim") << QString() << QStringLiteral("867530900000001")
                            << QStringLiteral("ecfe4e28") << QStringLiteral("imei:867530900000001");
    QTest::newRow("neither") << QString() << QString() << QStringLiteral("ecfe4e28")
                             << QStringLiteral("device:ecfe4e28");
}

void TestModemRules::identityPrefersTheSim()
{
    QFETCH(QString, iccid);
    QFETCH(QString, imei);
    QFETCH(QString, device);
    QFETCH(QString, id);
    QMap<QString, QVariantMap> interfaces = modemWith(8, 0, 1, true);
    interfaces[ModemInterface].insert(QStringLiteral("EquipmentIdentifier"), imei);
    interfaces[ModemInterface].insert(QStringLiteral("DeviceIdentifier"), device);
    const QVariantMap sim =
        iccid.isEmpty() ? QVariantMap() : QVariantMap{{QStringLiteral("SimIdentifier"), iccid}};
    // The path plays no part: the same modem at another path is the same.
    for (const char *path :
         {"/org/freedesktop/ModemManager1/Modem/0", "/org/freedesktop/ModemManager1/Modem/7"})
        QCOMPARE(ModemInfo::fromProperties(QString::fromLatin1(path), interfaces, sim).id, id);
}

void TestModemRules::simLabelNamesOperatorAndLastDigits_data()
{
    QTest::addColumn<QString>("operatorName");
    QTest::addColumn<QString>("ownNumber");
    QTest::addColumn<QString>("iccid");
    QTest::addColumn<QString>("label");
    QTest::newRow("own number") << QStringLiteral("中国移动") << QStringLiteral("+8613800005678")
                                << QStringLiteral("89860012345678901111")
                                << QStringLiteral("中国移动 尾号 5678");
    QTest::newRow("no own number")
        << QStringLiteral("中国联通") << QString() << QStringLiteral("89860012345678901111")
        << QStringLiteral("中国联通 尾号 1111");
    QTest::newRow("no operator") << QString() << QStringLiteral("13800005678") << QString()
                                 << QStringLiteral("SIM 卡 尾号 5678");
    QTest::newRow("nothing known") << QString() << QString() << QString() << QString();
}

void TestModemRules::simLabelNamesOperatorAndLastDigits()
{
    QFETCH(QString, operatorName);
    QFETCH(QString, ownNumber);
    QFETCH(QString, iccid);
    QFETCH(QString, label);
    ModemInfo modem;
    modem.operatorName = operatorName;
    modem.ownNumber = ownNumber;
    modem.iccid = iccid;
    QCOMPARE(modem.simLabel(), label);
}

QTEST_GUILESS_MAIN(TestModemRules)
#include "test_modemrules.moc"
