#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "instantcommands.h"
#include "phonelink/kdeconnectphones.h"
#include "sending/batchstarter.h"
#include "sending/modemmanagerlink.h"
#include "sending/sendingservice.h"
#include "sending/ui/optoutwindow.h"
#include "sending/ui/sendlogwindow.h"
#include "sendingfixture.h"
#include "support/testsupport.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

// The log window's commands and the opt-out list, on a real send log.
class TestSendLogWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void resendTakesTheFailedAndAsksAboutTheUnconfirmed_data();
    void resendTakesTheFailedAndAsksAboutTheUnconfirmed();
    void exportWritesEveryRecipientAsCsv();
    void pastedNumbersJoinTheListAndTheRestStays();

private:
    // A batch whose recipients end in these states.
    qint64 batchWithStates(const QList<RecordState> &states);

    std::unique_ptr<SendLogFile> m_file;
    std::unique_ptr<ModemManagerLink> m_modems;
    std::unique_ptr<KdeConnectPhones> m_phones;
    std::unique_ptr<SendingService> m_service;
    InstantCommands m_commands;
    std::unique_ptr<BatchStarter> m_starter;
};


void TestSendLogWindow::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    // No daemon answers: the batches wait for devices that never come.
    m_modems = std::make_unique<ModemManagerLink>(QDBusConnection(QStringLiteral("none")));
    m_phones = std::make_unique<KdeConnectPhones>(QDBusConnection(QStringLiteral("none")));
    m_service = std::make_unique<SendingService>(m_file->database(), *m_modems, *m_phones,
                                                 &QDateTime::currentDateTime);
    m_starter = std::make_unique<BatchStarter>(*m_service, m_commands);
}

void TestSendLogWindow::cleanup()
{
    m_starter.reset();
    m_service.reset();
    m_phones.reset();
    m_modems.reset();
    m_file.reset();
}

qint64 TestSendLogWindow::batchWithStates(const QList<RecordState> &states)
{
    QStringList mobiles;
    for (int i = 0; i < states.size(); ++i)
        mobiles.append(QStringLiteral("1350000000%1").arg(i));
    BatchSettings settings;
    settings.deviceIds = {QStringLiteral("iccid:8986001")};
    const qint64 batch = m_file->addBatch(settings, recipientsFor(mobiles, QStringLiteral("您好")),
                                          QDateTime::currentDateTime());
    QList<SendRecord> records;
    m_file->log().records(batch, {}, &records, nullptr);
    for (int i = 0; i < states.size(); ++i) {
        records[i].state = states.at(i);
        records[i].note = states.at(i) == RecordState::Failed ? QStringLiteral("网络超时, \"重试\"")
                                                              : QString();
        m_file->log().markOutcome(records.at(i), nullptr);
    }
    m_file->log().setStatus(batch, BatchStatus::Paused, nullptr);
    return batch;
}

void TestSendLogWindow::resendTakesTheFailedAndAsksAboutTheUnconfirmed_data()
{
    QTest::addColumn<bool>("alsoUnconfirmed");
    QTest::newRow("failed only") << false;
    QTest::newRow("failed and unconfirmed") << true;
}

void TestSendLogWindow::resendTakesTheFailedAndAsksAboutTheUnconfirmed()
{
    QFETCH(bool, alsoUnconfirmed);
    batchWithStates({RecordState::Sent, RecordState::Failed, RecordState::Unconfirmed,
                     RecordState::Failed, RecordState::Delivered});
    // A failed number that refused messages since is not taken again.
    m_file->optOuts().add({QStringLiteral("13500000003")}, QStringLiteral("短信回复"),
                          QDateTime::currentDateTime(), nullptr, nullptr);
    SendLogWindow window(*m_service, *m_starter);
    QSignalSpy started(&window, &SendLogWindow::batchStarted);
    window.selectBatch(0);
    MessageBox::setNextAnswer(alsoUnconfirmed ? QMessageBox::Yes : QMessageBox::No);
    window.resendFailed();
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("1 人")));
    QTRY_COMPARE(started.count(), 1);
    const qint64 created = m_service->runner()->batch();
    QList<SendRecord> records;
    QCOMPARE(m_file->log().records(created, {}, &records, nullptr), LogResult::Ok);
    QStringList mobiles;
    for (const SendRecord &record : std::as_const(records)) {
        QCOMPARE(record.state, RecordState::Waiting);
        mobiles.append(record.mobile);
    }
    QStringList expected{QStringLiteral("13500000001")};
    if (alsoUnconfirmed)
        expected.append(QStringLiteral("13500000002"));
    QCOMPARE(mobiles, expected);
    // Nobody to send through: it says so and waits.
    QTRY_COMPARE(m_service->runner()->phase(), BatchRunner::Phase::Paused);
}

void TestSendLogWindow::exportWritesEveryRecipientAsCsv()
{
    batchWithStates({RecordState::Sent, RecordState::Failed});
    SendLogWindow window(*m_service, *m_starter);
    window.selectBatch(0);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("记录.csv"));
    FileDialog::setNextFileName(path, QStringLiteral("CSV 文件 (*.csv)"));
    window.exportSelected();
    QCOMPARE(MessageBox::lastText(), QStringLiteral("文件导出成功！"));
    const QStringList lines = QString::fromUtf8(TestSupport::readAll(path).mid(3))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("手机号,姓名,状态,时间,发送设备,说明")));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("13500000000,,已发送,")));
    // A reason with a comma and quotes stays one field.
    QVERIFY2(lines.at(2).contains(QStringLiteral(",\"网络超时, \"\"重试\"\"\",")),
             qPrintable(lines.at(2)));
}

void TestSendLogWindow::pastedNumbersJoinTheListAndTheRestStays()
{
    OptOutWindow window(*m_service);
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("newNumbers"));
    input->setPlainText(QStringLiteral("13800000001\n +86 138 0000 0002 \n\n12345\n13800000001\n老王"));
    window.addTyped();
    QList<OptOut> list;
    QCOMPARE(m_file->optOuts().entries(&list, nullptr), LogResult::Ok);
    QStringList mobiles;
    for (const OptOut &entry : std::as_const(list))
        mobiles.append(entry.mobile);
    mobiles.sort();
    QCOMPARE(mobiles, (QStringList{QStringLiteral("13800000001"), QStringLiteral("13800000002")}));
    QCOMPARE(input->toPlainText(), QStringLiteral("12345\n老王"));
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("已加入 2 个号码")));
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("optOuts"));
    QCOMPARE(table->rowCount(), 2);
    table->selectRow(0);
    window.removeSelected();
    QCOMPARE(table->rowCount(), 1);
}

QTEST_MAIN(TestSendLogWindow)
#include "test_sendlogwindow.moc"
