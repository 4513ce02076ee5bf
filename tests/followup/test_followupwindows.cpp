#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "followup/ui/callcard.h"
#include "followup/ui/duelistdialog.h"
#include "followup/ui/duelistmodel.h"
#include "followup/ui/followupdesk.h"
#include "followup/ui/historydialog.h"
#include "followup/ui/historymodel.h"
#include "followup/ui/kdeconnectdialer.h"
#include "followup/ui/phonechoicedialog.h"
#include "followup/ui/recordeditor.h"
#include "gui/mainwindowfixture.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/contacttableview.h"
#include "model/contactlistmodel.h"
#include "phonelink/kdeconnectphones.h"
#include "support/phonerig.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {

const QDateTime Now(QDate(2026, 12, 7), QTime(14, 30, 0));

// A double click as a user makes it: the press before it selects the row.
void doubleClick(QTableView *table, const QPoint &position)
{
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, position);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, position);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, position);
}

QString timeOf(const FollowUpRecord &record)
{
    return record.time;
}

} // namespace

class TestFollowUpWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rowMenuOpensTheHistoryOfTheRowUnderTheMouse();
    void pastNextDateAsksOnceAndTheCountFollows();
    void dueListBecomesTheWorkingListAndLocatesContacts();
    void callWithoutPhoneShowsTheNumberAndItsCode();
    void callThroughTheKdeConnectPhone();
    void withTwoPhonesTheChosenOneDials();
    void exportFromTheMenuAddsTheSuffix();
    void datesFarFromNowAreAskedAbout_data();
    void datesFarFromNowAreAskedAbout();
    void storedTextsTheBoxesCannotShowAreKept_data();
    void storedTextsTheBoxesCannotShowAreKept();

private:
    void addContact(const QString &group, const QString &mobile, const QString &name);
    void addRecord(const QString &mobile, const QString &time, const QString &next);
    FollowUpDesk &desk() { return m_fixture->window().followUp(); }
    QAction *action(const QString &name) { return m_fixture->child<QAction>(name); }

    std::unique_ptr<MainWindowFixture> m_fixture;
};

void TestFollowUpWindows::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
    m_fixture = std::make_unique<MainWindowFixture>();
    QVERIFY(m_fixture->start());
    desk().setClock([] { return Now; });
}

void TestFollowUpWindows::cleanup()
{
    m_fixture.reset();
    MessageBox::setUnattended(false);
}

void TestFollowUpWindows::addContact(const QString &group, const QString &mobile,
                                     const QString &name)
{
    ContactStore &store = m_fixture->store();
    if (!store.groupExists(group))
        QCOMPARE(store.addGroup(group), StoreResult::Ok);
    Contact contact(mobile, name, u"女士", u"");
    QCOMPARE(store.addContact(group, &contact), StoreResult::Ok);
}

void TestFollowUpWindows::addRecord(const QString &mobile, const QString &time, const QString &next)
{
    FollowUpRecord record{0, mobile, time, QStringLiteral("电话"), QStringLiteral("未接通"), {}, next};
    QString error;
    QVERIFY2(desk().store().add(&record, &error) == StoreResult::Ok, qPrintable(error));
}

void TestFollowUpWindows::rowMenuOpensTheHistoryOfTheRowUnderTheMouse()
{
    addContact(QStringLiteral("甲组"), QStringLiteral("13800000001"), QStringLiteral("张三"));
    addContact(QStringLiteral("甲组"), QStringLiteral("13800000002"), QStringLiteral("李四"));
    addContact(QStringLiteral("乙组"), QStringLiteral("13800000002"), QStringLiteral("李四"));
    addRecord(QStringLiteral("13800000002"), QStringLiteral("2026-12-01 09:00:00"), {});
    m_fixture->window().reloadGroups();
    m_fixture->clickGroup(QStringLiteral("甲组"));

    ContactGrid &grid = m_fixture->window().grid();
    auto *menu = m_fixture->child<QMenu>(QStringLiteral("rowMenu"));
    // The menu key keeps the selection; a right click selects the row under it.
    grid.selectShownRow(0);
    const QPoint keyAt = grid.table()->rect().center();
    QContextMenuEvent key(QContextMenuEvent::Keyboard, keyAt, grid.table()->mapToGlobal(keyAt));
    QApplication::sendEvent(grid.table(), &key);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(grid.selectedIndex(), 0);
    menu->hide();
    const QPoint clickAt = grid.cellRect(1, 1).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, clickAt, grid.rowArea()->mapToGlobal(clickAt));
    QApplication::sendEvent(grid.rowArea(), &click);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(grid.selectedIndex(), 1);
    menu->findChild<QAction *>(QStringLiteral("rowHistory"))->trigger();
    menu->hide();

    HistoryDialog *history = desk().historyWindow();
    QVERIFY(history && history->isVisible());
    QCOMPARE(history->mobile(), QStringLiteral("13800000002"));
    QVERIFY2(history->personText().contains(QStringLiteral("甲组、乙组")), qPrintable(history->personText()));
    QCOMPARE(history->model().rowCount(), 1);

    // A number no group holds any more keeps its history, and says so.
    QCOMPARE(m_fixture->store().deleteGroup(QStringLiteral("乙组")), StoreResult::Ok);
    QCOMPARE(m_fixture->store().deleteContact(m_fixture->window().contactList().at(1).rowId),
             StoreResult::Ok);
    desk().openHistory(QStringLiteral("13800000002"));
    QVERIFY2(history->personText().contains(QStringLiteral("已不在任何分组")),
             qPrintable(history->personText()));
    QCOMPARE(history->model().rowCount(), 1);
}

void TestFollowUpWindows::pastNextDateAsksOnceAndTheCountFollows()
{
    QAction *due = action(QStringLiteral("待回访名单"));
    QCOMPARE(due->text(), QStringLiteral("待回访名单…"));
    desk().openHistory(QStringLiteral("13800000001"));
    HistoryDialog *history = desk().historyWindow();
    history->findChild<QPushButton *>(QStringLiteral("add"))->click();
    RecordEditor &editor = history->editor();
    QVERIFY(editor.isVisible());
    QCOMPARE(timeOf(editor.typedRecord()), QStringLiteral("2026-12-07 14:30:00"));
    editor.findChild<QComboBox *>(QStringLiteral("result"))->setCurrentText(QStringLiteral("关机"));
    editor.setNextDate(QDate(2026, 12, 5));

    MessageBox::setNextAnswer(QMessageBox::No);
    QVERIFY(!editor.save());
    QCOMPARE(MessageBox::shownCount(), 1);
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("2026-12-05")));
    QVERIFY(editor.isVisible());
    QCOMPARE(history->model().rowCount(), 0);
    QCOMPARE(editor.typedRecord().result, QStringLiteral("关机"));

    MessageBox::setNextAnswer(QMessageBox::Yes);
    QVERIFY(editor.save());
    QCOMPARE(MessageBox::shownCount(), 2);
    QVERIFY(!editor.isVisible());
    QCOMPARE(history->model().rowCount(), 1);
    QCOMPARE(due->text(), QStringLiteral("待回访名单（1）…"));

    // A newer call, a minute later, with the next date tomorrow: nobody is due.
    desk().setClock([] { return Now.addSecs(60); });
    history->addRecord(QStringLiteral("电话"), Now.addSecs(60));
    editor.setNextChoice(FollowUpRules::NextChoice::Tomorrow);
    QCOMPARE(editor.typedRecord().nextDate, QStringLiteral("2026-12-08"));
    QVERIFY(editor.save());
    QCOMPARE(MessageBox::shownCount(), 2);
    QCOMPARE(due->text(), QStringLiteral("待回访名单…"));

    // Deleting it makes the earlier one decide again.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    history->deleteRecord(0);
    QCOMPARE(history->model().rowCount(), 1);
    QCOMPARE(due->text(), QStringLiteral("待回访名单（1）…"));
}

void TestFollowUpWindows::dueListBecomesTheWorkingListAndLocatesContacts()
{
    addContact(QStringLiteral("甲组"), QStringLiteral("13800000009"), QStringLiteral("其他人"));
    addContact(QStringLiteral("甲组"), QStringLiteral("13800000001"), QStringLiteral("张三"));
    addContact(QStringLiteral("乙组"), QStringLiteral("13800000002"), QStringLiteral("李四"));
    addRecord(QStringLiteral("13800000001"), QStringLiteral("2026-12-03 09:00:00"), QStringLiteral("2026-12-06"));
    addRecord(QStringLiteral("13800000002"), QStringLiteral("2026-12-01 09:00:00"), QStringLiteral("2026-12-02"));
    addRecord(QStringLiteral("13700000000"), QStringLiteral("2026-12-02 09:00:00"), QStringLiteral("2026-12-04"));
    addRecord(QStringLiteral("13800000009"), QStringLiteral("2026-12-02 09:00:00"), QStringLiteral("2026-12-08"));
    m_fixture->window().reloadGroups();

    action(QStringLiteral("待回访名单"))->trigger();
    DueListDialog *dueList = desk().dueListWindow();
    QVERIFY(dueList && QTest::qWaitForWindowExposed(dueList));
    QCOMPARE(dueList->model().rowCount(), 3);

    dueList->findChild<QPushButton *>(QStringLiteral("showInMainWindow"))->click();
    const ContactList &working = m_fixture->window().contactList().contacts();
    QStringList mobiles;
    for (const Contact &contact : working) {
        QVERIFY(contact.ticked);
        QVERIFY(!contact.isStored());
        mobiles << contact.mobile().toString();
    }
    QCOMPARE(mobiles, (QStringList{"13800000002", "13700000000", "13800000001"}));
    QVERIFY(m_fixture->window().currentGroup().isEmpty());
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：3"));

    // Double-clicking the last one shows its group with it selected.
    QTableView *table = dueList->table();
    const QRect lastRow = table->visualRect(dueList->model().index(2, DueListModel::NameColumn));
    doubleClick(table, lastRow.center());
    QCOMPARE(m_fixture->window().currentGroup(), QStringLiteral("甲组"));
    const qsizetype selected = m_fixture->window().grid().selectedIndex();
    QVERIFY(selected >= 0);
    QCOMPARE(m_fixture->window().contactList().at(selected).mobile(), u"13800000001");

    // One no group holds: the user is told, the main window stays.
    const int shown = MessageBox::shownCount();
    const QRect secondRow = table->visualRect(dueList->model().index(1, DueListModel::NameColumn));
    doubleClick(table, secondRow.center());
    QCOMPARE(MessageBox::shownCount(), shown + 1);
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("13700000000")));
    QCOMPARE(m_fixture->window().currentGroup(), QStringLiteral("甲组"));
}

void TestFollowUpWindows::callWithoutPhoneShowsTheNumberAndItsCode()
{
    desk().call(QStringLiteral(" 138 0000 0001 "));
    CallCard *card = desk().callCard();
    QVERIFY(card && card->isVisible());
    QCOMPARE(card->shownUrl(), QStringLiteral("tel:13800000001"));
    QVERIFY(!card->qrImage().isNull());
    RecordEditor &editor = desk().historyWindow()->editor();
    QVERIFY(editor.isVisible());
    const FollowUpRecord record = editor.typedRecord();
    QCOMPARE(record.method, QStringLiteral("电话"));
    QCOMPARE(record.time, QStringLiteral("2026-12-07 14:30:00"));
    QCOMPARE(record.mobile, QStringLiteral("138 0000 0001"));

    // A record being typed is not given up without asking; kept, nothing is dialled.
    card->hide();
    editor.findChild<QComboBox *>(QStringLiteral("result"))->setCurrentText(QStringLiteral("正在记"));
    const int asked = MessageBox::shownCount();
    MessageBox::setNextAnswer(QMessageBox::No);
    desk().call(QStringLiteral("13800000002"));
    QCOMPARE(MessageBox::shownCount(), asked + 1);
    QVERIFY(!card->isVisible());
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.typedRecord().result, QStringLiteral("正在记"));
    QCOMPARE(desk().historyWindow()->mobile(), QStringLiteral("138 0000 0001"));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    desk().call(QStringLiteral("13800000002"));
    QCOMPARE(MessageBox::shownCount(), asked + 2);
    QVERIFY(card->isVisible());
    QCOMPARE(editor.typedRecord().mobile, QStringLiteral("13800000002"));
    QVERIFY(editor.typedRecord().result.isEmpty());

    // Nothing to dial: a message, no card, no record.
    card->hide();
    editor.hide();
    desk().call(QStringLiteral("张三"));
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("张三")));
    QVERIFY(!card->isVisible());
    QVERIFY(!editor.isVisible());
}

namespace {

// The tel: addresses a device of the rig was asked to open.
QStringList telSharedTo(const PhoneRig &rig, const QString &device)
{
    QStringList urls;
    for (const QJsonObject &packet :
         rig.received(device, QStringLiteral("kdeconnect.share.request")))
        urls.append(packet.value(QStringLiteral("body"))
                        .toObject()
                        .value(QStringLiteral("url"))
                        .toString());
    return urls;
}

// Answers the phone choice when it comes up (now, or in the call about to be
// made): picks the row, keeps the choice or not, or cancels. asked tells
// whether it came up.
void answerPhoneChoice(int row, bool remember, bool dial, bool *asked)
{
    *asked = false;
    QTimer::singleShot(0, [=] {
        auto *dialog = qobject_cast<PhoneChoiceDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *asked = true;
        dialog->findChild<QListWidget *>(QStringLiteral("phones"))->setCurrentRow(row);
        dialog->findChild<QCheckBox *>(QStringLiteral("remember"))->setChecked(remember);
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        buttons->button(dial ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
}

} // namespace

void TestFollowUpWindows::callThroughTheKdeConnectPhone()
{
    PhoneRig rig;
    QString error;
    START_PHONE_RIG(rig);
    // A computer paired too, listed first by the daemon: it never dials.
    QString pc;
    QString phone;
    QVERIFY2(rig.addDevice(PhoneRig::Kind::Desktop, QStringLiteral("Office PC"), &pc, &error),
             qPrintable(error));
    QVERIFY2(rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("我的手机"), &phone, &error),
             qPrintable(error));
    KdeConnectPhones phones(rig.connection());
    QTRY_COMPARE(phones.phones().size(), 2);
    KdeConnectDialer dialer(phones);
    QWidget owner;
    FollowUpDesk phoneDesk(m_fixture->store(), &dialer, &owner, [] { return Now; });

    bool asked = false;
    answerPhoneChoice(0, true, true, &asked);
    phoneDesk.call(QStringLiteral("13800000001"));
    QTRY_COMPARE(telSharedTo(rig, phone), QStringList{QStringLiteral("tel:13800000001")});
    QVERIFY(!asked);
    QVERIFY(telSharedTo(rig, pc).isEmpty());
    QTRY_VERIFY(
        phoneDesk.historyWindow()->statusText().contains(QStringLiteral("我的手机”正在拨打")));
    QVERIFY(!phoneDesk.callCard());
    QCOMPARE(phoneDesk.historyWindow()->editor().typedRecord().method, QStringLiteral("电话"));
    QCOMPARE(phoneDesk.historyWindow()->editor().typedRecord().time, QStringLiteral("2026-12-07 14:30:00"));

    // The phone goes out of reach: the number and its code instead.
    QVERIFY2(rig.leave(phone, &error), qPrintable(error));
    QTRY_VERIFY(phones.dialPhones().isEmpty());
    MessageBox::setNextAnswer(QMessageBox::Yes); // the first call's record is given up
    phoneDesk.call(QStringLiteral("13800000002"));
    QVERIFY(phoneDesk.callCard() && phoneDesk.callCard()->isVisible());
    QCOMPARE(phoneDesk.callCard()->shownUrl(), QStringLiteral("tel:13800000002"));
    QCOMPARE(telSharedTo(rig, phone).size(), 1);
    QVERIFY(telSharedTo(rig, pc).isEmpty());
}

void TestFollowUpWindows::withTwoPhonesTheChosenOneDials()
{
    PhoneRig rig;
    QString error;
    START_PHONE_RIG(rig);
    QString first;
    QString second;
    QVERIFY2(rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("工作手机"), &first, &error),
             qPrintable(error));
    QVERIFY2(rig.addDevice(PhoneRig::Kind::Phone, QStringLiteral("家里的手机"), &second, &error),
             qPrintable(error));
    KdeConnectPhones phones(rig.connection());
    QTRY_COMPARE(phones.dialPhones().size(), 2);
    KdeConnectDialer dialer(phones);
    QWidget owner;
    FollowUpDesk phoneDesk(m_fixture->store(), &dialer, &owner, [] { return Now; });
    const auto callGivingUpTheLastRecord = [&](const QString &mobile) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        phoneDesk.call(mobile);
    };

    // Asked once; the second phone is kept.
    bool asked = false;
    answerPhoneChoice(1, true, true, &asked);
    phoneDesk.call(QStringLiteral("13800000001"));
    QVERIFY(asked);
    QTRY_COMPARE(telSharedTo(rig, second), QStringList{QStringLiteral("tel:13800000001")});
    answerPhoneChoice(0, true, true, &asked);
    callGivingUpTheLastRecord(QStringLiteral("13800000002"));
    QCoreApplication::processEvents();
    QVERIFY(!asked);
    QTRY_COMPARE(telSharedTo(rig, second).size(), 2);
    QVERIFY(telSharedTo(rig, first).isEmpty());

    // "换一部手机": asked again; a choice not kept is asked for every call.
    auto *phoneSwitch =
        phoneDesk.historyWindow()->findChild<QLabel *>(QStringLiteral("phoneSwitch"));
    QVERIFY(phoneSwitch->isVisibleTo(phoneDesk.historyWindow()));
    emit phoneSwitch->linkActivated(QStringLiteral("switch"));
    answerPhoneChoice(0, false, true, &asked);
    callGivingUpTheLastRecord(QStringLiteral("13800000003"));
    QVERIFY(asked);
    QTRY_COMPARE(telSharedTo(rig, first), QStringList{QStringLiteral("tel:13800000003")});
    answerPhoneChoice(0, false, false, &asked);
    phoneDesk.call(QStringLiteral("13800000004"));
    QVERIFY(asked);
    // Cancelled: nothing dialled, the record of the last call still in the editor.
    QCOMPARE(telSharedTo(rig, first).size(), 1);
    QCOMPARE(telSharedTo(rig, second).size(), 2);
    QVERIFY(phoneDesk.historyWindow()->editor().isVisible());
    QCOMPARE(phoneDesk.historyWindow()->editor().typedRecord().mobile,
             QStringLiteral("13800000003"));
}

void TestFollowUpWindows::exportFromTheMenuAddsTheSuffix()
{
    addRecord(QStringLiteral("13800000001"), QStringLiteral("2026-12-01 09:00:00"), {});
    const QString path = m_fixture->folder() + QStringLiteral("/导出");
    FileDialog::setNextFileName(path, QStringLiteral("CSV 文件 (*.csv)"));
    action(QStringLiteral("导出回访记录"))->trigger();
    QTRY_COMPARE(MessageBox::lastText(), QStringLiteral("回访记录导出成功！"));
    QVERIFY(!desk().isExporting());
    QVERIFY(TestSupport::readAll(path + QStringLiteral(".csv")).contains("13800000001"));
}

void TestFollowUpWindows::datesFarFromNowAreAskedAbout_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("question"); // a part of it; "" for none
    const QString now = QStringLiteral("2026-12-07 14:30:00");
    QTest::newRow("now, tomorrow") << now << QStringLiteral("2026-12-08") << QString();
    QTest::newRow("now, no next date") << now << QString() << QString();
    QTest::newRow("time years ahead") << QStringLiteral("2099-12-07 14:30:00") << QString()
                                      << QStringLiteral("2099-12-07 14:30:00");
    QTest::newRow("time a minute ahead")
        << QStringLiteral("2026-12-07 14:31:00") << QString() << QStringLiteral("还没有到");
    QTest::newRow("next a year ahead") << now << QStringLiteral("2027-12-07") << QString();
    QTest::newRow("next a year and a day ahead")
        << now << QStringLiteral("2027-12-08") << QStringLiteral("一年以后");
    QTest::newRow("next years ahead")
        << now << QStringLiteral("2099-12-08") << QStringLiteral("2099-12-08");
    QTest::newRow("next in the past")
        << now << QStringLiteral("2026-12-06") << QStringLiteral("已经过去");
}

// A record dated ahead becomes the person's newest one, and decides whether
// the person is due: the user is asked before it is saved.
void TestFollowUpWindows::datesFarFromNowAreAskedAbout()
{
    QFETCH(QString, time);
    QFETCH(QString, next);
    QFETCH(QString, question);
    const QString mobile = QStringLiteral("13800000001");
    addRecord(mobile, QStringLiteral("2026-12-01 09:00:00"), QStringLiteral("2026-12-05"));
    QCOMPARE(desk().dueCount(), 1);
    qsizetype stored = 0;
    QCOMPARE(desk().store().recordCount(&stored), StoreResult::Ok);

    RecordEditor editor(
        desk().store(), [] { return Now; }, nullptr);
    editor.openForAdd(mobile, QStringLiteral("电话"), FollowUpRules::parseTime(time));
    editor.setNextDate(FollowUpRules::parseDate(next));
    QCOMPARE(editor.typedRecord().time, time);
    if (!question.isEmpty()) {
        MessageBox::setNextAnswer(QMessageBox::No);
        QVERIFY(!editor.save());
        QCOMPARE(MessageBox::shownCount(), 1);
        QVERIFY2(MessageBox::lastText().contains(question), qPrintable(MessageBox::lastText()));
        QVERIFY(editor.isVisible());
        qsizetype after = 0;
        QCOMPARE(desk().store().recordCount(&after), StoreResult::Ok);
        QCOMPARE(after, stored);
        QCOMPARE(desk().dueCount(), 1);
        MessageBox::setNextAnswer(QMessageBox::Yes);
    }
    QVERIFY(editor.save());
    QCOMPARE(MessageBox::shownCount(), question.isEmpty() ? 0 : 2);
    qsizetype after = 0;
    QCOMPARE(desk().store().recordCount(&after), StoreResult::Ok);
    QCOMPARE(after, stored + 1);
}

void TestFollowUpWindows::storedTextsTheBoxesCannotShowAreKept_data()
{
    QTest::addColumn<QString>("time"); // as stored: the table's pattern, no real time
    QTest::addColumn<QString>("next");
    QTest::addColumn<int>("change"); // 0 结果 only, 1 the time too, 2 下次回访 too, 3 不安排
    QTest::addColumn<QString>("savedTime");
    QTest::addColumn<QString>("savedNext");
    const QString badTime = QStringLiteral("2026-02-30 09:00:00");
    const QString badDate = QStringLiteral("2026-13-01");
    const QString goodTime = QStringLiteral("2026-12-01 09:00:00");
    QTest::newRow("time kept") << badTime << QString() << 0 << badTime << QString();
    QTest::newRow("date kept") << goodTime << badDate << 0 << goodTime << badDate;
    QTest::newRow("both kept") << badTime << badDate << 0 << badTime << badDate;
    QTest::newRow("time changed") << badTime << badDate << 1
                                  << QStringLiteral("2026-12-06 10:00:00") << badDate;
    QTest::newRow("date changed") << badTime << badDate << 2 << badTime
                                  << QStringLiteral("2026-12-08");
    QTest::newRow("date given up") << goodTime << badDate << 3 << goodTime << QString();
}

// A time or date that another program (or a hand) wrote in a shape the
// boxes cannot show survives an edit of the other fields.
void TestFollowUpWindows::storedTextsTheBoxesCannotShowAreKept()
{
    QFETCH(QString, time);
    QFETCH(QString, next);
    QFETCH(int, change);
    QFETCH(QString, savedTime);
    QFETCH(QString, savedNext);
    addRecord(QStringLiteral("13800000001"), QStringLiteral("2026-12-01 09:00:00"), QString());
    const QByteArray sql = "UPDATE [回访记录] SET [时间] = '" + time.toUtf8()
        + "', [下次回访] = " + (next.isEmpty() ? QByteArray("NULL") : "'" + next.toUtf8() + "'");
    QString error;
    QVERIFY2(m_fixture->session().database().execute(sql.constData(), &error), qPrintable(error));
    QVector<HistoryEntry> entries;
    QCOMPARE(desk().store().history(QStringLiteral("13800000001"), &entries), StoreResult::Ok);
    QCOMPARE(entries.size(), 1);
    FollowUpRecord record;
    QCOMPARE(desk().store().record(entries.first().id, &record), StoreResult::Ok);
    QCOMPARE(record.time, time);

    RecordEditor editor(
        desk().store(), [] { return Now; }, nullptr);
    editor.openForEdit(record);
    editor.findChild<QComboBox *>(QStringLiteral("result"))
        ->setCurrentText(QStringLiteral("已接通"));
    if (change == 1)
        editor.findChild<QDateTimeEdit *>(QStringLiteral("time"))
            ->setDateTime(QDateTime(QDate(2026, 12, 6), QTime(10, 0)));
    if (change == 2)
        editor.setNextChoice(FollowUpRules::NextChoice::Tomorrow);
    if (change == 3)
        editor.setNextChoice(FollowUpRules::NextChoice::None);
    QVERIFY2(editor.save(), qPrintable(MessageBox::lastText()));

    FollowUpRecord saved;
    QCOMPARE(desk().store().record(record.id, &saved), StoreResult::Ok);
    QCOMPARE(saved.result, QStringLiteral("已接通"));
    QCOMPARE(saved.time, savedTime);
    QCOMPARE(saved.nextDate, savedNext);
    // The editor said which stored text it could not show.
    auto *note = editor.findChild<QLabel *>(QStringLiteral("keptNote"));
    QVERIFY(note && !note->isHidden());
    QVERIFY(note->text().contains(time != QStringLiteral("2026-12-01 09:00:00") ? time : next));
}

QTEST_MAIN(TestFollowUpWindows)
#include "test_followupwindows.moc"
