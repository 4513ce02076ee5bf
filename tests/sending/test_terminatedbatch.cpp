#include "modem/modemlinkfixture.h"
#include "sendingfixture.h"

#include <QProcess>
#include <QTest>

#include <csignal>

// The whole program told to stop (SIGTERM, as at logout) while a message is
// out on a modem that does not answer: it stops at once, records what it
// knows, and the batch is offered again.
class TestTerminatedBatch : public QObject
{
    Q_OBJECT

private slots:
    void stopsWhileAMessageIsOut();
};

void TestTerminatedBatch::stopsWhileAMessageIsOut()
{
    ModemRig rig;
    START_MODEM_RIG(rig);
    const ModemRig::Modem modem = ModemLinkTest::modemNumbered(1);
    int index = -1;
    ADD_MODEM(rig, index, modem);
    rig.steer(index, {{QStringLiteral("cmd"), QStringLiteral("hang")}});

    // A batch an earlier run left, on this modem.
    QTemporaryDir folder;
    qint64 batch = 0;
    {
        SendLogFile file;
        QString error;
        QVERIFY2(file.open(&error), qPrintable(error));
        BatchSettings settings;
        settings.deviceIds = {ModemLinkTest::idOf(modem)};
        settings.text = QStringLiteral("您好");
        batch = file.addBatch(settings, recipientsFor(mobiles(3), QStringLiteral("您好")),
                              QDateTime::currentDateTime());
        QVERIFY(file.database().close(&error));
        QVERIFY(QFile::copy(file.path(), folder.filePath(QStringLiteral("通讯录.dat"))));
    }

    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANZHOU_TEST_APP_FOLDER"), folder.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), rig.address());
    // 是 to "上次的发送还有 3 人没有发出，是否继续？".
    environment.insert(QStringLiteral("LANZHOU_TEST_ANSWER_YES"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PROGRAM_DRIVER), QStringList());
    QVERIFY(program.waitForStarted());
    // The first message reached the modem, which keeps it without an answer.
    QTRY_COMPARE_WITH_TIMEOUT(rig.sent(index).size(), 1, 60000);

    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(20000));
    QVERIFY2(stopping.elapsed() < 10000, qPrintable(QString::number(stopping.elapsed())));

    Database database;
    QString error;
    QCOMPARE(database.open(folder.filePath(QStringLiteral("通讯录.dat")),
                           Database::Access::ReadWrite, &error),
             Database::OpenResult::Ok);
    BatchLog log(database);
    QList<SendRecord> records;
    QCOMPARE(log.records(batch, {}, &records, nullptr), LogResult::Ok);
    QCOMPARE(records.at(0).state, RecordState::Sending); // settled at the next start
    QCOMPARE(records.at(1).state, RecordState::Waiting);
    QList<QPair<qint64, int>> unfinished;
    QCOMPARE(log.unfinishedBatches(&unfinished, nullptr), LogResult::Ok);
    QCOMPARE(unfinished, (QList<QPair<qint64, int>>{{batch, 2}}));
    QCOMPARE(rig.sent(index).size(), 1);
}

QTEST_GUILESS_MAIN(TestTerminatedBatch)
#include "test_terminatedbatch.moc"
