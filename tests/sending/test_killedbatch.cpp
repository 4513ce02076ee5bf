#include "sendingfixture.h"
#include "support/dbusmockbus.h"

#include <QDBusObjectPath>
#include <QProcess>
#include <QTest>

namespace {

const QString ModemManager = QStringLiteral("org.freedesktop.ModemManager1");
const QString Root = QStringLiteral("/org/freedesktop/ModemManager1");
const QString Mock = QStringLiteral("org.freedesktop.DBus.Mock");
constexpr qint64 FirstMobile = 13400000001;
constexpr int Recipients = 8;
constexpr int KilledAt = 3; // the fourth recipient, counting from 0

} // namespace

// A program killed (SIGKILL) while a message is out, then started again:
// the batch goes on and nobody gets a message twice.
class TestKilledBatch : public QObject
{
    Q_OBJECT

private slots:
    void killedInTheMiddleThenContinued();
};

void TestKilledBatch::killedInTheMiddleThenContinued()
{
    DBusMockBus bus(DBusMockBus::Kind::System);
    QString error;
    QVERIFY2(bus.start(&error), qPrintable(error));
    QVERIFY2(bus.startService(QStringLiteral("modemmanager.py"), ModemManager, &error),
             qPrintable(error));
    const QDBusMessage added = bus.call(ModemManager, Root, Mock, QStringLiteral("AddModem"),
                                        {QStringLiteral("Huawei"), QStringLiteral("E3372"),
                                         QStringLiteral("中国联通"), 60u});
    const QString modem = added.arguments().value(0).value<QDBusObjectPath>().path();
    QVERIFY(!modem.isEmpty());
    // The killed recipient's message takes its time on the modem.
    const QString slow = QString::number(FirstMobile + KilledAt);
    bus.call(ModemManager, Root, Mock, QStringLiteral("SetSendDelay"), {slow, 5.0});

    SendLogFile file;
    QVERIFY2(file.open(&error), qPrintable(error));
    const QString driver = QCoreApplication::applicationDirPath() + QStringLiteral("/batchdriver");
    constexpr qint64 batch = 1;
    QProcess first;
    first.start(driver, {file.path(), QStringLiteral("start"), modem,
                         QString::number(FirstMobile), QString::number(Recipients)});
    QVERIFY(first.waitForStarted());
    // Killed once the message is made on the modem and its sending under way.
    const auto sending = [&file] {
        QList<SendRecord> records;
        file.log().records(batch, &records, nullptr);
        return records.size() > KilledAt && records.at(KilledAt).state == RecordState::Sending
               && !records.at(KilledAt).smsPath.isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(sending(), 15000);
    first.kill();
    QVERIFY(first.waitForFinished());

    QProcess second;
    second.start(driver, {file.path(), QStringLiteral("continue"), modem});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 0);

    const QStringList sent = bus.call(ModemManager, Root, Mock, QStringLiteral("Sent"))
                                 .arguments()
                                 .value(0)
                                 .toStringList();
    QStringList expected;
    for (int i = 0; i < Recipients; ++i) {
        const QString mobile = QString::number(FirstMobile + i);
        expected.append(mobile + QStringLiteral("|您好 ") + mobile);
    }
    QCOMPARE(sent, expected);
    QCOMPARE(file.states(batch), QStringList(Recipients, QStringLiteral("已发送")));
}

QTEST_GUILESS_MAIN(TestKilledBatch)
#include "test_killedbatch.moc"
