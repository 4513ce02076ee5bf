#include "modem/modemlinkfixture.h"
#include "sendingfixture.h"

#include <QProcess>
#include <QTest>

namespace {

constexpr qint64 FirstMobile = 13400000001;
constexpr int Recipients = 5;
constexpr int KilledAt = 2; // the third recipient, counting from 0
constexpr int EachSendMs = 4000;

} // namespace

// A program killed (SIGKILL) while a message is out, then started again
// against the real ModemManager: only the modem saying "sent" settles the
// message; anything else leaves it 未确认; nobody gets a message twice.
class TestKilledBatch : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileSendingThenContinued_data();
    void killedWhileSendingThenContinued();
};

void TestKilledBatch::killedWhileSendingThenContinued_data()
{
    QTest::addColumn<bool>("modemDoneFirst"); // the modem answered before the restart
    QTest::addColumn<QString>("settledAs");
    QTest::newRow("the modem sent it meanwhile") << true << QStringLiteral("已发送");
    QTest::newRow("the modem still sending") << false << QStringLiteral("未确认");
}

void TestKilledBatch::killedWhileSendingThenContinued()
{
    QFETCH(bool, modemDoneFirst);
    QFETCH(QString, settledAs);
    ModemRig rig;
    START_MODEM_RIG(rig);
    const ModemRig::Modem modem = ModemLinkTest::modemNumbered(1);
    int index = -1;
    ADD_MODEM(rig, index, modem);
    rig.steer(index, {{QStringLiteral("cmd"), QStringLiteral("delay")}, {QStringLiteral("ms"), EachSendMs}});

    SendLogFile file;
    QString error;
    QVERIFY2(file.open(&error), qPrintable(error));
    const QString driver = QCoreApplication::applicationDirPath() + QStringLiteral("/batchdriver");
    constexpr qint64 batch = 1;
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(driver, {file.path(), QStringLiteral("start"), ModemLinkTest::idOf(modem),
                         QString::number(FirstMobile), QString::number(Recipients)});
    QVERIFY(first.waitForStarted());
    // Killed once the message is made on the modem and its sending under way.
    const auto sending = [&file] {
        QList<SendRecord> records;
        file.log().records(batch, {}, &records, nullptr);
        return records.size() > KilledAt && records.at(KilledAt).state == RecordState::Sending
               && !records.at(KilledAt).smsPath.isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(sending(), 60000);
    first.kill();
    QVERIFY(first.waitForFinished());
    if (modemDoneFirst)
        QTRY_COMPARE_WITH_TIMEOUT(rig.sent(index).size(), KilledAt + 1, 30000);

    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    second.start(driver, {file.path(), QStringLiteral("continue")});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(rig.sent(index).size(), Recipients, 30000);
    QStringList numbers;
    for (const QJsonObject &message : rig.sent(index))
        numbers.append(message.value(QStringLiteral("number")).toString());
    QStringList expected;
    for (int i = 0; i < Recipients; ++i)
        expected.append(QString::number(FirstMobile + i));
    QCOMPARE(numbers, expected);
    QStringList states(Recipients, QStringLiteral("已发送"));
    states[KilledAt] = settledAs;
    QCOMPARE(file.states(batch), states);
}

QTEST_GUILESS_MAIN(TestKilledBatch)
#include "test_killedbatch.moc"
