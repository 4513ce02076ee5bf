#include "phonelink/kdeconnectphones.h"
#include "support/phonerig.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <optional>

namespace {

struct Outcome
{
    bool ok = false;
    QString error;
};

Outcome outcomeOf(const std::function<void(KdeConnectPhones::Done)> &start)
{
    std::optional<Outcome> outcome;
    start([&outcome](bool ok, const QString &error) { outcome = Outcome{ok, error}; });
    if (!QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 10000))
        return {false, QStringLiteral("no answer")};
    return *outcome;
}

QStringList idsOf(const QList<PhoneDevice> &devices)
{
    QStringList ids;
    for (const PhoneDevice &device : devices)
        ids.append(device.id);
    return ids;
}

// What messageReceived said, one line a message.
QStringList reports(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : spy) {
        QStringList texts;
        for (const QVariant &argument : arguments)
            texts.append(argument.toString());
        lines.append(texts.join(u'|'));
    }
    return lines;
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

// The phone link against the real KDE Connect daemon, with a pretend
// computer and pretend phones paired to it.
class TestKdeConnectPhones : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyPhonesSendAndDial();
    void anSmsIsOneRequestToThePhone();
    void dialSharesATelAddress();
    void aComputerIsRefusedInChinese_data();
    void aComputerIsRefusedInChinese();
    void repliesHeldByThePhoneAreReadAtConnection();
    void aReplyArrivingWhileConnectedIsReported();
    void aPhoneGoingAwayIsNoticedAndComesBack();
    void aReplyReceivedWhileAwayIsReadOnReturn();
    void noDaemonMeansNoPhones();

private:
    // Waits until reading has asked the phone for its conversations n times in all.
    bool conversationsAsked(const QString &phone, qsizetype times);

    PhoneRig m_rig;
    QString m_pc;
    QString m_phone;
    QString m_replyPhone; // holds the conversations of the reading scenarios
    std::unique_ptr<KdeConnectPhones> m_phones;
};

void TestKdeConnectPhones::initTestCase()
{
    QString error;
    START_PHONE_RIG(m_rig);
    QVERIFY2(m_rig.addDevice(PhoneRig::Kind::Desktop, QStringLiteral("Office PC"), &m_pc, &error),
             qPrintable(error));
    QVERIFY2(m_rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("小米手机"), &m_phone, &error),
             qPrintable(error));
    QVERIFY2(
        m_rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("回复手机"), &m_replyPhone, &error),
        qPrintable(error));
    m_phones = std::make_unique<KdeConnectPhones>(m_rig.connection());
    QTRY_COMPARE(m_phones->phones().size(), 3);
}

bool TestKdeConnectPhones::conversationsAsked(const QString &phone, qsizetype times)
{
    return QTest::qWaitFor(
        [&] {
            return m_rig.received(phone, QStringLiteral("kdeconnect.sms.request_conversations"))
                       .size()
                >= times;
        },
        10000);
}

void TestKdeConnectPhones::onlyPhonesSendAndDial()
{
    // The daemon lists the computer first; it is never offered.
    QCOMPARE(idsOf(m_phones->phones()), (QStringList{m_pc, m_phone, m_replyPhone}));
    QCOMPARE(idsOf(m_phones->smsPhones()), (QStringList{m_phone, m_replyPhone}));
    QCOMPARE(idsOf(m_phones->dialPhones()), (QStringList{m_phone, m_replyPhone}));
    const PhoneDevice pc = m_phones->phones().first();
    QCOMPARE(pc.name, QStringLiteral("Office PC"));
    QCOMPARE(pc.type, QStringLiteral("desktop"));
    QVERIFY(!pc.canReadMessages);
    const PhoneDevice phone = m_phones->phones().at(1);
    QCOMPARE(phone.name, QStringLiteral("小米手机"));
    QCOMPARE(phone.type, QStringLiteral("smartphone"));
    QVERIFY(phone.canReadMessages);
}

void TestKdeConnectPhones::anSmsIsOneRequestToThePhone()
{
    const QString text = QStringLiteral("王先生您好，{称呼}不会被替换");
    const Outcome outcome = outcomeOf([&](KdeConnectPhones::Done done) {
        m_phones->sendSms(m_phone, QStringLiteral("13800138000"), text, done);
    });
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QTRY_COMPARE(m_rig.received(m_phone, QStringLiteral("kdeconnect.sms.request")).size(), 1);
    const QJsonObject body = m_rig.received(m_phone, QStringLiteral("kdeconnect.sms.request"))
                                 .first()
                                 .value(QStringLiteral("body"))
                                 .toObject();
    // One address (several would make a group MMS), the phone's default SIM.
    QCOMPARE(body.value(QStringLiteral("addresses")).toArray(),
             (QJsonArray{QJsonObject{{QStringLiteral("address"), QStringLiteral("13800138000")}}}));
    QCOMPARE(body.value(QStringLiteral("messageBody")).toString(), text);
    QVERIFY(!body.contains(QStringLiteral("subID")));
}

void TestKdeConnectPhones::dialSharesATelAddress()
{
    const Outcome outcome = outcomeOf([&](KdeConnectPhones::Done done) {
        m_phones->dial(m_phone, QStringLiteral("13912345678"), done);
    });
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QTRY_COMPARE(m_rig.received(m_phone, QStringLiteral("kdeconnect.share.request")).size(), 1);
    QCOMPARE(m_rig.received(m_phone, QStringLiteral("kdeconnect.share.request"))
                 .first()
                 .value(QStringLiteral("body"))
                 .toObject()
                 .value(QStringLiteral("url"))
                 .toString(),
             QStringLiteral("tel:13912345678"));
}

void TestKdeConnectPhones::aComputerIsRefusedInChinese_data()
{
    QTest::addColumn<bool>("sms");
    QTest::addColumn<QString>("packet"); // what the computer would have got
    QTest::newRow("send") << true << QStringLiteral("kdeconnect.sms.request");
    // Its share plugin would open the tel: address on the computer.
    QTest::newRow("dial") << false << QStringLiteral("kdeconnect.share.request");
}

void TestKdeConnectPhones::aComputerIsRefusedInChinese()
{
    QFETCH(bool, sms);
    QFETCH(QString, packet);
    const Outcome outcome = outcomeOf([&](KdeConnectPhones::Done done) {
        if (sms)
            m_phones->sendSms(m_pc, QStringLiteral("13800138000"), QStringLiteral("您好"), done);
        else
            m_phones->dial(m_pc, QStringLiteral("13800138000"), done);
    });
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.startsWith(QStringLiteral("“Office PC”不能")),
             qPrintable(outcome.error));
    QVERIFY(m_rig.received(m_pc, packet).isEmpty());
}

void TestKdeConnectPhones::repliesHeldByThePhoneAreReadAtConnection()
{
    const qint64 at = now();
    const qint64 seen = at - 3'600'000; // what an earlier run took
    const qint64 hiddenReplyAt = at - 500'000;
    const qint64 newestReplyAt = at - 300'000;
    QString error;
    QVERIFY2(m_rig.hold(
                 m_replyPhone,
                 {{QStringLiteral("+8613800138001"), QStringLiteral("周末有活动"), at - 600'000, 2},
                  // Behind a later message of the same conversation.
                  {QStringLiteral("+8613800138001"), QStringLiteral("退订"), hiddenReplyAt, 1},
                  {QStringLiteral("+8613800138001"), QStringLiteral("好的，已为您退订"),
                   at - 400'000, 2},
                  {QStringLiteral("13800138002"), QStringLiteral("明天有空"), newestReplyAt, 1},
                  {QStringLiteral("13800138003"), QStringLiteral("上次的回复"), seen - 1000, 1}},
                 &error),
             qPrintable(error));
    KdeConnectPhones reading(m_rig.connection());
    reading.setSeenUntil(seen);
    QSignalSpy received(&reading, &KdeConnectPhones::messageReceived);
    // The hidden reply comes from a conversation read whole, after the
    // newest messages of all conversations were taken.
    QTRY_VERIFY_WITH_TIMEOUT(reports(received).join(u'\n').contains(QStringLiteral("退订")), 10000);
    QStringList lines = reports(received);
    lines.sort();
    QCOMPARE(lines,
             (QStringList{m_replyPhone + QStringLiteral("|13800138001|退订|")
                              + QString::number(hiddenReplyAt),
                          m_replyPhone + QStringLiteral("|13800138002|明天有空|")
                              + QString::number(newestReplyAt)}));
    // Only the conversations with something newer than what was seen are read whole.
    QTRY_COMPARE(
        m_rig.received(m_replyPhone, QStringLiteral("kdeconnect.sms.request_conversation")).size(),
        2);
}

void TestKdeConnectPhones::aReplyArrivingWhileConnectedIsReported()
{
    const qint64 start = now();
    const qsizetype asked =
        m_rig.received(m_replyPhone, QStringLiteral("kdeconnect.sms.request_conversations")).size();
    KdeConnectPhones reading(m_rig.connection());
    reading.setSeenUntil(start);
    QSignalSpy received(&reading, &KdeConnectPhones::messageReceived);
    QVERIFY(conversationsAsked(m_replyPhone, asked + 1));
    // A message sent through the phone comes back as a sent one first.
    const Outcome sent = outcomeOf([&](KdeConnectPhones::Done done) {
        reading.sendSms(m_replyPhone, QStringLiteral("13800138009"), QStringLiteral("周末有活动"),
                        done);
    });
    QVERIFY2(sent.ok, qPrintable(sent.error));
    QTRY_VERIFY(!m_rig.received(m_replyPhone, QStringLiteral("kdeconnect.sms.request")).isEmpty());
    const qint64 replyAt = now();
    QString error;
    QVERIFY2(m_rig.push(m_replyPhone,
                        {QStringLiteral("+86 138 0013 8009"), QStringLiteral("T"), replyAt, 1},
                        &error),
             qPrintable(error));
    QTRY_COMPARE(
        reports(received),
        QStringList{m_replyPhone + QStringLiteral("|13800138009|T|") + QString::number(replyAt)});
}

void TestKdeConnectPhones::aPhoneGoingAwayIsNoticedAndComesBack()
{
    QSignalSpy changed(m_phones.get(), &KdeConnectPhones::phonesChanged);
    QString error;
    QVERIFY2(m_rig.leave(m_phone, &error), qPrintable(error));
    QTRY_VERIFY(!idsOf(m_phones->phones()).contains(m_phone));
    QVERIFY(!changed.isEmpty());
    QVERIFY(!idsOf(m_phones->smsPhones()).contains(m_phone));
    const Outcome lost = outcomeOf([&](KdeConnectPhones::Done done) {
        m_phones->sendSms(m_phone, QStringLiteral("13800138000"), QStringLiteral("您好"), done);
    });
    QVERIFY(!lost.ok);
    // The daemon dropped the phone's SMS object: said in Chinese, naming the phone.
    QVERIFY2(lost.error.contains(QStringLiteral("“小米手机”已经断开"))
                 && lost.error.contains(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject")),
             qPrintable(lost.error));

    // Back without asking to pair again.
    QVERIFY2(m_rig.comeBack(m_phone, &error), qPrintable(error));
    QTRY_VERIFY(idsOf(m_phones->smsPhones()).contains(m_phone));
    const Outcome back = outcomeOf([&](KdeConnectPhones::Done done) {
        m_phones->sendSms(m_phone, QStringLiteral("13800138000"), QStringLiteral("您好"), done);
    });
    QVERIFY2(back.ok, qPrintable(back.error));
}

void TestKdeConnectPhones::aReplyReceivedWhileAwayIsReadOnReturn()
{
    const qsizetype asked =
        m_rig.received(m_replyPhone, QStringLiteral("kdeconnect.sms.request_conversations")).size();
    KdeConnectPhones reading(m_rig.connection());
    reading.setSeenUntil(now());
    QSignalSpy received(&reading, &KdeConnectPhones::messageReceived);
    QVERIFY(conversationsAsked(m_replyPhone, asked + 1));
    QString error;
    QVERIFY2(m_rig.leave(m_replyPhone, &error), qPrintable(error));
    QTRY_VERIFY(!idsOf(reading.phones()).contains(m_replyPhone));
    const qint64 replyAt = now();
    QVERIFY2(m_rig.hold(m_replyPhone,
                        {{QStringLiteral("13800138010"), QStringLiteral("退订"), replyAt, 1},
                         {QStringLiteral("13800138010"), QStringLiteral("已退订"), replyAt + 1, 2}},
                        &error),
             qPrintable(error));
    QVERIFY2(m_rig.comeBack(m_replyPhone, &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(
        reports(received),
        QStringList{m_replyPhone + QStringLiteral("|13800138010|退订|") + QString::number(replyAt)},
        10000);
}

void TestKdeConnectPhones::noDaemonMeansNoPhones()
{
    QString error;
    QVERIFY2(m_rig.stopDaemon(&error), qPrintable(error));
    QTRY_VERIFY(m_phones->phones().isEmpty());
    const Outcome outcome = outcomeOf([&](KdeConnectPhones::Done done) {
        m_phones->dial(m_phone, QStringLiteral("13800138000"), done);
    });
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.startsWith(QStringLiteral("KDE Connect 没有运行")),
             qPrintable(outcome.error));
}

QTEST_GUILESS_MAIN(TestKdeConnectPhones)
#include "test_kdeconnectphones.moc"
