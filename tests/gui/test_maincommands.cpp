#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "desktop/webpages.h"
#include "dialogs/aboutdialog.h"
#include "dialogs/tipdialog.h"
#include "exchange/contactimport.h"
#include "exchange/phonebook/phonebookfile.h"
#include "gui/mainwindowfixture.h"
#include "mainwindow/contactgrid.h"
#include "model/contactlistmodel.h"
#include "storage/contactstore.h"
#include "support/testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>

namespace {

ContactList numberedContacts(int count)
{
    ContactList contacts;
    for (int i = 0; i < count; ++i) {
        Contact contact;
        contact.setMobile(QString::number(13900000000LL + i));
        contact.setName(QStringLiteral("客户%1").arg(i));
        contacts.append(contact);
    }
    return contacts;
}

QStringList mobiles(const ContactList &contacts)
{
    QStringList out;
    for (const Contact &contact : contacts)
        out << contact.mobile().toString();
    return out;
}

} // namespace

class TestMainCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addWithoutGroupAsksForOne();
    void addThroughEditorReloadsWholeGroup();
    void modifyChangesTheContactItWasOpenedWith();
    void modifyKeepsContactInItsGroupAfterGroupDialog();
    void deleteRemovesSelectedContactOnly();
    void tickAllAndUntickAllKeepSelectionAndScroll();

    void deleteGroupOnYesEmptiesTheWindow();
    void deleteGroupOnNoChangesNothing();
    void saveAsCopiesTickedContacts();

    void importReplacesListWithWorkbookRows();
    void importFailureKeepsTheList();
    void importCancelOnlyEmptiesSearchBoxes();
    void importedEntriesAreEditedInTheListOnly();
    void exportWritesEveryContactAndReports();
    void exportAsksBeforeReplacing();
    void exportFailureIsReported();

    void phoneBookWrittenThenTipShown();
    void phoneBookFailureShowsNoTip();
    void phoneBookKeepsRecordsWholeAndNamesLeftOut();
    void helpAndAboutCommands();

private:
    QDialog *editor();
    void saveEditor(const QStringList &texts, bool replace = true);
    void answerNextFile(const QString &path, const QString &filter = QString());
    QString tempPath(const QString &name) const { return m_fixture->folder() + QLatin1Char('/') + name; }

    std::unique_ptr<MainWindowFixture> m_fixture;
};

void TestMainCommands::init()
{
    MessageBox::resetRecord();
    MessageBox::setUnattended(true);
    WebPages::setRecordOnly(true);
    m_fixture = std::make_unique<MainWindowFixture>();
    QVERIFY(m_fixture->start());
}

void TestMainCommands::cleanup()
{
    if (TipDialog *tip = TipDialog::current())
        tip->close();
    if (AboutDialog *about = AboutDialog::current())
        about->close();
    m_fixture.reset();
}

QDialog *TestMainCommands::editor()
{
    return m_fixture->window().findChild<QDialog *>(QStringLiteral("Form2"));
}

void TestMainCommands::saveEditor(const QStringList &texts, bool replace)
{
    QDialog *dialog = editor();
    QVERIFY(dialog && dialog->isVisible());
    for (int i = 0; i < texts.size(); ++i) {
        auto *box = dialog->findChild<QLineEdit *>(QStringLiteral("Text1_%1").arg(i));
        if (replace)
            box->clear();
        TestSupport::typeText(box, texts[i]);
    }
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
}

void TestMainCommands::answerNextFile(const QString &path, const QString &filter)
{
    FileDialog::setNextFileName(path, filter);
}

void TestMainCommands::addWithoutGroupAsksForOne()
{
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("张"));
    m_fixture->clickButton(QStringLiteral("Command1"));
    QCOMPARE(MessageBox::lastText(), QStringLiteral("请首先选择分组！"));
    QVERIFY(m_fixture->child<QLineEdit>(QStringLiteral("Text3"))->text().isEmpty());
    QVERIFY(!editor() || !editor()->isVisible());
}

void TestMainCommands::addThroughEditorReloadsWholeGroup()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("张"));
    m_fixture->clickButton(QStringLiteral("Command15"));
    QCOMPARE(m_fixture->window().contactList().size(), 1);

    m_fixture->clickButton(QStringLiteral("Command1"));
    QVERIFY(m_fixture->child<QLineEdit>(QStringLiteral("Text3"))->text().isEmpty());
    saveEditor({QStringLiteral(" 13958700009 "), QStringLiteral("赵六"), QStringLiteral("先生"), {}});
    QVERIFY(!editor()->isVisible());
    QCOMPARE(mobiles(m_fixture->window().contactList().contacts()),
             QStringList({"13958700001", "13958700002", "13958700009"}));
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：3"));
}

void TestMainCommands::modifyChangesTheContactItWasOpenedWith()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->window().grid().selectShownRow(1);
    m_fixture->clickButton(QStringLiteral("Command4"));
    auto *mobile = editor()->findChild<QLineEdit *>(QStringLiteral("Text1_0"));
    QCOMPARE(mobile->text(), QStringLiteral("13958700002"));
    QCOMPARE(mobile->cursorPosition(), 11);

    // The list is searched again while the editor is open.
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("张"));
    m_fixture->clickButton(QStringLiteral("Command15"));
    auto *name = editor()->findChild<QLineEdit *>(QStringLiteral("Text1_1"));
    name->clear();
    TestSupport::typeText(name, QStringLiteral("李四改"));
    QTest::mouseClick(editor()->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);

    ContactList stored;
    m_fixture->store().contacts(QStringLiteral("客户"), {}, {}, stored);
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[0].name(), QStringLiteral("张三"));
    QCOMPARE(stored[1].name(), QStringLiteral("李四改"));
    QCOMPARE(stored[1].mobile(), QStringLiteral("13958700002"));
}

void TestMainCommands::modifyKeepsContactInItsGroupAfterGroupDialog()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->window().grid().selectShownRow(0);
    QVERIFY(m_fixture->store().addGroup(QStringLiteral("供应商")) == StoreResult::Ok);
    m_fixture->window().reloadGroups(); // as the group dialog does: nothing selected
    m_fixture->clickButton(QStringLiteral("Command4"));
    saveEditor({QStringLiteral("13958700001"), QStringLiteral("张三丰")});
    ContactList stored;
    m_fixture->store().contacts(QStringLiteral("客户"), {}, {}, stored);
    QCOMPARE(stored.first().name(), QStringLiteral("张三丰"));
}

void TestMainCommands::deleteRemovesSelectedContactOnly()
{
    QCOMPARE(m_fixture->store().addGroupWithContacts(QStringLiteral("批量"), numberedContacts(40)),
             StoreResult::Ok);
    m_fixture->window().reloadGroups();
    m_fixture->clickGroup(QStringLiteral("批量"));
    ContactGrid &grid = m_fixture->window().grid();
    grid.setScrollValue(10);
    QTest::mouseClick(grid.rowArea(), Qt::LeftButton, {}, grid.cellRect(3, 2).center());
    m_fixture->window().contactList().setTicked(0, false);
    m_fixture->clickButton(QStringLiteral("Command3"));

    const ContactList &list = m_fixture->window().contactList().contacts();
    QCOMPARE(list.size(), 39);
    QVERIFY(!mobiles(list).contains(QStringLiteral("13900000013")));
    QCOMPARE(m_fixture->window().contactList().tickedContacts().size(), 39);
    QCOMPARE(grid.scrollValue(), 0);
    QCOMPARE(grid.selectedIndex(), -1);

    // Nothing selected now: a second press deletes nothing.
    m_fixture->clickButton(QStringLiteral("Command3"));
    QCOMPARE(m_fixture->window().contactList().size(), 39);
}

void TestMainCommands::tickAllAndUntickAllKeepSelectionAndScroll()
{
    QCOMPARE(m_fixture->store().addGroupWithContacts(QStringLiteral("批量"), numberedContacts(40)),
             StoreResult::Ok);
    m_fixture->window().reloadGroups();
    m_fixture->clickGroup(QStringLiteral("批量"));
    ContactGrid &grid = m_fixture->window().grid();
    grid.setScrollValue(17);
    grid.selectShownRow(2);

    m_fixture->clickButton(QStringLiteral("Command7"));
    QVERIFY(m_fixture->window().contactList().tickedContacts().isEmpty());
    QVERIFY(m_fixture->recipientLines().isEmpty());
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：0"));
    m_fixture->clickButton(QStringLiteral("Command5"));
    QCOMPARE(m_fixture->window().contactList().tickedContacts().size(), 40);
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：40"));
    QCOMPARE(grid.scrollValue(), 17);
    QCOMPARE(grid.selectedIndex(), 19);
}

void TestMainCommands::deleteGroupOnYesEmptiesTheWindow()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    auto *remarks = m_fixture->child<QCheckBox>(QStringLiteral("Check1"));
    remarks->setChecked(true);
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("张"));
    m_fixture->clickButton(QStringLiteral("Command15"));
    m_fixture->window().grid().selectShownRow(0);

    MessageBox::setNextAnswer(QMessageBox::Yes);
    m_fixture->clickButton(QStringLiteral("Command9"));
    QCOMPARE(MessageBox::lastText(), QStringLiteral("确定要删除分组“客户”吗？"));

    QStringList groups;
    m_fixture->store().groups(groups);
    QCOMPARE(groups, QStringList({"同事"}));
    ContactList left;
    m_fixture->store().contacts(QStringLiteral("客户"), {}, {}, left);
    QVERIFY(left.isEmpty()); // the filtered-out contact went too
    m_fixture->store().contacts(QStringLiteral("同事"), {}, {}, left);
    QCOMPARE(left.size(), 1);

    auto *list = m_fixture->child<QListWidget>(QStringLiteral("List1"));
    QCOMPARE(list->count(), 1);
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(m_fixture->window().contactList().isEmpty());
    QVERIFY(m_fixture->window().currentGroup().isEmpty());
    QVERIFY(m_fixture->recipientLines().isEmpty());
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：0"));
    QCOMPARE(m_fixture->window().grid().selectedIndex(), -1);
    QVERIFY(remarks->isChecked());

    // With nothing selected, deleting a group asks nothing.
    const int shown = MessageBox::shownCount();
    m_fixture->clickButton(QStringLiteral("Command9"));
    QCOMPARE(MessageBox::shownCount(), shown);
}

void TestMainCommands::deleteGroupOnNoChangesNothing()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    MessageBox::setNextAnswer(QMessageBox::No);
    m_fixture->clickButton(QStringLiteral("Command9"));
    QStringList groups;
    m_fixture->store().groups(groups);
    QCOMPARE(groups.size(), 2);
    QCOMPARE(m_fixture->window().contactList().size(), 2);
}

void TestMainCommands::saveAsCopiesTickedContacts()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->window().contactList().setTicked(0, false);
    m_fixture->clickButton(QStringLiteral("Command10"));
    auto *dialog = m_fixture->window().findChild<QDialog *>(QStringLiteral("Form3"));
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("另存为分组"));
    TestSupport::typeText(dialog->findChild<QLineEdit *>(QStringLiteral("Text1")),
                          QStringLiteral("重点客户"));
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);

    ContactList copied;
    m_fixture->store().contacts(QStringLiteral("重点客户"), {}, {}, copied);
    QCOMPARE(mobiles(copied), QStringList({"13958700002"}));
    auto *list = m_fixture->child<QListWidget>(QStringLiteral("List1"));
    QCOMPARE(list->count(), 3);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(m_fixture->window().contactList().size(), 2); // the grid stays as it was
    QCOMPARE(m_fixture->window().currentGroup(), QStringLiteral("客户"));
}

void TestMainCommands::importReplacesListWithWorkbookRows()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->child<QCheckBox>(QStringLiteral("Check1"))->setChecked(true);
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text4")), QStringLiteral("139"));
    const QString workbook = TestSupport::dataPath(QStringLiteral("01_main_example.xlwt.xls"));
    answerNextFile(workbook);
    m_fixture->clickButton(QStringLiteral("Command11"));

    QCOMPARE(FileDialog::lastTitle(), QStringLiteral("打开"));
    QVERIFY(FileDialog::lastFilters().startsWith(QStringLiteral("Microsoft Excel 工作簿(*.xls)")));
    const ContactListModel &list = m_fixture->window().contactList();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).salutation(), QStringLiteral("先生"));
    QCOMPARE(list.at(1).salutation(), QStringLiteral("女士"));
    QVERIFY(!list.at(0).isStored());
    QVERIFY(m_fixture->window().currentGroup().isEmpty());
    QVERIFY(m_fixture->child<QListWidget>(QStringLiteral("List1"))->selectedItems().isEmpty());
    QVERIFY(!m_fixture->child<QCheckBox>(QStringLiteral("Check1"))->isChecked());
    QVERIFY(m_fixture->child<QLineEdit>(QStringLiteral("Text4"))->text().isEmpty());
    QCOMPARE(m_fixture->window().lastFilePath(), workbook);
    QCOMPARE(m_fixture->recipientLines(),
             QStringList({"13958700001@张三先生", "13958700002@李四女士"}));
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：2"));
    QCOMPARE(MessageBox::shownCount(), 0);
}

void TestMainCommands::importFailureKeepsTheList()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->window().grid().selectShownRow(1);
    const QString broken = TestSupport::dataPath(QStringLiteral("m1_truncated.xls"));
    answerNextFile(broken);
    m_fixture->clickButton(QStringLiteral("Command11"));
    QCOMPARE(MessageBox::shownCount(), 1);
    QVERIFY(MessageBox::lastText().contains(broken));
    QCOMPARE(m_fixture->window().contactList().size(), 2);
    QCOMPARE(m_fixture->window().currentGroup(), QStringLiteral("客户"));
    QCOMPARE(m_fixture->window().grid().selectedIndex(), 1);
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：2"));
}

void TestMainCommands::importCancelOnlyEmptiesSearchBoxes()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    TestSupport::typeText(m_fixture->child<QLineEdit>(QStringLiteral("Text3")), QStringLiteral("李"));
    answerNextFile(QString());
    m_fixture->clickButton(QStringLiteral("Command11"));
    QVERIFY(m_fixture->child<QLineEdit>(QStringLiteral("Text3"))->text().isEmpty());
    QCOMPARE(m_fixture->window().contactList().size(), 2);
    QCOMPARE(m_fixture->window().currentGroup(), QStringLiteral("客户"));
}

void TestMainCommands::importedEntriesAreEditedInTheListOnly()
{
    answerNextFile(TestSupport::dataPath(QStringLiteral("01_main_example.xlwt.xls")));
    m_fixture->clickButton(QStringLiteral("Command11"));
    m_fixture->window().contactList().setTicked(1, false);

    m_fixture->window().grid().selectShownRow(0);
    m_fixture->clickButton(QStringLiteral("Command4"));
    saveEditor({QStringLiteral("13958700001"), QStringLiteral("张三改")});
    const ContactListModel &list = m_fixture->window().contactList();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).name(), QStringLiteral("张三改"));
    QVERIFY(!list.at(1).ticked); // the rest of the list is as it was

    m_fixture->window().grid().selectShownRow(0);
    m_fixture->clickButton(QStringLiteral("Command3"));
    QCOMPARE(mobiles(list.contacts()), QStringList({"13958700002"}));
    QVERIFY(!list.at(0).ticked);

    ContactList stored;
    m_fixture->store().contacts(QStringLiteral("客户"), {}, {}, stored);
    QCOMPARE(stored.first().name(), QStringLiteral("张三")); // the store is untouched
}

void TestMainCommands::exportWritesEveryContactAndReports()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->window().contactList().setTicked(1, false);
    for (const QString &filter : {QStringLiteral("Excel文件 (*.xls)"),
                                  QStringLiteral("Excel 2007 工作簿 (*.xlsx)")}) {
        MessageBox::resetRecord();
        MessageBox::setUnattended(true);
        answerNextFile(tempPath(QStringLiteral("客户")), filter);
        m_fixture->clickButton(QStringLiteral("Command12"));
        QCOMPARE(MessageBox::lastText(), QStringLiteral("文件导出成功！"));
        const QString written = tempPath(filter.contains(QStringLiteral("xlsx")) ? "客户.xlsx" : "客户.xls");
        ContactList back;
        QString backError;
        const bool backOk = importContacts(written, &back, &backError);
        QVERIFY2(backOk, qPrintable(backError));
        QCOMPARE(mobiles(back), QStringList({"13958700001", "13958700002"}));
        QCOMPARE(back[1].remark(), QStringLiteral("房间002号"));
    }
    QCOMPARE(m_fixture->window().lastFilePath(), tempPath(QStringLiteral("客户")));
}

void TestMainCommands::exportAsksBeforeReplacing()
{
    const QString existing = tempPath(QStringLiteral("名单.xls"));
    QVERIFY(TestSupport::writeAll(existing, "keep me"));
    m_fixture->clickGroup(QStringLiteral("客户"));
    answerNextFile(tempPath(QStringLiteral("名单")));
    MessageBox::setNextAnswer(QMessageBox::No);
    m_fixture->clickButton(QStringLiteral("Command12"));
    QVERIFY(MessageBox::lastText().contains(existing));
    QCOMPARE(TestSupport::readAll(existing), QByteArray("keep me"));

    answerNextFile(tempPath(QStringLiteral("名单")));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_fixture->clickButton(QStringLiteral("Command12"));
    QCOMPARE(MessageBox::lastText(), QStringLiteral("文件导出成功！"));
    ContactList imported;
    QString error;
    QVERIFY(importContacts(existing, &imported, &error));
}

void TestMainCommands::exportFailureIsReported()
{
    const QString blocker = tempPath(QStringLiteral("not-a-folder"));
    QVERIFY(TestSupport::writeAll(blocker, "x"));
    m_fixture->clickGroup(QStringLiteral("客户"));
    answerNextFile(blocker + QStringLiteral("/客户"));
    m_fixture->clickButton(QStringLiteral("Command12"));
    QVERIFY(MessageBox::lastText().contains(blocker + QStringLiteral("/客户.xls")));
    QVERIFY(MessageBox::lastText() != QStringLiteral("文件导出成功！"));
}

void TestMainCommands::phoneBookWrittenThenTipShown()
{
    m_fixture->clickGroup(QStringLiteral("客户"));
    m_fixture->window().setSmsText(QStringLiteral("周五下午开会"));
    answerNextFile(tempPath(QStringLiteral("客户.xcl")));
    m_fixture->clickButton(QStringLiteral("Command13"));
    QCOMPARE(FileDialog::lastTitle(), QStringLiteral("另存为"));
    QCOMPARE(FileDialog::lastFilters(), QStringLiteral("通讯录文件 (*.xcl)"));

    const QByteArray expected = QByteArray::fromHex(
        "d6dccee5cfc2cee7bfaabbe10d0aa1a90d0a31333935383730303030314"
        "0d5c5c8fdcfc8c9fa4020402040204" "00d0a3133393538373030303032"
        "40c0eecbc4c5aecabf40204020402040" "0d0a2424242424242424242424"
        "402040204020400d0a" "a1a90d0a");
    QCOMPARE(TestSupport::readAll(tempPath(QStringLiteral("客户.xcl.xcl"))), expected);
    QVERIFY(TipDialog::current() && TipDialog::current()->isVisible());
    QCOMPARE(MessageBox::shownCount(), 0);
}

void TestMainCommands::phoneBookFailureShowsNoTip()
{
    const QString blocker = tempPath(QStringLiteral("not-a-folder"));
    QVERIFY(TestSupport::writeAll(blocker, "x"));
    answerNextFile(blocker + QStringLiteral("/客户"));
    m_fixture->clickButton(QStringLiteral("Command13"));
    QCOMPARE(MessageBox::shownCount(), 1);
    QVERIFY(MessageBox::lastText().contains(blocker + QStringLiteral("/客户.xcl")));
    QVERIFY(!TipDialog::current() || !TipDialog::current()->isVisible());
}

void TestMainCommands::phoneBookKeepsRecordsWholeAndNamesLeftOut()
{
    // A name with a line feed, and a mobile the list takes but the file cannot.
    const QString csv = tempPath(QStringLiteral("名单.csv"));
    QVERIFY(TestSupport::writeAll(csv, QStringLiteral("13958700003,\"张\n三\",男\r\n1395870001a,李四,\r\n"
                                                      "13958700005,王五,\r\n")
                                           .toUtf8()));
    answerNextFile(csv);
    m_fixture->clickButton(QStringLiteral("Command11"));
    QCOMPARE(m_fixture->countText(), QStringLiteral("名单人数：3"));

    answerNextFile(tempPath(QStringLiteral("客户")));
    m_fixture->clickButton(QStringLiteral("Command13"));
    QCOMPARE(TestSupport::readAll(tempPath(QStringLiteral("客户.xcl"))),
             PhoneBookFile::content(QString(), QStringLiteral("13958700003@张\n三先生\r\n"
                                                              "13958700005@王五\r\n")));
    QCOMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastText(),
             QStringLiteral("有 1 个号码不是 11 位数字，没有写入手机通讯录：1395870001a"));
    QVERIFY(TipDialog::current() && TipDialog::current()->isVisible());

    // Edited by hand, the box's own lines are the records.
    auto *box = m_fixture->child<QPlainTextEdit>(QStringLiteral("Text2"));
    box->moveCursor(QTextCursor::End);
    TestSupport::typeText(box, QStringLiteral("13958700009@手工"));
    answerNextFile(tempPath(QStringLiteral("手工")));
    m_fixture->clickButton(QStringLiteral("Command13"));
    QCOMPARE(TestSupport::readAll(tempPath(QStringLiteral("手工.xcl"))),
             PhoneBookFile::content(QString(), QStringLiteral("13958700003@张\r\n13958700005@王五\r\n"
                                                              "13958700009@手工\r\n")));
    QCOMPARE(MessageBox::lastText(),
             QStringLiteral("有 2 个号码不是 11 位数字，没有写入手机通讯录：三先生、1395870001a"));
}

void TestMainCommands::helpAndAboutCommands()
{
    m_fixture->clickButton(QStringLiteral("Command14"));
    m_fixture->window().findChild<QAction *>(QStringLiteral("操作说明"))->trigger();
    m_fixture->window().findChild<QAction *>(QStringLiteral("访问作者主页"))->trigger();
    QCOMPARE(WebPages::openedUrls(),
             QList<QUrl>({WebPages::helpPage(), WebPages::helpPage(), WebPages::homePage()}));
    QVERIFY(WebPages::helpPage().toString().endsWith(QStringLiteral("/03/tarvel/help.htm")));

    m_fixture->window().findChild<QAction *>(QStringLiteral("关于"))->trigger();
    AboutDialog *about = AboutDialog::current();
    QVERIFY(about && about->isVisible());
    m_fixture->window().findChild<QAction *>(QStringLiteral("关于"))->trigger();
    QCOMPARE(AboutDialog::current(), about);
}

QTEST_MAIN(TestMainCommands)
#include "test_maincommands.moc"
