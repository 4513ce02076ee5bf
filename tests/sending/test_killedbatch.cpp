#include "sendingfixture.h"
#include "support/modemrig.h"

#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

constexpr qint64 FirstMobile = 13400000001;
constexpr int Recipients = 8;
constexpr int KilledAt = 3; // the fourth recipient, counting from 0
constexpr int WaitMs = 30000;

} // namespace

// A program killed (SIGKILL) while the real ModemManager sends a message,
// then started again once the modem has sent it: the batch goes on and
// nobody gets a message twice.
class TestKilledBatch : public QObject
{
    Q_OBJECT

private slots:
    void killedInTheMiddleThenContinued();
};

void TestKilledBatch::killedInTheMiddleThenContinued()
{
    const QString unavailable = ModemRig::unavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    ModemRig rig;
    // Prints ModemManager's log and the AT dialogue however the test ends.
    const std::unique_ptr<ModemRig, void (*)(ModemRig *)> report(
        &rig, [](ModemRig *failed) { failed->reportIfFailed(); });
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
    ModemRig::Modem made;
    made.iccid = QStringLiteral("89860000000000004321");
    const int modem = rig.addModem(made, &error);
    QVERIFY2(modem >= 0, qPrintable(error));
    const QString modemId = QStringLiteral("iccid:") + made.iccid;
    // The killed recipient's message takes its time on the modem.
    const QString slow = QString::number(FirstMobile + KilledAt);
    rig.steer(modem,
              {{QStringLiteral("cmd"), QStringLiteral("delay")},
               {QStringLiteral("number"), slow},
               {QStringLiteral("ms"), 3000}});

    SendLogFile file;
    QVERIFY2(file.open(&error), qPrintable(error));
    const QString driver = QCoreApplication::applicationDirPath() + QStringLiteral("/batchdriver");
    constexpr qint64 batch = 1;
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(driver,
                {file.path(), QStringLiteral("start"), modemId, QString::number(FirstMobile),
                 QString::number(Recipients)});
    QVERIFY(first.waitForStarted());
    // Killed once the modem has the message and ModemManager waits for its answer.
    const auto submitted = [&rig, modem] {
        return rig.steer(modem, {{QStringLiteral("cmd"), QStringLiteral("state")}})
            .value(QStringLiteral("submitted"))
            .toInt();
    };
    QTRY_COMPARE_WITH_TIMEOUT(submitted(), KilledAt + 1, WaitMs);
    first.kill();
    QVERIFY(first.waitForFinished());
    QList<SendRecord> records;
    QVERIFY(file.log().records(batch, &records, nullptr));
    QCOMPARE(records.at(KilledAt).state, RecordState::Sending);
    QVERIFY(!records.at(KilledAt).smsPath.isEmpty());
    // ModemManager goes on without the program and sends it.
    QTRY_COMPARE_WITH_TIMEOUT(rig.sent(modem).size(), KilledAt + 1, WaitMs);

    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(driver, {file.path(), QStringLiteral("continue"), modemId});
    QVERIFY(second.waitForFinished(WaitMs));
    QCOMPARE(second.exitCode(), 0);

    QStringList sent;
    for (const QJsonObject &message : rig.sent(modem))
        sent.append(message.value(QStringLiteral("number")).toString() + u'|'
                    + message.value(QStringLiteral("text")).toString());
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
