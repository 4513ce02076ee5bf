#include "phonelink/kdeconnectphones.h"
#include "sending/batchrunner.h"
#include "sending/phonechannel.h"
#include "sending/modemmanagerlink.h"
#include "sending/sendingservice.h"
#include "sendingfixture.h"
#include "support/dbusmockbus.h"
#include "support/phonerig.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <optional>

// Batches through the real KDE Connect daemon, with a pretend phone and a
// pretend computer paired to it.
class TestPhoneSending : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void onlyThePhoneIsOffered();
    void eachRecipientIsOneRequestHandedToThePhone();
    void refusalIsAFailureWithItsReason();
    void aPhoneGoingAwayIsGoneAndFailsInChinese();
    void aPhoneGoingAwayPausesTheBatch();
    void aRefusalHeldByThePhoneGoesOnTheList();

private:
    bool hasPhone() const;
    // The SMS requests the phone got: "<address>|<text>".
    QStringList asked() const;
    BatchRunner *run(SendingService &service, const QStringList &mobiles, qint64 *batch);

    PhoneRig m_rig;
    QString m_pc;
    QString m_phone;
    std::unique_ptr<SendLogFile> m_file;
    // No ModemManager here: only the phones.
    ModemManagerLink m_modems{QDBusConnection(QStringLiteral("no system bus"))};
    std::unique_ptr<KdeConnectPhones> m_phones;
    std::unique_ptr<SendingService> m_service;
};

void TestPhoneSending::initTestCase()
{
    QString error;
    START_PHONE_RIG(m_rig);
    QVERIFY2(m_rig.addDevice(PhoneRig::Kind::Desktop, QStringLiteral("Office PC"), &m_pc, &error),
             qPrintable(error));
    QVERIFY2(m_rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("小米手机"), &m_phone, &error),
             qPrintable(error));
}

void TestPhoneSending::init()
{
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    m_phones = std::make_unique<KdeConnectPhones>(m_rig.connection());
    m_service = std::make_unique<SendingService>(m_file->database(), m_modems, *m_phones,
                                                 &QDateTime::currentDateTime);
    QTRY_VERIFY(hasPhone());
}

void TestPhoneSending::cleanup()
{
    m_service.reset();
    m_phones.reset();
    m_file.reset();
}

bool TestPhoneSending::hasPhone() const
{
    const QList<SendDevice> devices = m_service->devices();
    return std::any_of(devices.cbegin(), devices.cend(),
                       [this](const SendDevice &device) { return device.id == m_phone; });
}

QStringList TestPhoneSending::asked() const
{
    QStringList requests;
    for (const QJsonObject &packet :
         m_rig.received(m_phone, QStringLiteral("kdeconnect.sms.request"))) {
        const QJsonObject body = packet.value(QStringLiteral("body")).toObject();
        QStringList addresses;
        for (const QJsonValue &address : body.value(QStringLiteral("addresses")).toArray())
            addresses.append(address.toObject().value(QStringLiteral("address")).toString());
        requests.append(addresses.join(u',') + u'|'
                        + body.value(QStringLiteral("messageBody")).toString());
    }
    return requests;
}

BatchRunner *TestPhoneSending::run(SendingService &service, const QStringList &mobiles,
                                   qint64 *batch)
{
    BatchSettings settings;
    settings.channel = BatchSettings::Channel::Phone;
    settings.deviceIds = {m_phone};
    *batch = m_file->addBatch(settings, recipientsFor(mobiles, QStringLiteral("您好")),
                              QDateTime::currentDateTime());
    return service.run(*batch);
}

void TestPhoneSending::onlyThePhoneIsOffered()
{
    // The daemon lists the computer first, without the SMS plugin.
    const QList<SendDevice> devices = m_service->devices();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices.first().channel, BatchSettings::Channel::Phone);
    QCOMPARE(devices.first().label, QStringLiteral("手机（KDE Connect）：小米手机"));
}

void TestPhoneSending::eachRecipientIsOneRequestHandedToThePhone()
{
    const qsizetype before = asked().size();
    qint64 batch = 0;
    BatchRunner *runner =
        run(*m_service, {QStringLiteral("13800000001"), QStringLiteral("13800000002")}, &batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(m_file->states(batch), QStringList(2, QStringLiteral("已交给手机")));
    QTRY_COMPARE(asked().mid(before),
                 (QStringList{QStringLiteral("13800000001|您好 13800000001"),
                              QStringLiteral("13800000002|您好 13800000002")}));
}

void TestPhoneSending::refusalIsAFailureWithItsReason()
{
    // The daemon's sendSms only queues a packet for the phone and never
    // answers with an error of its own: the stand-in plays a refusal.
    DBusMockBus bus(DBusMockBus::Kind::Session);
    QString error;
    QVERIFY2(bus.start(&error), qPrintable(error));
    const QString daemon = QStringLiteral("org.kde.kdeconnect");
    QVERIFY2(bus.startService(QStringLiteral("kdeconnect.py"), daemon, &error), qPrintable(error));
    const QString mock = QStringLiteral("org.freedesktop.DBus.Mock");
    const QString root = QStringLiteral("/modules/kdeconnect");
    QCOMPARE(bus.call(daemon, root, mock, QStringLiteral("AddPhone"),
                      {m_phone, QStringLiteral("小米手机")})
                 .type(),
             QDBusMessage::ReplyMessage);
    QCOMPARE(bus.call(daemon, root, mock, QStringLiteral("FailSms"),
                      {m_phone, QStringLiteral("没有短信权限")})
                 .type(),
             QDBusMessage::ReplyMessage);
    KdeConnectPhones phones(bus.connection());
    SendingService service(m_file->database(), m_modems, phones, &QDateTime::currentDateTime);
    QTRY_COMPARE(service.devices().size(), 1);
    qint64 batch = 0;
    BatchRunner *runner = run(service, {QStringLiteral("13800000003")}, &batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(m_file->states(batch), QStringList{QStringLiteral("失败")});
    const QString note = m_file->notes(batch).first();
    QVERIFY2(note.contains(QStringLiteral("小米手机"))
                 && note.contains(QStringLiteral("没有短信权限")),
             qPrintable(note));
}

void TestPhoneSending::aPhoneGoingAwayIsGoneAndFailsInChinese()
{
    KdeConnectPhones phones(m_rig.connection());
    PhoneChannel channel(phones, m_phone);
    QTRY_VERIFY(channel.isPresent());
    QSignalSpy gone(&channel, &SendChannel::availabilityChanged);
    QString error;
    QVERIFY2(m_rig.leave(m_phone, &error), qPrintable(error));
    QTRY_COMPARE(gone.size(), 1);
    QVERIFY(!channel.isPresent());
    std::optional<SendResult> result;
    channel.send(QStringLiteral("13800000006"), QStringLiteral("您好"), {},
                 [&result](const SendResult &sent) { result = sent; });
    QTRY_VERIFY(result.has_value());
    QCOMPARE(result->state, RecordState::Failed);
    QVERIFY2(result->note.contains(QStringLiteral("“小米手机”已经断开")), qPrintable(result->note));

    QVERIFY2(m_rig.comeBack(m_phone, &error), qPrintable(error));
    QTRY_VERIFY(channel.isPresent());
}

void TestPhoneSending::aPhoneGoingAwayPausesTheBatch()
{
    qint64 batch = 0;
    const qsizetype before = asked().size();
    BatchRunner *runner =
        run(*m_service, {QStringLiteral("13800000004"), QStringLiteral("13800000005")}, &batch);
    runner->pause();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    QString error;
    QVERIFY2(m_rig.leave(m_phone, &error), qPrintable(error));
    QTRY_VERIFY(m_service->devices().isEmpty());
    runner->resume();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    QVERIFY(runner->statusText().contains(QStringLiteral("不在")));
    QVERIFY(m_file->states(batch).contains(QStringLiteral("待发送")));
    QCOMPARE(asked().size() - before, m_file->states(batch).count(QStringLiteral("已交给手机")));
    QVERIFY2(m_rig.comeBack(m_phone, &error), qPrintable(error));
}

void TestPhoneSending::aRefusalHeldByThePhoneGoesOnTheList()
{
    QString error;
    QVERIFY2(m_rig.push(m_phone, {QStringLiteral("+8613800000009"), QStringLiteral("退订。"),
                                  QDateTime::currentMSecsSinceEpoch()},
                        &error),
             qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            bool optedOut = false;
            return m_file->optOuts().contains(QStringLiteral("13800000009"), &optedOut, nullptr)
                       == LogResult::Ok
                   && optedOut;
        }(),
        15000);
    QList<ReceivedMessage> received;
    QCOMPARE(m_file->inbox().messages(&received, nullptr), LogResult::Ok);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().deviceName, QStringLiteral("小米手机"));
}

QTEST_GUILESS_MAIN(TestPhoneSending)
#include "test_phonesending.moc"
