#include "phonelink/kdeconnectphones.h"
#include "support/dbusmockbus.h"

#include <QSignalSpy>
#include <QTest>

#include <optional>

namespace {

const QString Daemon = QStringLiteral("org.kde.kdeconnect");
const QString DaemonPath = QStringLiteral("/modules/kdeconnect");
const QString Mock = QStringLiteral("org.freedesktop.DBus.Mock");

struct Outcome
{
    bool ok = false;
    QString error;
};

} // namespace

class TestKdeConnectPhones : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsReachablePairedPhonesAsTheyComeAndGo();
    void sendsOneSmsACallToTheDefaultSim();
    void dialsByATelAddress();
    void phoneRefusalReachesTheCaller();
    void noDaemonMeansNoPhones();

private:
    void steer(const QString &method, const QVariantList &arguments);
    // Waits for the list to become expected.
    bool listBecomes(const QList<PhoneDevice> &expected);
    Outcome waitFor(const std::function<void(KdeConnectPhones::Done)> &start);
    QStringList recorded(const QString &deviceId, const QString &object, const QString &name);

    DBusMockBus m_bus{DBusMockBus::Kind::Session};
    std::unique_ptr<KdeConnectPhones> m_phones;
};

void TestKdeConnectPhones::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(&error), qPrintable(error));
    QVERIFY2(m_bus.startService(QStringLiteral("kdeconnect.py"), Daemon, &error),
             qPrintable(error));
    m_phones = std::make_unique<KdeConnectPhones>(m_bus.connection());
    QTRY_VERIFY(m_phones->hasAnswered());
    QVERIFY(m_phones->phones().isEmpty());
}

void TestKdeConnectPhones::steer(const QString &method, const QVariantList &arguments)
{
    const QDBusMessage reply = m_bus.call(Daemon, DaemonPath, Mock, method, arguments);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

bool TestKdeConnectPhones::listBecomes(const QList<PhoneDevice> &expected)
{
    return QTest::qWaitFor([&] { return m_phones->phones() == expected; }, 5000);
}

Outcome TestKdeConnectPhones::waitFor(const std::function<void(KdeConnectPhones::Done)> &start)
{
    std::optional<Outcome> outcome;
    start([&outcome](bool ok, const QString &error) { outcome = Outcome{ok, error}; });
    if (!QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 5000))
        return {false, QStringLiteral("no answer")};
    return *outcome;
}

QStringList TestKdeConnectPhones::recorded(const QString &deviceId, const QString &object,
                                           const QString &name)
{
    return m_bus
        .property(Daemon, DaemonPath + QStringLiteral("/devices/%1/%2").arg(deviceId, object),
                  QStringLiteral("org.kde.kdeconnect.device.") + object, name)
        .toStringList();
}

void TestKdeConnectPhones::listsReachablePairedPhonesAsTheyComeAndGo()
{
    steer(QStringLiteral("AddPhone"), {QStringLiteral("a1"), QStringLiteral("小米手机"), true, true});
    steer(QStringLiteral("AddPhone"), {QStringLiteral("b2"), QStringLiteral("旧手机"), false, true});
    steer(QStringLiteral("AddPhone"), {QStringLiteral("c3"), QStringLiteral("邻居的手机"), true, false});
    QVERIFY(listBecomes({{QStringLiteral("a1"), QStringLiteral("小米手机")}}));

    steer(QStringLiteral("SetReachable"), {QStringLiteral("b2"), true});
    QVERIFY(listBecomes({{QStringLiteral("a1"), QStringLiteral("小米手机")},
                         {QStringLiteral("b2"), QStringLiteral("旧手机")}}));
    steer(QStringLiteral("SetReachable"), {QStringLiteral("a1"), false});
    QVERIFY(listBecomes({{QStringLiteral("b2"), QStringLiteral("旧手机")}}));
}

void TestKdeConnectPhones::sendsOneSmsACallToTheDefaultSim()
{
    steer(QStringLiteral("AddPhone"), {QStringLiteral("s1"), QStringLiteral("发短信的手机"), true, true});
    const QString text = QStringLiteral("王先生您好，{称呼}不会被替换");
    const Outcome outcome = waitFor([&](KdeConnectPhones::Done done) {
        m_phones->sendSms(QStringLiteral("s1"), QStringLiteral("13800138000"), text, done);
    });
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(recorded(QStringLiteral("s1"), QStringLiteral("sms"), QStringLiteral("Sent")),
             QStringList{QStringLiteral("1|13800138000|%1|-1").arg(text)});
}

void TestKdeConnectPhones::dialsByATelAddress()
{
    steer(QStringLiteral("AddPhone"), {QStringLiteral("d1"), QStringLiteral("打电话的手机"), true, true});
    const Outcome outcome = waitFor([&](KdeConnectPhones::Done done) {
        m_phones->dial(QStringLiteral("d1"), QStringLiteral("13912345678"), done);
    });
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(recorded(QStringLiteral("d1"), QStringLiteral("share"), QStringLiteral("Shared")),
             QStringList{QStringLiteral("tel:13912345678")});
}

void TestKdeConnectPhones::phoneRefusalReachesTheCaller()
{
    steer(QStringLiteral("AddPhone"), {QStringLiteral("f1"), QStringLiteral("拒绝的手机"), true, true});
    steer(QStringLiteral("FailSms"), {QStringLiteral("f1"), QStringLiteral("短信插件未启用")});
    const Outcome refused = waitFor([&](KdeConnectPhones::Done done) {
        m_phones->sendSms(QStringLiteral("f1"), QStringLiteral("13800138000"), QStringLiteral("x"),
                          done);
    });
    QVERIFY(!refused.ok);
    QCOMPARE(refused.error, QStringLiteral("短信插件未启用"));
    // A phone that is gone entirely: the bus says so.
    const Outcome missing = waitFor([&](KdeConnectPhones::Done done) {
        m_phones->dial(QStringLiteral("nosuchphone"), QStringLiteral("13800138000"), done);
    });
    QVERIFY(!missing.ok);
    QVERIFY(!missing.error.isEmpty());
}

void TestKdeConnectPhones::noDaemonMeansNoPhones()
{
    QTRY_VERIFY(!m_phones->phones().isEmpty());
    m_bus.stopService(Daemon);
    QVERIFY(listBecomes({}));
}

QTEST_GUILESS_MAIN(TestKdeConnectPhones)
#include "test_kdeconnectphones.moc"
