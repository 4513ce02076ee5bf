#include "app/sendingmenu.h"
#include "desktop/messagebox.h"
#include "instantcommands.h"
#include "mainwindow/mainwindow.h"
#include "model/contactlistmodel.h"
#include "phonelink/kdeconnectphones.h"
#include "safekeeping/appsession.h"
#include "sending/batchstarter.h"
#include "sending/modemmanagerlink.h"
#include "sending/sendingservice.h"
#include "sending/ui/devicepicker.h"
#include "sending/ui/senddialog.h"
#include "sending/ui/sendingcontroller.h"
#include "sendingfixture.h"
#include "support/phonerig.h"
#include "support/testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using TestSupport::makeContact;

namespace {

template<typename T>
T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromUtf8(name));
}

} // namespace

// The send dialog and the 短信 menu as a user meets them, sending through a
// pretend phone paired with the real KDE Connect daemon.
class TestSendDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void menuOpensTheWindowsOfSending();
    void withoutDeviceItSaysWhatToSetUp();
    void showsRecipientsTextCostAndEnd();
    void devicesAreTickedByTheirRules();
    void oddTextsAreAskedAboutBeforeSending_data();
    void oddTextsAreAskedAboutBeforeSending();
    void sendsTheBatchAndShowsProgressInTheMenu();
    void closingWhileSendingMayLeaveItRunning();
    void aScheduledBatchWaitsForItsTime();
    void unfinishedBatchesAreOfferedAndContinuedAtOnce();
    void aMissedScheduleIsOffered_data();
    void aMissedScheduleIsOffered();

private:
    SendDialog &openDialog(const ContactList &contacts, const QString &text);
    void startClean(SendDialog &dialog);
    QStringList asked() const;

    PhoneRig m_rig;
    QString m_phone;
    ContactList m_contacts;
    std::unique_ptr<SendLogFile> m_file;
    ModemManagerLink m_modems{QDBusConnection(QStringLiteral("no system bus"))};
    std::unique_ptr<KdeConnectPhones> m_phones;
    std::unique_ptr<SendingService> m_service;
    InstantCommands m_commands;
    std::unique_ptr<QWidget> m_window;
    SendingController *m_controller = nullptr;
};

void TestSendDialog::initTestCase()
{
    QString error;
    START_PHONE_RIG(m_rig);
    QVERIFY2(m_rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("小米手机"), &m_phone, &error),
             qPrintable(error));
    m_contacts = {
        makeContact(QStringLiteral("13800000001"), QStringLiteral("张三"), QStringLiteral("张先生")),
        makeContact(QStringLiteral("13800000002"), QStringLiteral("李四"), QString()),
        makeContact(QStringLiteral("12345"), QStringLiteral("短号")),
        makeContact(QStringLiteral("13800000003"), QStringLiteral("王五"), {}, {}, false),
    };
}

void TestSendDialog::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
    m_phones = std::make_unique<KdeConnectPhones>(m_rig.connection());
    m_service = std::make_unique<SendingService>(m_file->database(), m_modems, *m_phones,
                                                 &QDateTime::currentDateTime);
    m_window = std::make_unique<QWidget>();
    m_controller = new SendingController(*m_window, *m_service, m_commands);
}

void TestSendDialog::cleanup()
{
    m_window.reset();
    m_service.reset();
    m_phones.reset();
    m_file.reset();
}

QStringList TestSendDialog::asked() const
{
    QStringList numbers;
    for (const QJsonObject &packet : m_rig.received(m_phone, QStringLiteral("kdeconnect.sms.request")))
        numbers.append(packet.value(QStringLiteral("body")).toObject().value(QStringLiteral("messageBody")).toString());
    return numbers;
}

SendDialog &TestSendDialog::openDialog(const ContactList &contacts, const QString &text)
{
    m_controller->openSendDialog(contacts, text);
    return *m_controller->sendDialog();
}

// Every message at once, whatever the hour.
void TestSendDialog::startClean(SendDialog &dialog)
{
    QTRY_VERIFY(child<QPushButton>(&dialog, "开始发送")->isEnabled());
    child<QSpinBox>(&dialog, "每条间隔（秒）")->setValue(0);
    child<QCheckBox>(&dialog, "只在此时段内发送")->setChecked(false);
}

void TestSendDialog::menuOpensTheWindowsOfSending()
{
    QTemporaryDir folder;
    AppSession session(folder.path());
    QString error;
    QVERIFY2(session.start(&error), qPrintable(error));
    MainWindow window(session.store(), QString());
    SendingMenu menu(window, session, *m_phones);
    QStringList menus;
    for (QAction *action : window.menuBar()->actions())
        menus.append(action->text());
    QCOMPARE(menus.value(1), QStringLiteral("短信(S)"));
    window.contactList().replaceAll(m_contacts);
    window.setSmsText(QStringLiteral("{姓名}您好"));
    window.findChild<QAction *>(QStringLiteral("直接发送"))->trigger();
    auto *dialog = window.findChild<SendDialog *>(QStringLiteral("SendDialog"));
    QVERIFY(dialog && dialog->isVisible());
    // The working list's order and the SMS box's text, as the menu found them
    // (a list shown anew is ticked whole).
    QCOMPARE(dialog->recipients().recipients.size(), 3);
    QCOMPARE(dialog->recipients().recipients.first().text, QStringLiteral("张三您好"));
    window.findChild<QAction *>(QStringLiteral("发送记录"))->trigger();
    QVERIFY(window.findChild<QDialog *>(QStringLiteral("SendLogWindow")));
    window.findChild<QAction *>(QStringLiteral("退订名单"))->trigger();
    QVERIFY(window.findChild<QDialog *>(QStringLiteral("OptOutWindow")));
}

void TestSendDialog::withoutDeviceItSaysWhatToSetUp()
{
    KdeConnectPhones none(QDBusConnection(QStringLiteral("no session bus")));
    SendingService service(m_file->database(), m_modems, none, &QDateTime::currentDateTime);
    BatchStarter starter(service, m_commands);
    SendDialog dialog(service, starter);
    dialog.prepare(m_contacts, QStringLiteral("您好"));
    dialog.show();
    QVERIFY(child<QLabel>(&dialog, "noDevice")->isVisible());
    QVERIFY(child<QLabel>(&dialog, "noDevice")->text().contains(QStringLiteral("ModemManager")));
    QVERIFY(child<QLabel>(&dialog, "noDevice")->text().contains(QStringLiteral("KDE Connect")));
    QVERIFY(!child<QPushButton>(&dialog, "开始发送")->isEnabled());
}

void TestSendDialog::showsRecipientsTextCostAndEnd()
{
    SendDialog &dialog = openDialog(m_contacts, QStringLiteral("{称呼}：") + QString(70, u'好'));
    QCOMPARE(child<QPlainTextEdit>(&dialog, "preview")->toPlainText(),
             QStringLiteral("张先生：") + QString(70, u'好'));
    QCOMPARE(child<QLabel>(&dialog, "length")->text(), QStringLiteral("74 字，2 条；整批共 4 条"));
    const QString summary = child<QLabel>(&dialog, "收信人")->text();
    QVERIFY2(summary.contains(QStringLiteral("2 人")), qPrintable(summary));
    QVERIFY(summary.contains(QStringLiteral("12345")));
    QVERIFY(child<QLabel>(&dialog, "warning")->text().contains(QStringLiteral("1 人的 {称呼}")));
    // The phone's pace: 30 s apart, so the second leaves half a minute on.
    QTRY_VERIFY(child<QLabel>(&dialog, "estimate")->text().startsWith(QStringLiteral("预计")));
    QCOMPARE(dialog.settings().intervalSeconds, 30);
}

void TestSendDialog::devicesAreTickedByTheirRules()
{
    DevicePicker picker;
    const auto modem = [](const char *id, bool usable) {
        return SendDevice{BatchSettings::Channel::Modem, QString::fromUtf8(id),
                          QStringLiteral("短信猫：") + QString::fromUtf8(id), QString::fromUtf8(id),
                          usable};
    };
    picker.setDevices({modem("iccid:1", true), modem("iccid:2", true), modem("iccid:3", false),
                       {BatchSettings::Channel::Phone, QStringLiteral("phone"),
                        QStringLiteral("手机"), QStringLiteral("手机"), true}});
    // The first usable one to begin with.
    QCOMPARE(picker.choice().ids, QStringList{QStringLiteral("iccid:1")});
    picker.tickAllModems();
    QCOMPARE(picker.choice().ids, (QStringList{QStringLiteral("iccid:1"), QStringLiteral("iccid:2")}));
    auto *list = child<QListWidget>(&picker, "发送方式");
    // A phone goes alone; a modem ticked again sends the phone away.
    list->item(3)->setCheckState(Qt::Checked);
    QCOMPARE(picker.choice().ids, QStringList{QStringLiteral("phone")});
    QCOMPARE(picker.choice().channel, BatchSettings::Channel::Phone);
    list->item(1)->setCheckState(Qt::Checked);
    QCOMPARE(picker.choice().ids, QStringList{QStringLiteral("iccid:2")});
    // A SIM that wants its PIN cannot be ticked.
    QVERIFY(!(list->item(2)->flags() & Qt::ItemIsUserCheckable));
}

void TestSendDialog::oddTextsAreAskedAboutBeforeSending_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("asked");
    QTest::newRow("unknown placeholder") << QStringLiteral("{未知}您好") << QStringLiteral("{未知}");
    QTest::newRow("six parts each") << QString(400, u'长') << QStringLiteral("6 条");
}

void TestSendDialog::oddTextsAreAskedAboutBeforeSending()
{
    QFETCH(QString, text);
    QFETCH(QString, asked);
    SendDialog &dialog = openDialog(m_contacts, text);
    startClean(dialog);
    MessageBox::setNextAnswer(QMessageBox::No);
    dialog.startSending();
    QVERIFY2(MessageBox::lastText().contains(asked), qPrintable(MessageBox::lastText()));
    QTest::qWait(100);
    QList<BatchSummary> batches;
    QCOMPARE(m_file->log().batches(&batches, nullptr), LogResult::Ok);
    QVERIFY(batches.isEmpty());
}

void TestSendDialog::sendsTheBatchAndShowsProgressInTheMenu()
{
    QStringList menuTexts;
    connect(m_controller, &SendingController::sendMenuTextChanged, this,
            [&menuTexts](const QString &text) { menuTexts.append(text); });
    SendDialog &dialog = openDialog(m_contacts, QStringLiteral("{姓名}您好"));
    startClean(dialog);
    QTest::mouseClick(child<QPushButton>(&dialog, "开始发送"), Qt::LeftButton);
    QTRY_VERIFY(child<QLabel>(&dialog, "status")->text().startsWith(
        QStringLiteral("已发送 2，失败 0，剩余 0")));
    QTRY_VERIFY(child<QLabel>(&dialog, "status")->text().contains(QStringLiteral("发送完毕")));
    QVERIFY(!child<QPushButton>(&dialog, "开始发送")->isEnabled());
    QVERIFY(menuTexts.contains(QStringLiteral("直接发送…（发送中 0/2）")));
    QCOMPARE(menuTexts.last(), QStringLiteral("直接发送…"));
    QList<BatchSummary> batches;
    QCOMPARE(m_file->log().batches(&batches, nullptr), LogResult::Ok);
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().settings.text, QStringLiteral("{姓名}您好"));
    QCOMPARE(m_file->states(batches.first().id), QStringList(2, QStringLiteral("已交给手机")));
    // Nothing left: 关闭 closes without a question.
    const int shown = MessageBox::shownCount();
    QVERIFY(dialog.close());
    QCOMPARE(MessageBox::shownCount(), shown);
}

void TestSendDialog::closingWhileSendingMayLeaveItRunning()
{
    SendDialog &dialog = openDialog(m_contacts, QStringLiteral("您好"));
    startClean(dialog);
    child<QSpinBox>(&dialog, "每条间隔（秒）")->setValue(2);
    dialog.startSending();
    QTRY_VERIFY(m_service->isSending());
    // 否: the window goes, the batch goes on in the background.
    MessageBox::setNextAnswer(QMessageBox::No);
    dialog.close();
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("是否停止发送")));
    QTRY_COMPARE_WITH_TIMEOUT(m_service->runner()->phase(), BatchRunner::Phase::Finished, 15000);
    QCOMPARE(m_service->runner()->progress().sent, 2);
}

void TestSendDialog::aScheduledBatchWaitsForItsTime()
{
    SendDialog &dialog = openDialog(m_contacts, QStringLiteral("周六促销"));
    startClean(dialog);
    child<QCheckBox>(&dialog, "定时发送")->setChecked(true);
    QVERIFY(child<QLabel>(&dialog, "scheduleNote")->text().contains(QStringLiteral("程序开着")));
    const qsizetype before = asked().size();
    dialog.startSending();
    QTRY_VERIFY(MessageBox::lastText().contains(QStringLiteral("定在")));
    QList<BatchSummary> batches;
    QCOMPARE(m_file->log().batches(&batches, nullptr), LogResult::Ok);
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().status, BatchStatus::Scheduled);
    QVERIFY(batches.first().scheduledAt > QDateTime::currentDateTime());
    QTest::qWait(300);
    QCOMPARE(asked().size(), before);
}

void TestSendDialog::unfinishedBatchesAreOfferedAndContinuedAtOnce()
{
    // Two batches a stopped program left behind, one of them with a
    // recipient 发送中 (through a phone, which cannot say what became of it).
    BatchSettings settings;
    settings.channel = BatchSettings::Channel::Phone;
    settings.deviceIds = {m_phone};
    const qint64 first = m_file->addBatch(
        settings, recipientsFor(mobiles(3, 13700000001), QStringLiteral("您好")),
        QDateTime::currentDateTime());
    const qint64 second = m_file->addBatch(
        settings, recipientsFor(mobiles(1, 13700000009), QStringLiteral("您好")),
        QDateTime::currentDateTime());
    m_file->log().setStatus(second, BatchStatus::Paused, nullptr);
    QList<SendRecord> records;
    QCOMPARE(m_file->log().records(first, {}, &records, nullptr), LogResult::Ok);
    bool taken = false;
    QCOMPARE(m_file->log().markSending(records.first().id, m_phone, QDateTime::currentDateTime(),
                                       &taken, nullptr),
             LogResult::Ok);

    MessageBox::setNextAnswer(QMessageBox::Yes);
    m_controller->offerUnfinished();
    QTRY_COMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastText(),
             QStringLiteral("上次的发送还有 3 人没有发出（共 2 批），是否继续？"));
    // 是 goes on at once, the dialog showing it; the 发送中 one is not sent again.
    QTRY_VERIFY(m_controller->sendDialog() && m_controller->sendDialog()->isVisible());
    QTRY_COMPARE(m_file->states(second), QStringList{QStringLiteral("已交给手机")});
    QCOMPARE(m_file->states(first), (QStringList{QStringLiteral("未确认"), QStringLiteral("已交给手机"),
                                                 QStringLiteral("已交给手机")}));
}

void TestSendDialog::aMissedScheduleIsOffered_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<BatchStatus>("after");
    QTest::addColumn<bool>("askedAgain");
    QTest::newRow("是") << int(QMessageBox::Yes) << BatchStatus::Finished << false;
    QTest::newRow("否") << int(QMessageBox::No) << BatchStatus::Dropped << false;
    QTest::newRow("以后再说") << int(QMessageBox::Close) << BatchStatus::Scheduled << true;
}

void TestSendDialog::aMissedScheduleIsOffered()
{
    QFETCH(int, answer);
    QFETCH(BatchStatus, after);
    QFETCH(bool, askedAgain);
    BatchSettings settings;
    settings.channel = BatchSettings::Channel::Phone;
    settings.deviceIds = {m_phone};
    settings.intervalSeconds = 0;
    const QDateTime missed = QDateTime::currentDateTime().addSecs(-3600);
    const qint64 batch = m_file->addBatch(settings,
                                          recipientsFor(mobiles(2, 13600000001), QStringLiteral("您好")),
                                          missed.addSecs(-600), missed);
    MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
    m_controller->offerUnfinished();
    QTRY_COMPARE(MessageBox::shownCount(), 1);
    QVERIFY2(MessageBox::lastText().startsWith(QStringLiteral("定时发送的短信（2 人，原定 ")),
             qPrintable(MessageBox::lastText()));
    BatchSummary summary;
    QTRY_VERIFY(m_file->log().batch(batch, &summary, nullptr) == LogResult::Ok
                && summary.status == after);
    // Not started by its timer meanwhile: its time was before this start.
    QTest::qWait(200);
    QCOMPARE(m_file->log().batch(batch, &summary, nullptr), LogResult::Ok);
    QCOMPARE(summary.status, after);
    MessageBox::setUnattended(true);
    m_controller->offerUnfinished();
    QTest::qWait(200);
    QCOMPARE(MessageBox::shownCount(), askedAgain ? 2 : 1);
}

QTEST_MAIN(TestSendDialog)
#include "test_senddialog.moc"
