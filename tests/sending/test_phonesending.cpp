#include "sending/batchrunner.h"
#include "sending/sendinghub.h"
#include "sendingfixture.h"
#include "support/dbusmockbus.h"

#include <QTest>

namespace {

const QString Daemon = QStringLiteral("org.kde.kdeconnect");
const QString DaemonPath = QStringLiteral("/modules/kdeconnect");
const QString Mock = QStringLiteral("org.freedesktop.DBus.Mock");

} // namespace

// Batches through a stand-in KDE Connect daemon on a private session bus.
class TestPhoneSending : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void eachRecipientIsOneCallAndHandedToThePhone();
    void refusalIsAFailureWithItsReason();
    void phoneOutOfReachPauses();

private:
    void steer(const QString &method, const QVariantList &arguments);
    bool hasPhone() const;
    QStringList asked(const QString &deviceId);
    BatchRunner *run(const QStringList &mobiles, const QString &deviceId, qint64 *batch);

    DBusMockBus m_bus{DBusMockBus::Kind::Session};
    std::unique_ptr<SendLogFile> m_file;
    std::unique_ptr<SendingHub> m_hub;
    int m_phones = 0;
    QString m_phone;
};

void TestPhoneSending::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(&error), qPrintable(error));
    QVERIFY2(m_bus.startService(QStringLiteral("kdeconnect.py"), Daemon, &error),
             qPrintable(error));
}

void TestPhoneSending::init()
{
    // A new phone for every test: what it was asked starts empty.
    m_phone = QStringLiteral("phone%1").arg(++m_phones);
    steer(QStringLiteral("AddPhone"), {m_phone, QStringLiteral("小米 %1").arg(m_phones), true, true});
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    m_hub = std::make_unique<SendingHub>(m_file->database(),
                                         QDBusConnection(QStringLiteral("no system bus")),
                                         m_bus.connection(), &QDateTime::currentDateTime);
    QTRY_VERIFY(hasPhone());
}

void TestPhoneSending::cleanup()
{
    m_hub.reset();
    m_file.reset();
    steer(QStringLiteral("SetReachable"), {m_phone, false});
}

void TestPhoneSending::steer(const QString &method, const QVariantList &arguments)
{
    const QDBusMessage reply = m_bus.call(Daemon, DaemonPath, Mock, method, arguments);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

bool TestPhoneSending::hasPhone() const
{
    const QList<SendDevice> devices = m_hub->devices();
    return std::any_of(devices.cbegin(), devices.cend(),
                       [this](const SendDevice &device) { return device.id == m_phone; });
}

QStringList TestPhoneSending::asked(const QString &deviceId)
{
    return m_bus
        .property(Daemon, DaemonPath + QStringLiteral("/devices/%1/sms").arg(deviceId),
                  QStringLiteral("org.kde.kdeconnect.device.sms"), QStringLiteral("Sent"))
        .toStringList();
}

BatchRunner *TestPhoneSending::run(const QStringList &mobiles, const QString &deviceId,
                                   qint64 *batch)
{
    BatchSettings settings;
    settings.channel = BatchSettings::Channel::Phone;
    settings.deviceId = deviceId;
    m_file->log().createBatch(settings, recipientsFor(mobiles, QStringLiteral("您好")),
                              QDateTime::currentDateTime(), batch, nullptr);
    BatchRunner *runner =
        m_hub->makeRunner(*batch, settings, {BatchSettings::Channel::Phone, deviceId, QString()});
    runner->start();
    return runner;
}

void TestPhoneSending::eachRecipientIsOneCallAndHandedToThePhone()
{
    qint64 batch = 0;
    BatchRunner *runner =
        run({QStringLiteral("13800000001"), QStringLiteral("13800000002")}, m_phone, &batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    // One address a call (several would make a group MMS), the default SIM.
    QCOMPARE(asked(m_phone), (QStringList{QStringLiteral("1|13800000001|您好 13800000001|-1"),
                                          QStringLiteral("1|13800000002|您好 13800000002|-1")}));
    QCOMPARE(m_file->states(batch), QStringList(2, QStringLiteral("已交给手机")));
}

void TestPhoneSending::refusalIsAFailureWithItsReason()
{
    steer(QStringLiteral("FailSms"), {m_phone, QStringLiteral("没有短信权限")});
    qint64 batch = 0;
    BatchRunner *runner = run({QStringLiteral("13800000003")}, m_phone, &batch);
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Finished);
    QCOMPARE(m_file->states(batch), QStringList{QStringLiteral("失败")});
    QVERIFY(m_file->notes(batch).first().contains(QStringLiteral("没有短信权限")));
}

void TestPhoneSending::phoneOutOfReachPauses()
{
    qint64 batch = 0;
    BatchRunner *runner =
        run({QStringLiteral("13800000004"), QStringLiteral("13800000005")}, m_phone, &batch);
    runner->pause();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    steer(QStringLiteral("SetReachable"), {m_phone, false});
    QTRY_VERIFY(m_hub->devices().isEmpty());
    runner->resume();
    QTRY_COMPARE(runner->phase(), BatchRunner::Phase::Paused);
    QVERIFY(runner->statusText().contains(QStringLiteral("不在")));
    QVERIFY(m_file->states(batch).contains(QStringLiteral("待发送")));
    QCOMPARE(asked(m_phone).size(), m_file->states(batch).count(QStringLiteral("已交给手机")));
}

QTEST_GUILESS_MAIN(TestPhoneSending)
#include "test_phonesending.moc"
