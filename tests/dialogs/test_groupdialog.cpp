#include "commands/workerconnection.h"
#include "desktop/messagebox.h"
#include "dialogs/commandrunner.h"
#include "dialogs/dialogtestbed.h"
#include "dialogs/groupdialog.h"
#include "model/contactlistmodel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "support/testsupport.h"

namespace {

const QString duplicateName = QStringLiteral("该分组名称已存在！");

// Five contacts as a workbook import leaves them: no stored identity.
ContactList workingFive()
{
    ContactList list;
    for (int i = 1; i <= 5; ++i)
        list.append(Contact(QStringLiteral("1395870000%1").arg(i), QStringLiteral("姓名%1").arg(i),
                            QStringLiteral("先生"), QStringLiteral("备注%1").arg(i), -i));
    return list;
}

QStringList mobiles(const ContactList &contacts)
{
    QStringList out;
    for (const Contact &contact : contacts)
        out.append(contact.mobile().toString());
    return out;
}

} // namespace

class TestGroupDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addsGroup_data();
    void addsGroup();
    void existingName_data();
    void existingName();
    void saveAsCopiesTickedContacts_data();
    void saveAsCopiesTickedContacts();
    void modeAndTicksAreReadAtConfirm();
    void emptyNameKeepsDialogLoaded();
    void cancelCloses_data();
    void cancelCloses();
    void enterPressesNoButton();
    void failureMidCopyWritesNothing();
    void groupNameLength_data();
    void groupNameLength();
    void saveAsSkipsOnlyWhatDoesNotFit();
    void geometry_data();
    void geometry();

private:
    QLineEdit *nameBox() const { return DialogTestBed::child<QLineEdit>(m_dialog, "Text1"); }
    void confirm(const QString &name);

    std::unique_ptr<DialogTestBed> m_bed;
    GroupDialog *m_dialog = nullptr;
    ContactListModel m_working;
};

void TestGroupDialog::init()
{
    m_bed = std::make_unique<DialogTestBed>();
    QVERIFY(m_bed->isReady());
    m_working.replaceAll(workingFive());
    auto *runner = new CommandRunner(&m_bed->owner());
    runner->setConnection(std::make_shared<WorkerConnection>(m_bed->store().databasePath()));
    m_dialog = new GroupDialog(
        m_bed->store(), [this] { return m_working.tickedContacts(); }, *runner, &m_bed->owner());
}

void TestGroupDialog::cleanup()
{
    m_bed.reset();
    m_dialog = nullptr;
}

void TestGroupDialog::confirm(const QString &name)
{
    nameBox()->clear();
    DialogTestBed::type(nameBox(), name);
    QTest::mouseClick(DialogTestBed::child<QPushButton>(m_dialog, "Command1"), Qt::LeftButton);
}

void TestGroupDialog::addsGroup_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("plain") << "供应商" << "供应商";
    QTest::newRow("blanks around") << "  供应商 " << "供应商";
    QTest::newRow("apostrophe") << "O'Neil's" << "O'Neil's";
}

void TestGroupDialog::addsGroup()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);

    m_dialog->openForAdd();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("添加分组"));
    confirm(typed);

    QCOMPARE(m_bed->groups(), QStringList({QStringLiteral("客户"), stored}));
    QVERIFY(m_bed->contacts(stored).isEmpty()); // add mode copies nothing
    QCOMPARE(changed.count(), 1);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(MessageBox::shownCount(), 0);
}

void TestGroupDialog::existingName_data()
{
    QTest::addColumn<bool>("saveAs");
    QTest::newRow("添加分组") << false;
    QTest::newRow("另存为分组") << true;
}

void TestGroupDialog::existingName()
{
    QFETCH(bool, saveAs);
    const ContactList stored = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);

    saveAs ? m_dialog->openForSaveAs() : m_dialog->openForAdd();
    confirm(QStringLiteral(" 客户"));

    QCOMPARE(MessageBox::lastText(), duplicateName);
    QCOMPARE(m_bed->groups(), QStringList{QStringLiteral("客户")});
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), stored);
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(!m_dialog->isLoaded());
    QCOMPARE(changed.count(), 1);
}

void TestGroupDialog::saveAsCopiesTickedContacts_data()
{
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<QStringList>("copied");
    QTest::addColumn<bool>("secondIsDuplicateOfFourth");

    QTest::newRow("three of five")
        << QList<bool>{true, false, true, false, true}
        << QStringList{"13958700001", "13958700003", "13958700005"} << false;
    QTest::newRow("none ticked") << QList<bool>(5, false) << QStringList() << false;
    QTest::newRow("same mobile ticked twice")
        << QList<bool>(5, true)
        << QStringList{"13958700001", "13958700004", "13958700003", "13958700005"} << true;
}

void TestGroupDialog::saveAsCopiesTickedContacts()
{
    QFETCH(QList<bool>, ticks);
    QFETCH(QStringList, copied);
    QFETCH(bool, secondIsDuplicateOfFourth);
    ContactList working = workingFive();
    if (secondIsDuplicateOfFourth)
        working[1].setMobile(working[3].mobile());
    m_working.replaceAll(working);
    for (int i = 0; i < m_working.size(); ++i)
        m_working.setTicked(i, ticks.at(i));
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);

    m_dialog->openForSaveAs();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("另存为分组"));
    confirm(QStringLiteral("重点客户"));

    QCOMPARE(m_bed->groups(), QStringList{QStringLiteral("重点客户")});
    const ContactList rows = m_bed->contacts(QStringLiteral("重点客户"));
    QCOMPARE(mobiles(rows), copied);
    for (const Contact &row : rows) {
        const Contact source = *std::find_if(working.cbegin(), working.cend(),
                                             [&](const Contact &c) { return c.mobile() == row.mobile(); });
        QCOMPARE(row.name(), source.name());
        QCOMPARE(row.remark(), source.remark());
        QVERIFY(row.isStored());
        QVERIFY(m_bed->store().contactKeyExists(QStringLiteral("重点客户"), row.mobile().toString()));
    }
    QCOMPARE(changed.count(), 1);
    // The second contact with the same mobile is named as left out.
    QCOMPARE(MessageBox::shownCount(), secondIsDuplicateOfFourth ? 1 : 0);
    if (secondIsDuplicateOfFourth)
        QVERIFY2(MessageBox::lastText().endsWith(
                     QStringLiteral("\n13958700004 姓名4：手机号与前面的联系人重复。")),
                 qPrintable(MessageBox::lastText()));
}

void TestGroupDialog::modeAndTicksAreReadAtConfirm()
{
    m_dialog->openForAdd();
    nameBox()->setText(QStringLiteral("重点客户"));
    m_dialog->openForSaveAs(); // switches the open dialog, keeps the text
    QCOMPARE(nameBox()->text(), QStringLiteral("重点客户"));
    m_working.setTicked(0, false); // unticked in the main window meanwhile
    QTest::mouseClick(DialogTestBed::child<QPushButton>(m_dialog, "Command1"), Qt::LeftButton);

    QCOMPARE(mobiles(m_bed->contacts(QStringLiteral("重点客户"))),
             QStringList({"13958700002", "13958700003", "13958700004", "13958700005"}));

    m_dialog->openForSaveAs();
    m_dialog->openForAdd();
    confirm(QStringLiteral("空组"));
    QVERIFY(m_bed->contacts(QStringLiteral("空组")).isEmpty());
}

void TestGroupDialog::emptyNameKeepsDialogLoaded()
{
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);
    m_dialog->openForAdd();
    m_dialog->move(33, 44);
    const QPoint where = m_dialog->pos();
    confirm(QStringLiteral("   "));

    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_dialog->isLoaded());
    QVERIFY(m_bed->groups().isEmpty());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(MessageBox::shownCount(), 0);

    m_dialog->openForAdd();
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(nameBox()->text(), QStringLiteral("   "));
    QCOMPARE(m_dialog->pos(), where);
}

void TestGroupDialog::cancelCloses_data()
{
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("取消") << false;
    QTest::newRow("close box") << true;
}

void TestGroupDialog::cancelCloses()
{
    QFETCH(bool, byCloseBox);
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);
    m_dialog->openForSaveAs();
    DialogTestBed::type(nameBox(), QStringLiteral("供应商"));
    if (byCloseBox)
        m_dialog->close();
    else
        QTest::mouseClick(DialogTestBed::child<QPushButton>(m_dialog, "Command2"), Qt::LeftButton);

    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_bed->groups().isEmpty());
    QCOMPARE(changed.count(), 0);
    m_dialog->openForAdd();
    QVERIFY(nameBox()->text().isEmpty());
}

void TestGroupDialog::enterPressesNoButton()
{
    m_dialog->openForAdd();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    DialogTestBed::type(nameBox(), QStringLiteral("供应商"));
    QTest::keyClick(nameBox(), Qt::Key_Return);
    QTest::keyClick(nameBox(), Qt::Key_Escape);

    QVERIFY(m_dialog->isVisible());
    QCOMPARE(nameBox()->text(), QStringLiteral("供应商"));
    QVERIFY(m_bed->groups().isEmpty());
}

void TestGroupDialog::failureMidCopyWritesNothing()
{
    m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);
    m_dialog->openForSaveAs();
    // The save runs on a connection of its own: the file itself refuses the
    // second contact of the new group, as a full disk would.
    QVERIFY(m_bed->database().execute(
        "CREATE TRIGGER refuse_second BEFORE INSERT ON [通讯录] "
        "WHEN (SELECT count(*) FROM [通讯录] WHERE [组别] = NEW.[组别]) = 1 "
        "BEGIN SELECT RAISE(ABORT, 'disk refused'); END"));
    confirm(QStringLiteral("重点客户"));
    QVERIFY(m_bed->database().execute("DROP TRIGGER refuse_second"));

    QVERIFY(MessageBox::lastText().startsWith(QStringLiteral("创建分组失败")));
    QCOMPARE(m_bed->groups(), QStringList{QStringLiteral("客户")});
    QVERIFY(m_bed->contacts(QStringLiteral("重点客户")).isEmpty());
    QCOMPARE(changed.count(), 0);
    // Still there with the name, to try again.
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(nameBox()->text(), QStringLiteral("重点客户"));

    QTest::mouseClick(DialogTestBed::child<QPushButton>(m_dialog, "Command1"), Qt::LeftButton);
    QCOMPARE(m_bed->contacts(QStringLiteral("重点客户")).size(), 5);
    QCOMPARE(changed.count(), 1);
}

void TestGroupDialog::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("expected"); // pixels, 15 twips each
    QTest::newRow("Label1") << "Label1" << QRect(16, 12, 96, 12);
    QTest::newRow("Text1") << "Text1" << QRect(16, 36, 213, 21);
    QTest::newRow("Command1") << "Command1" << QRect(76, 76, 77, 24);
    QTest::newRow("Command2") << "Command2" << QRect(156, 76, 77, 24);
}

void TestGroupDialog::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, expected);
    QCOMPARE(m_dialog->size(), QSize(246, 117));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    QWidget *widget = DialogTestBed::child<QWidget>(m_dialog, name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), expected);
}

void TestGroupDialog::groupNameLength_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    // A group must leave room for an 11-character mobile in the 50-character key.
    QTest::newRow("39") << QString(39, QChar(0x7ec4)) << true;
    QTest::newRow("39 outside the BMP") << QString::fromUcs4(std::u32string(39, U'\U00020000').data(), 39) << true;
    QTest::newRow("40") << QString(40, QChar(0x7ec4)) << false;
    QTest::newRow("60 pasted") << QString(60, QLatin1Char('g')) << false;
}

void TestGroupDialog::groupNameLength()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);
    m_dialog->openForAdd();
    nameBox()->setText(name); // as a paste: nothing is cut on the way in
    QTest::mouseClick(DialogTestBed::child<QPushButton>(m_dialog, "Command1"), Qt::LeftButton);

    if (accepted) {
        QCOMPARE(m_bed->groups(), QStringList{name});
        Contact contact = TestSupport::makeContact(QStringLiteral("13958700001"), QStringLiteral("张三"));
        QCOMPARE(m_bed->store().addContact(name, &contact), StoreResult::Ok);
        return;
    }
    QCOMPARE(MessageBox::lastText(),
             QStringLiteral("分组名称最多 39 个字，现在有 %1 个字。").arg(name.size()));
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(nameBox()->text(), name);
    QVERIFY(m_bed->groups().isEmpty());
    QCOMPARE(changed.count(), 0);
}

void TestGroupDialog::saveAsSkipsOnlyWhatDoesNotFit()
{
    // Ten ticked contacts: the 2nd to the 9th carry a remark one character
    // too long, the 10th one exactly as long as allowed.
    ContactList working;
    for (int i = 1; i <= 10; ++i)
        working << TestSupport::makeContact(QStringLiteral("139587000%1").arg(i, 2, 10, QLatin1Char('0')),
                                            QStringLiteral("姓名%1").arg(i), {},
                                            QString(i == 1 ? 0 : i == 10 ? 100 : 101, QLatin1Char('r')));
    working << TestSupport::makeContact(QStringLiteral("13958700011"), QStringLiteral("未勾选"), {},
                                        QString(101, QLatin1Char('r')));
    m_working.replaceAll(working);
    m_working.setTicked(10, false);
    QSignalSpy changed(m_dialog, &GroupDialog::groupsChanged);

    m_dialog->openForSaveAs();
    confirm(QStringLiteral("重点客户"));

    QCOMPARE(m_bed->groups(), QStringList{QStringLiteral("重点客户")});
    QCOMPARE(mobiles(m_bed->contacts(QStringLiteral("重点客户"))),
             QStringList({"13958700001", "13958700010"}));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!m_dialog->isVisible());

    const QStringList report = MessageBox::lastText().split(QLatin1Char('\n'));
    QCOMPARE(MessageBox::shownCount(), 1);
    QVERIFY2(report.first().contains(QStringLiteral("2 个")) && report.first().contains(QStringLiteral("8 个")),
             qPrintable(report.first()));
    QCOMPARE(report.size(), 7); // the first five by name, then how many more
    QCOMPARE(report.at(1), QStringLiteral("13958700002 姓名2：备注最多 100 个字，现在有 101 个字。"));
    QVERIFY(report.at(5).startsWith(QStringLiteral("13958700006 姓名6：")));
    QVERIFY2(report.last().contains(QLatin1Char('3')), qPrintable(report.last()));
}

QTEST_MAIN(TestGroupDialog)
#include "test_groupdialog.moc"
