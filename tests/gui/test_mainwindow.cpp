#include "core/textrules.h"
#include "desktop/messagebox.h"
#include "gui/mainwindowfixture.h"
#include "mainwindow/contactgrid.h"
#include "model/contactlistmodel.h"
#include "model/recipientlines.h"
#include "storage/contactstore.h"
#include "support/testsupport.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startsWithStoredGroupsAndEmptyGrid();
    void everyControlIsNamedAndPlaced_data();
    void everyControlIsNamedAndPlaced();
    void tabOrderFollowsLayout();
    void groupClickListsItsContactsTicked();
    void searchNarrowsListAndRecipients_data();
    void searchNarrowsListAndRecipients();
    void searchBeforeAnyGroupListsNothing();
    void apostrophesInGroupAndFilterJustWork();
    void remarksCheckBoxRebuildsRecipients();
    void choosingAnotherGroupResetsFiltersAndRemarks();
    void tickingRebuildsRecipientsAtOnce();
    void labelsAreNamedByWhatTheyShowNow();
    void rebuildReplacesHandEditedRecipients();
    void ticksChangeRecipientsAsFullRebuildWould();
    void smsTextSurvivesCloseAndQuitMenu();

private:
    std::unique_ptr<MainWindowFixture> m_fixture;
};

void TestMainWindow::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
    m_fixture = std::make_unique<MainWindowFixture>();
    QVERIFY(m_fixture->start());
}

void TestMainWindow::startsWithStoredGroupsAndEmptyGrid()
{
    auto *groups = m_fixture->child<QListWidget>(QStringLiteral("List1"));
    QCOMPARE(groups->count(), 2);
    QCOMPARE(groups->item(0)->text(), QStringLiteral("客户"));
    QCOMPARE(groups->item(1)->text(), QStringLiteral("同事"));
    QVERIFY(groups->selectedItems().isEmpty());
    QCOMPARE(groups->visualItemRect(groups->item(0)).height(), 16);
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：0"));
    QVERIFY(m_fixture->child<QPlainTextEdit>(QStringLiteral("Text1"))->toPlainText().isEmpty());
    QVERIFY(!m_fixture->child<QScrollBar>(QStringLiteral("VS1"))->isEnabled());
    QCOMPARE(m_fixture->window().grid().contactAtRow(0), -1);
    QVERIFY(!m_fixture->child<QCheckBox>(QStringLiteral("Check1"))->isChecked());
    QCOMPARE(m_fixture->window().windowTitle(), QStringLiteral("蓝舟批量短信电话回访软件 V2.0"));
    QCOMPARE(m_fixture->window().centralWidget()->size(), QSize(928, 563));
}

void TestMainWindow::everyControlIsNamedAndPlaced_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<QRect>("geometry"); // pixels, from the twips of the layout
    QTest::newRow("List1") << "List1" << "分组" << QRect(4, 100, 177, 412);
    QTest::newRow("Text3") << "Text3" << "姓名" << QRect(56, 14, 113, 20);
    QTest::newRow("Text4") << "Text4" << "手机号" << QRect(56, 40, 113, 20);
    QTest::newRow("Command15") << "Command15" << "查询" << QRect(116, 66, 53, 20);
    QTest::newRow("Pt1") << "Pt1" << "通讯录" << QRect(184, 4, 449, 500);
    QTest::newRow("Text1") << "Text1" << "短信内容" << QRect(636, 28, 285, 73);
    QTest::newRow("Text2") << "Text2" << "名单" << QRect(636, 136, 285, 369);
    QTest::newRow("Check1") << "Check1" << "显示备注信息" << QRect(828, 112, 93, 13);
    QTest::newRow("Command8") << "Command8" << "添加分组" << QRect(8, 520, 85, 25);
    QTest::newRow("Command13") << "Command13" << "生成手机通讯录" << QRect(748, 520, 101, 25);
    QTest::newRow("Command14") << "Command14" << "操作说明" << QRect(852, 520, 69, 25);
}

void TestMainWindow::everyControlIsNamedAndPlaced()
{
    QFETCH(QString, name);
    QFETCH(QString, accessibleName);
    QFETCH(QRect, geometry);
    QWidget *widget = m_fixture->child<QWidget>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), accessibleName);
    const QWidget *client = m_fixture->window().centralWidget();
    QCOMPARE(QRect(widget->mapTo(client, QPoint(0, 0)), widget->size()), geometry);
    QVERIFY(widget->isVisible());
}

void TestMainWindow::tabOrderFollowsLayout()
{
    const QStringList expected = {"List1",     "contactTable", "Text1",     "Text2",     "Command1",
                                  "Command3",  "Command4",  "Check1",    "Command5",  "Command7",
                                  "Command8",  "Command9",  "Command10", "Command11", "Command12",
                                  "Command13", "Command14", "Text3",     "Text4",     "Command15"};
    QWidget *widget = m_fixture->child<QWidget>(expected.first());
    for (qsizetype i = 1; i < expected.size(); ++i) {
        widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || !widget->isVisible()
               || widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))
            widget = widget->nextInFocusChain();
        QCOMPARE(widget->objectName(), expected[i]);
    }
}

void TestMainWindow::groupClickListsItsContactsTicked()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    const ContactListModel &list = m_fixture->window().contactList();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).mobile(), QStringLiteral("13958700001"));
    QCOMPARE(list.at(0).name(), QStringLiteral("张三"));
    QCOMPARE(list.at(0).salutation(), QStringLiteral("先生"));
    QCOMPARE(list.at(0).remark(), QStringLiteral("房间001号"));
    QCOMPARE(list.at(1).name(), QStringLiteral("李四"));
    QVERIFY(list.at(0).ticked && list.at(1).ticked);
    QVERIFY(list.at(0).isStored());
    QCOMPARE(m_fixture->window().currentGroup(), QStringLiteral("客户"));
    QCOMPARE(m_fixture->recipientLines(),
             QStringList({"13958700001@张三先生", "13958700002@李四女士"}));
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：2"));
}

void TestMainWindow::searchNarrowsListAndRecipients_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("name 李") << "客户" << "李" << "" << QStringList{"李四"};
    QTest::newRow("mobile 0003 in 同事") << "同事" << "" << "0003" << QStringList{"王五"};
    QTest::newRow("mobile 0003 in 客户") << "客户" << "" << "0003" << QStringList{};
    QTest::newRow("blanks around filter") << "客户" << "  李 " << "" << QStringList{"李四"};
    QTest::newRow("blank inside filter") << "客户" << "李 四" << "" << QStringList{};
    QTest::newRow("underscore is any character") << "客户" << "_" << "" << QStringList{"张三", "李四"};
    QTest::newRow("percent matches all") << "客户" << "%" << "" << QStringList{"张三", "李四"};
}

void TestMainWindow::searchNarrowsListAndRecipients()
{
    QFETCH(QString, group);
    QFETCH(QString, name);
    QFETCH(QString, mobile);
    QFETCH(QStringList, names);
    m_fixture->clickGroup(group);
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), name);
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text4")), mobile);
    m_fixture->clickButton(QStringLiteral("Command15"));

    QStringList listed;
    for (const Contact &contact : m_fixture->window().contactList().contacts())
        listed << contact.name().toString();
    QCOMPARE(listed, names);
    // The recipient list and the count follow the search.
    QCOMPARE(m_fixture->recipientLines().size(), names.size());
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：%1").arg(names.size()));
    QCOMPARE(m_fixture->window().grid().contactAtRow(0), names.isEmpty() ? -1 : 0);
}

void TestMainWindow::searchBeforeAnyGroupListsNothing()
{
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("张"));
    m_fixture->clickButton(QStringLiteral("Command15"));
    QVERIFY(m_fixture->window().contactList().isEmpty());
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：0"));
}

void TestMainWindow::apostrophesInGroupAndFilterJustWork()
{
    ContactStore &store = m_fixture->store();
    QCOMPARE(store.addGroup(QStringLiteral("O'Brien's")), StoreResult::Ok);
    Contact contact;
    contact.setMobile(QStringLiteral("13958700100"));
    contact.setName(QStringLiteral("D'Arcy"));
    QCOMPARE(store.addContact(QStringLiteral("O'Brien's"), contact), StoreResult::Ok);
    m_fixture->window().reloadGroups();

    m_fixture->clickGroup(QStringLiteral("O'Brien's"));
    QCOMPARE(m_fixture->window().contactList().size(), 1);
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("D'A"));
    m_fixture->clickButton(QStringLiteral("Command15"));
    QCOMPARE(m_fixture->window().contactList().size(), 1);
    QCOMPARE(MessageBox::shownCount(), 0);
}

void TestMainWindow::remarksCheckBoxRebuildsRecipients()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    auto *remarks = m_fixture->child<QCheckBox>(QStringLiteral("Check1"));
    QTest::mouseClick(remarks, Qt::LeftButton, {}, QPoint(5, remarks->height() / 2));
    QVERIFY(remarks->isChecked());
    QCOMPARE(m_fixture->recipientLines(),
             QStringList({"13958700001@张三先生@房间001号", "13958700002@李四女士@房间002号"}));
    QTest::mouseClick(remarks, Qt::LeftButton, {}, QPoint(5, remarks->height() / 2));
    QCOMPARE(m_fixture->recipientLines().first(), QStringLiteral("13958700001@张三先生"));
}

void TestMainWindow::choosingAnotherGroupResetsFiltersAndRemarks()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    auto *remarks = m_fixture->child<QCheckBox>(QStringLiteral("Check1"));
    remarks->setChecked(true);
    auto *name = m_fixture->child<QLineEdit>(QStringLiteral("Text3"));
    TestSupport::typeText(name, QStringLiteral("李"));
    m_fixture->clickButton(QStringLiteral("Command15"));
    m_fixture->clickGroup(QStringLiteral("同事"));
    QVERIFY(name->text().isEmpty());
    QVERIFY(!remarks->isChecked());
    QCOMPARE(m_fixture->window().contactList().size(), 1);
    QCOMPARE(m_fixture->recipientLines(), QStringList({"13958700003@王五"}));
}

void TestMainWindow::tickingRebuildsRecipientsAtOnce()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    ContactGrid &grid = m_fixture->window().grid();
    QTest::mouseClick(grid.rowArea(), Qt::LeftButton, {}, grid.tickCellRect(0).center());
    QCOMPARE(m_fixture->recipientLines(), QStringList({"13958700002@李四女士"}));
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：1"));
    QTest::mouseClick(grid.rowArea(), Qt::LeftButton, {}, grid.tickCellRect(0).center());
    QCOMPARE(m_fixture->recipientLines().size(), 2);
}

void TestMainWindow::labelsAreNamedByWhatTheyShowNow()
{
    const auto spokenName = [this](const char *name) {
        QWidget *label = m_fixture->child<QLabel>(QLatin1String(name));
        return QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
    };
    QCOMPARE(spokenName("Label3"), QStringLiteral("名单人数：0"));
    m_fixture->clickGroup(QStringLiteral("客户"));
    QCOMPARE(spokenName("Label3"), QStringLiteral("名单人数：2"));
    m_fixture->clickButton(QStringLiteral("Command7"));
    QCOMPARE(spokenName("Label3"), QStringLiteral("名单人数：0"));

    // The SMS length beside the caption follows the typing.
    QCOMPARE(spokenName("Label24"), QStringLiteral("请输入短信内容"));
    TestSupport::typeText(m_fixture->child<QPlainTextEdit>(QStringLiteral("Text1")),
                          QStringLiteral("明天开会"));
    QCOMPARE(spokenName("smsLength"), QStringLiteral("4 字，1 条"));
}

void TestMainWindow::rebuildReplacesHandEditedRecipients()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    auto *recipients = m_fixture->child<QPlainTextEdit>(QStringLiteral("Text2"));
    recipients->moveCursor(QTextCursor::Start);
    TestSupport::typeText(recipients, QStringLiteral("13900000000@手写"));
    QTest::keyClick(recipients, Qt::Key_Return);
    QCOMPARE(m_fixture->recipientLines().size(), 3);
    m_fixture->window().rebuildRecipientList();
    QCOMPARE(m_fixture->recipientLines(),
             QStringList({"13958700001@张三先生", "13958700002@李四女士"}));
}

// Single ticks change one line of the recipient list; after any mix of them
// with the commands that rebuild it and with edits by hand, the box holds
// exactly what a full rebuild gives (its paragraphs included).
void TestMainWindow::ticksChangeRecipientsAsFullRebuildWould()
{
    QRandomGenerator random(20261207);
    const QStringList mobiles = {"13958700001", " 13958700001 ", "1395870000", "00000000000",
                                 "13958700002", "a3958700003", "139 5870 004"};
    const QStringList texts = {"", " ", "张三", " 李四 ", "王", "房间001号", "@"};
    ContactList contacts;
    for (int i = 0; i < 700; ++i) {
        const bool plain = random.bounded(3) > 0;
        contacts << TestSupport::makeContact(
            plain ? QString::number(13900000000LL + random.bounded(400))
                  : mobiles[random.bounded(mobiles.size())],
            texts[random.bounded(texts.size())], texts[random.bounded(texts.size())],
            texts[random.bounded(texts.size())]);
    }
    MainWindow &window = m_fixture->window();
    ContactListModel &model = window.contactList();
    model.replaceAll(contacts);
    window.rebuildRecipientList();
    auto *box = m_fixture->child<QPlainTextEdit>(QStringLiteral("Text2"));
    auto *remarks = m_fixture->child<QCheckBox>(QStringLiteral("Check1"));

    for (int step = 0; step < 3000; ++step) {
        const int action = random.bounded(100);
        if (action < 2) {
            remarks->setChecked(!remarks->isChecked());
        } else if (action < 3) {
            model.setAllTicked(random.bounded(2) == 0);
        } else if (action < 4) {
            box->moveCursor(random.bounded(2) ? QTextCursor::Start : QTextCursor::End);
            TestSupport::typeText(box, QStringLiteral("手写"));
            continue; // replaced by the next tick
        } else {
            model.toggleTicked(random.bounded(int(model.size())));
        }
        const TextRules::RecipientList expected =
            TextRules::buildRecipientList(model.contacts(), remarks->isChecked(), u"\n");
        QCOMPARE(box->toPlainText(), expected.text);
        QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：%1").arg(expected.count));
        if (step % 100 == 0) {
            RecipientLines fresh;
            QCOMPARE(box->document()->toRawText(), fresh.build(model.contacts(), remarks->isChecked()));
        }
    }
}

void TestMainWindow::smsTextSurvivesCloseAndQuitMenu()
{
    auto *sms = m_fixture->child<QPlainTextEdit>(QStringLiteral("Text1"));
    TestSupport::typeText(sms, QStringLiteral("周五下午开会"));
    QTest::keyClick(sms, Qt::Key_Return);
    TestSupport::typeText(sms, QStringLiteral("别迟到'哦"));
    QVERIFY(m_fixture->restart());
    sms = m_fixture->child<QPlainTextEdit>(QStringLiteral("Text1"));
    QCOMPARE(sms->toPlainText(), QStringLiteral("周五下午开会\n别迟到'哦"));
    const QString backup = m_fixture->folder() + QStringLiteral("/数据备份/6日/通讯录.dat");
    QVERIFY(QFile::exists(backup));

    // Leaving through the menu keeps what was typed, too.
    sms->setPlainText(QStringLiteral("第二条"));
    QAction *quit = m_fixture->window().findChild<QAction *>(QStringLiteral("退出"));
    QVERIFY(quit);
    quit->trigger();
    QVERIFY(!m_fixture->window().isVisible());
    QVERIFY(m_fixture->restart());
    QCOMPARE(m_fixture->child<QPlainTextEdit>(QStringLiteral("Text1"))->toPlainText(),
             QStringLiteral("第二条"));
    QCOMPARE(TestSupport::readAll(backup),
             TestSupport::readAll(m_fixture->folder() + QStringLiteral("/通讯录.dat")));
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
