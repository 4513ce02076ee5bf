#include "app/sendingmenu.h"
#include "desktop/messagebox.h"
#include "dialogs/commandrunner.h"
#include "model/contactlistmodel.h"
#include "mainwindow/mainwindow.h"
#include "sending/sendinghub.h"
#include "sending/ui/senddialog.h"
#include "sending/ui/sendingcontroller.h"
#include "sendingfixture.h"
#include "storage/contactstore.h"
#include "support/dbusmockbus.h"
#include "support/testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusObjectPath>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using TestSupport::makeContact;

namespace {

const QString ModemManager = QStringLiteral("org.freedesktop.ModemManager1");
const QString Root = QStringLiteral("/org/freedesktop/ModemManager1");
const QString Mock = QStringLiteral("org.freedesktop.DBus.Mock");

template<typename T>
T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromUtf8(name));
}

} // namespace

// The send dialog and the 短信 menu as a user meets them, with a stand-in
// ModemManager on a private system bus.
class TestSendDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void menuSitsBetweenFileAndHelp();
    void withoutDeviceItSaysWhatToSetUp();
    void showsRecipientsTextAndCost();
    void sendsTheBatchAndShowsProgress();
    void startedBatchKeepsWhatItWasGiven();
    void optOutLineIsRemembered();
    void closingWhileSendingAsks();
    void closingWhilePreparingSendsNothing();
    void interruptedBatchIsOfferedOnce();

private:
    QString addModem();
    void removeModem();

    DBusMockBus m_bus{DBusMockBus::Kind::System};
    QString m_modemPath;
    std::unique_ptr<SendLogFile> m_file;
    std::unique_ptr<SendingHub> m_hub;
    std::unique_ptr<CommandRunner> m_commands;
    ContactList m_contacts;
};

void TestSendDialog::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(&error), qPrintable(error));
    QVERIFY2(m_bus.startService(QStringLiteral("modemmanager.py"), ModemManager, &error),
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
    m_hub = std::make_unique<SendingHub>(m_file->database(), m_bus.connection(),
                                         QDBusConnection(QStringLiteral("no session bus")),
                                         &QDateTime::currentDateTime);
    m_commands = std::make_unique<CommandRunner>(nullptr);
}

void TestSendDialog::cleanup()
{
    m_commands.reset();
    m_hub.reset();
    m_file.reset();
    removeModem();
}

QString TestSendDialog::addModem()
{
    m_modemPath = m_bus.call(ModemManager, Root, Mock, QStringLiteral("AddModem"),
                             {QStringLiteral("SIMCom"), QStringLiteral("SIM7600"),
                              QStringLiteral("中国电信"), 70u})
                      .arguments()
                      .value(0)
                      .value<QDBusObjectPath>()
                      .path();
    return m_modemPath;
}

void TestSendDialog::removeModem()
{
    if (m_modemPath.isEmpty())
        return;
    m_bus.call(ModemManager, Root, Mock, QStringLiteral("RemoveModem"),
               {QVariant::fromValue(QDBusObjectPath(m_modemPath))});
    m_modemPath.clear();
}

void TestSendDialog::menuSitsBetweenFileAndHelp()
{
    ContactStore store(m_file->database());
    MainWindow window(store, QString());
    QStringList menus;
    for (QAction *action : window.menuBar()->actions())
        menus.append(action->text());
    QCOMPARE(menus.value(0), QStringLiteral("文件(F)"));
    QCOMPARE(menus.value(1), QStringLiteral("短信(S)"));
    QCOMPARE(menus.last(), QStringLiteral("帮助(H)"));
    SendingController controller(*m_hub, window.commandRunner(), window);
    SendingMenu::attach(window, controller);
    window.contactList().replaceAll(m_contacts);
    window.setSmsText(QStringLiteral("{姓名}您好"));
    window.findChild<QAction *>(QStringLiteral("直接发送"))->trigger();
    SendDialog *dialog = controller.sendDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("直接发送短信"));
    QCOMPARE(dialog->recipients().recipients.size(), 3);
    // The working list's order and the SMS box's text, as the menu found them.
    QCOMPARE(dialog->recipients().recipients.first().text, QStringLiteral("张三您好"));
    window.findChild<QAction *>(QStringLiteral("发送记录"))->trigger();
    QVERIFY(window.findChild<QDialog *>(QStringLiteral("SendLogWindow")));
    window.findChild<QAction *>(QStringLiteral("退订名单"))->trigger();
    QVERIFY(window.findChild<QDialog *>(QStringLiteral("OptOutWindow")));
}

void TestSendDialog::withoutDeviceItSaysWhatToSetUp()
{
    SendDialog dialog(*m_hub, *m_commands);
    dialog.prepare(m_contacts, QStringLiteral("您好"));
    dialog.show();
    QTest::qWait(200);
    QVERIFY(child<QLabel>(&dialog, "noDevice")->isVisible());
    QVERIFY(child<QLabel>(&dialog, "noDevice")->text().contains(QStringLiteral("ModemManager")));
    QVERIFY(child<QLabel>(&dialog, "noDevice")->text().contains(QStringLiteral("KDE Connect")));
    QVERIFY(!child<QPushButton>(&dialog, "开始发送")->isEnabled());
    // A modem plugged in while the dialog is open is offered at once.
    addModem();
    QTRY_COMPARE(child<QComboBox>(&dialog, "发送方式")->count(), 1);
    QVERIFY(!child<QLabel>(&dialog, "noDevice")->isVisible());
    QVERIFY(child<QPushButton>(&dialog, "开始发送")->isEnabled());
}

void TestSendDialog::showsRecipientsTextAndCost()
{
    SendDialog dialog(*m_hub, *m_commands);
    dialog.prepare(m_contacts, QStringLiteral("{称呼}：") + QString(70, u'好'));
    dialog.show();
    QCOMPARE(child<QPlainTextEdit>(&dialog, "preview")->toPlainText(),
             QStringLiteral("张先生：") + QString(70, u'好'));
    QCOMPARE(child<QLabel>(&dialog, "length")->text(), QStringLiteral("74 字，2 条；整批共 4 条"));
    const QString summary = child<QLabel>(&dialog, "收信人")->text();
    QVERIFY2(summary.contains(QStringLiteral("2 人")), qPrintable(summary));
    QVERIFY(summary.contains(QStringLiteral("12345")));
    QVERIFY(child<QLabel>(&dialog, "warning")->text().contains(QStringLiteral("1 人的 {称呼}")));
}

void TestSendDialog::sendsTheBatchAndShowsProgress()
{
    addModem();
    SendDialog dialog(*m_hub, *m_commands);
    dialog.prepare(m_contacts, QStringLiteral("{姓名}您好"));
    dialog.show();
    QTRY_VERIFY(child<QPushButton>(&dialog, "开始发送")->isEnabled());
    // The modem's defaults: 20 s apart, 200 an hour, 1,000 a day.
    QCOMPARE(dialog.settings().intervalSeconds, 20);
    QCOMPARE(dialog.settings().perHour, 200);
    QCOMPARE(dialog.settings().perDay, 1000);
    child<QSpinBox>(&dialog, "每条间隔（秒）")->setValue(0);
    child<QCheckBox>(&dialog, "只在此时段内发送")->setChecked(false);
    QTest::mouseClick(child<QPushButton>(&dialog, "开始发送"), Qt::LeftButton);
    QTRY_VERIFY(child<QLabel>(&dialog, "status")->text().startsWith(
        QStringLiteral("已发送 2，失败 0，剩余 0")));
    QVERIFY(!child<QPushButton>(&dialog, "开始发送")->isEnabled());
    QList<BatchSummary> batches;
    QVERIFY(m_file->log().batches(&batches, nullptr));
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().settings.text, QStringLiteral("{姓名}您好"));
    QCOMPARE(m_file->states(batches.first().id), QStringList(2, QStringLiteral("已发送")));
}

void TestSendDialog::startedBatchKeepsWhatItWasGiven()
{
    addModem();
    m_bus.call(ModemManager, Root, Mock, QStringLiteral("SetSendDelay"), {QString(), 0.3});
    SendDialog dialog(*m_hub, *m_commands);
    dialog.prepare(m_contacts, QStringLiteral("您好"));
    dialog.show();
    QTRY_VERIFY(child<QPushButton>(&dialog, "开始发送")->isEnabled());
    child<QSpinBox>(&dialog, "每条间隔（秒）")->setValue(0);
    child<QCheckBox>(&dialog, "只在此时段内发送")->setChecked(false);
    dialog.startSending();
    // The working list changes (another group chosen): the batch does not.
    dialog.prepare({makeContact(QStringLiteral("13900000009"), QStringLiteral("别人"))},
                   QStringLiteral("别的"));
    QCOMPARE(dialog.recipients().recipients.size(), 2);
    QTRY_VERIFY(child<QLabel>(&dialog, "status")->text().contains(QStringLiteral("剩余 0")));
    m_bus.call(ModemManager, Root, Mock, QStringLiteral("SetSendDelay"), {QString(), 0.0});
    QList<BatchSummary> batches;
    QVERIFY(m_file->log().batches(&batches, nullptr));
    QCOMPARE(batches.first().total(), 2);
}

void TestSendDialog::optOutLineIsRemembered()
{
    {
        SendDialog dialog(*m_hub, *m_commands);
        QVERIFY(!child<QCheckBox>(&dialog, "optOutLine")->isChecked());
        dialog.prepare(m_contacts, QStringLiteral("促销"));
        child<QCheckBox>(&dialog, "optOutLine")->setChecked(true);
        QCOMPARE(child<QPlainTextEdit>(&dialog, "preview")->toPlainText(),
                 QStringLiteral("促销回T退订"));
    }
    SendDialog again(*m_hub, *m_commands);
    QVERIFY(child<QCheckBox>(&again, "optOutLine")->isChecked());
}

void TestSendDialog::closingWhileSendingAsks()
{
    addModem();
    m_bus.call(ModemManager, Root, Mock, QStringLiteral("SetSendDelay"), {QString(), 0.3});
    SendDialog dialog(*m_hub, *m_commands);
    dialog.prepare(m_contacts, QStringLiteral("您好"));
    dialog.show();
    QTRY_VERIFY(child<QPushButton>(&dialog, "开始发送")->isEnabled());
    dialog.startSending();
    MessageBox::setNextAnswer(QMessageBox::No);
    QVERIFY(!dialog.close());
    QCOMPARE(MessageBox::lastText(), QStringLiteral("正在发送短信，是否停止发送？"));
    QVERIFY(dialog.isVisible());
    MessageBox::setNextAnswer(QMessageBox::Yes);
    QVERIFY(dialog.close());
    QTRY_VERIFY(!m_hub->isSending());
    m_bus.call(ModemManager, Root, Mock, QStringLiteral("SetSendDelay"), {QString(), 0.0});
    QList<BatchSummary> batches;
    QVERIFY(m_file->log().batches(&batches, nullptr));
    QCOMPARE(batches.first().status, SendLog::stopped());
    QVERIFY(batches.first().count(RecordState::Waiting) > 0);
}

void TestSendDialog::closingWhilePreparingSendsNothing()
{
    addModem();
    ContactList many;
    for (int i = 0; i < 20'000; ++i)
        many.append(makeContact(QString::number(13000000000LL + i), QStringLiteral("客户")));
    SendDialog dialog(*m_hub, *m_commands);
    dialog.prepare(many, QStringLiteral("您好"));
    dialog.show();
    QTRY_VERIFY(child<QPushButton>(&dialog, "开始发送")->isEnabled());
    // Closed while the batch is being written (the window goes on meanwhile).
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
    dialog.startSending();
    m_commands->finishLingering();
    QCoreApplication::processEvents();
    QVERIFY(!dialog.hasStarted());
    QVERIFY(m_hub->runner() == nullptr);
    QList<BatchSummary> batches;
    QVERIFY(m_file->log().batches(&batches, nullptr));
    QVERIFY(batches.isEmpty());
}

void TestSendDialog::interruptedBatchIsOfferedOnce()
{
    // A batch left 进行中 by a program that stopped, one recipient 发送中.
    BatchSettings settings;
    qint64 batch = 0;
    QCOMPARE(m_file->log().createBatch(settings,
                                       recipientsFor({QStringLiteral("13700000001"),
                                                      QStringLiteral("13700000002"),
                                                      QStringLiteral("13700000003")},
                                                     QStringLiteral("您好")),
                                       QDateTime::currentDateTime(), &batch, nullptr),
             LogWrite::Written);
    QList<SendRecord> records;
    QVERIFY(m_file->log().records(batch, &records, nullptr));
    QCOMPARE(m_file->log().markSending(records.first().id, QDateTime::currentDateTime(), nullptr),
             LogWrite::Written);

    QWidget window;
    SendingController controller(*m_hub, *m_commands, window);
    MessageBox::setNextAnswer(QMessageBox::No);
    controller.offerUnfinished();
    QTRY_COMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastText(), QStringLiteral("上次的发送还有 2 人没有发出，是否继续？"));
    QCOMPARE(m_file->states(batch),
             (QStringList{QStringLiteral("未确认"), QStringLiteral("待发送"), QStringLiteral("待发送")}));
    // 否 keeps it in the log, and the next start does not ask again.
    controller.offerUnfinished();
    QTest::qWait(200);
    QCOMPARE(MessageBox::shownCount(), 1);
    BatchSummary summary;
    QVERIFY(m_file->log().batch(batch, &summary, nullptr));
    QCOMPARE(summary.status, SendLog::interrupted());
}

QTEST_MAIN(TestSendDialog)
#include "test_senddialog.moc"
