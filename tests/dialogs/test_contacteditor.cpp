#include "desktop/messagebox.h"
#include "dialogs/contacteditor.h"
#include "dialogs/dialogtestbed.h"
#include "support/writefault.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString invalidMobile = QStringLiteral("请填写正确的手机号！");
const QString duplicateMobile = QStringLiteral("该手机号码已存在！");

} // namespace

class TestContactEditor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void mobileCheck_data();
    void mobileCheck();
    void storesTrimmedFieldsWithApostrophes();
    void sameMobile_data();
    void sameMobile();
    void reopeningWhileOpenKeepsTexts();
    void closing_data();
    void closing();
    void modifyChangesTheOpenedContact();
    void modifyCollisionChangesNothing();
    void modifyOfDeletedContact();
    void modifyOfWorkingEntryStaysInWorkingList();
    void neverWritesIntoAnEmptyGroup_data();
    void neverWritesIntoAnEmptyGroup();
    void storeFailureKeepsTheTyping_data();
    void storeFailureKeepsTheTyping();
    void overLongTextsAreNamedAndKept_data();
    void overLongTextsAreNamedAndKept();
    void enterWalksTheFocus();
    void geometry_data();
    void geometry();
    void centredOnOwnerWhenOpenedAfresh();

private:
    QLineEdit *box(int index) const;
    QPushButton *button(const char *name) const;
    void type(const QStringList &texts);
    void save() { QTest::mouseClick(button("Command1"), Qt::LeftButton); }

    std::unique_ptr<DialogTestBed> m_bed;
    ContactEditor *m_editor = nullptr;
};

void TestContactEditor::init()
{
    m_bed = std::make_unique<DialogTestBed>();
    QVERIFY(m_bed->isReady());
    m_editor = new ContactEditor(m_bed->store(), &m_bed->owner());
}

void TestContactEditor::cleanup()
{
    m_bed.reset(); // the owner takes the editor with it
    m_editor = nullptr;
}

QLineEdit *TestContactEditor::box(int index) const
{
    return DialogTestBed::child<QLineEdit>(m_editor, QStringLiteral("Text1_%1").arg(index));
}

QPushButton *TestContactEditor::button(const char *name) const
{
    return DialogTestBed::child<QPushButton>(m_editor, QString::fromLatin1(name));
}

void TestContactEditor::type(const QStringList &texts)
{
    for (int i = 0; i < texts.size(); ++i)
        DialogTestBed::type(box(i), texts.at(i));
}

void TestContactEditor::mobileCheck_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored"); // empty: refused

    QTest::newRow("blanks around") << " 13958700009 " << "13958700009";
    QTest::newRow("ten characters") << "1395870000" << "";
    QTest::newRow("twelve characters") << "139587000091" << "";
    QTest::newRow("eleven zeros") << "00000000000" << "";
    QTest::newRow("eleven letters") << "abcdefghijk" << "";
    QTest::newRow("ten digits and a letter") << "1395870000a" << "1395870000a";
    QTest::newRow("only blanks") << "           " << "";
}

void TestContactEditor::mobileCheck()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    m_bed->addGroup(QStringLiteral("客户"), {});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);

    m_editor->openForAdd(QStringLiteral("客户"));
    const QStringList texts{typed, QStringLiteral("张三"), QStringLiteral("先生"),
                            QStringLiteral("房间001号")};
    type(texts);
    save();

    const ContactList rows = m_bed->contacts(QStringLiteral("客户"));
    if (stored.isEmpty()) {
        QCOMPARE(MessageBox::lastText(), invalidMobile);
        QVERIFY(m_editor->isVisible());
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(box(i)->text(), texts.at(i));
        QVERIFY(rows.isEmpty());
        QCOMPARE(saved.count(), 0);
    } else {
        QCOMPARE(MessageBox::shownCount(), 0);
        QVERIFY(!m_editor->isVisible());
        QCOMPARE(saved.count(), 1);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().mobile(), stored);
        QVERIFY(m_bed->store().contactKeyExists(QStringLiteral("客户"), stored));
    }
}

void TestContactEditor::storesTrimmedFieldsWithApostrophes()
{
    const QString group = QStringLiteral("O'Brien's 客户");
    m_bed->addGroup(group, {});
    m_editor->openForAdd(group);
    type({QStringLiteral("13958700009"), QStringLiteral("  D'Arcy "), QStringLiteral(" '先生'"),
          QStringLiteral("it's  ok ")});
    save();

    const ContactList rows = m_bed->contacts(group);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().name(), QStringLiteral("D'Arcy"));
    QCOMPARE(rows.first().salutation(), QStringLiteral("'先生'"));
    QCOMPARE(rows.first().remark(), QStringLiteral("it's  ok"));
    QVERIFY(m_bed->store().contactKeyExists(group, QStringLiteral("13958700009")));
}

void TestContactEditor::sameMobile_data()
{
    QTest::addColumn<QString>("targetGroup");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("same group") << "客户" << false;
    QTest::newRow("other group") << "同事" << true;
}

void TestContactEditor::sameMobile()
{
    QFETCH(QString, targetGroup);
    QFETCH(bool, accepted);
    const ContactList before = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    m_bed->addGroup(QStringLiteral("同事"), {});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);

    m_editor->openForAdd(targetGroup);
    type({QStringLiteral(" 13958700001"), QStringLiteral("新名字")});
    save();

    QVERIFY(!m_editor->isVisible());
    QCOMPARE(saved.count(), 1); // the list is reloaded either way
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), before);
    QCOMPARE(m_bed->contacts(QStringLiteral("同事")).size(), accepted ? 1 : 0);
    QCOMPARE(MessageBox::lastText(), accepted ? QString() : duplicateMobile);
}

void TestContactEditor::reopeningWhileOpenKeepsTexts()
{
    m_bed->addGroup(QStringLiteral("客户"), {});
    m_bed->addGroup(QStringLiteral("同事"), {});
    m_editor->openForAdd(QStringLiteral("客户"));
    type({QStringLiteral("13958700009"), QStringLiteral("王五")});
    m_editor->openForAdd(QStringLiteral("同事"));
    QCOMPARE(box(1)->text(), QStringLiteral("王五"));
    save();

    QCOMPARE(m_bed->contacts(QStringLiteral("客户")).size(), 0);
    QCOMPARE(m_bed->contacts(QStringLiteral("同事")).size(), 1);
}

void TestContactEditor::closing_data()
{
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("取 消") << false;
    QTest::newRow("close box") << true;
}

void TestContactEditor::closing()
{
    QFETCH(bool, byCloseBox);
    const ContactList stored = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    QSignalSpy edited(m_editor, &ContactEditor::workingEntryEdited);

    m_editor->openForModify(QStringLiteral("客户"), stored.first());
    box(1)->setText(QStringLiteral("改过"));
    if (byCloseBox)
        m_editor->close();
    else
        QTest::mouseClick(button("Command2"), Qt::LeftButton);

    QVERIFY(!m_editor->isVisible());
    QCOMPARE(saved.count() + edited.count(), 0);
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), stored);

    m_editor->openForAdd(QStringLiteral("客户")); // opened afresh: empty
    for (int i = 0; i < 4; ++i)
        QVERIFY(box(i)->text().isEmpty());
}

void TestContactEditor::modifyChangesTheOpenedContact()
{
    const ContactList stored = m_bed->addGroup(
        QStringLiteral("客户"), {"13958700001", "13958700002", "13958700003"});
    m_editor->openForModify(QStringLiteral("客户"), stored.at(1));

    // The list changes underneath the open editor.
    QCOMPARE(m_bed->store().deleteContact(stored.at(0).rowId), StoreResult::Ok);
    Contact extra{0, QStringLiteral("13958700000"), QStringLiteral("新"), {}, {}, true};
    QCOMPARE(m_bed->store().addContact(QStringLiteral("客户"), extra), StoreResult::Ok);

    box(0)->setText(QStringLiteral("13958700022 "));
    box(1)->setText(QStringLiteral(" 李四 "));
    save();

    QCOMPARE(MessageBox::shownCount(), 0);
    const ContactList rows = m_bed->contacts(QStringLiteral("客户"));
    QCOMPARE(rows.size(), 3);
    Contact expected = stored.at(1);
    expected.setMobile(QStringLiteral("13958700022"));
    expected.setName(QStringLiteral("李四"));
    QCOMPARE(rows.at(0), expected);
    QCOMPARE(rows.at(1), stored.at(2));
    QCOMPARE(rows.at(2).rowId, extra.rowId);
    QVERIFY(m_bed->store().contactKeyExists(QStringLiteral("客户"), QStringLiteral("13958700022")));
    QVERIFY(!m_bed->store().contactKeyExists(QStringLiteral("客户"), QStringLiteral("13958700002")));
}

void TestContactEditor::modifyCollisionChangesNothing()
{
    const ContactList stored =
        m_bed->addGroup(QStringLiteral("客户"), {"13958700001", "13958700002"});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    m_editor->openForModify(QStringLiteral("客户"), stored.at(1));
    box(0)->setText(QStringLiteral("13958700001"));
    box(1)->setText(QStringLiteral("改过"));
    save();

    QCOMPARE(MessageBox::lastText(), duplicateMobile);
    QVERIFY(!m_editor->isVisible());
    QCOMPARE(saved.count(), 1);
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), stored);
}

void TestContactEditor::modifyOfDeletedContact()
{
    const ContactList stored = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    m_editor->openForModify(QStringLiteral("客户"), stored.first());
    QCOMPARE(m_bed->store().deleteContact(stored.first().rowId), StoreResult::Ok);
    save();

    QCOMPARE(MessageBox::shownCount(), 1);
    QVERIFY(MessageBox::lastText() != duplicateMobile);
    QVERIFY(!m_editor->isVisible());
    QCOMPARE(saved.count(), 1);
    QVERIFY(m_bed->contacts(QStringLiteral("客户")).isEmpty());
}

void TestContactEditor::modifyOfWorkingEntryStaysInWorkingList()
{
    const ContactList stored = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    QSignalSpy edited(m_editor, &ContactEditor::workingEntryEdited);
    const Contact imported(QStringLiteral("13958700005"), QStringLiteral("赵六"), {}, {}, -7,
                           false);
    m_editor->openForModify(QString(), imported);
    box(0)->setText(QStringLiteral(" 13958700001 "));
    box(2)->setText(QStringLiteral(" 女士"));
    save();

    QCOMPARE(saved.count(), 0);
    QCOMPARE(edited.count(), 1);
    const Contact expected(QStringLiteral("13958700001"), QStringLiteral("赵六"),
                           QStringLiteral("女士"), {}, -7, false);
    QCOMPARE(edited.first().first().value<Contact>(), expected);
    QVERIFY(!m_editor->isVisible());
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), stored);
    QCOMPARE(m_bed->contacts(QString()).size(), 0);
}

void TestContactEditor::neverWritesIntoAnEmptyGroup_data()
{
    QTest::addColumn<bool>("addMode");
    QTest::newRow("add") << true;
    QTest::newRow("modify") << false;
}

void TestContactEditor::neverWritesIntoAnEmptyGroup()
{
    QFETCH(bool, addMode);
    const ContactList stored = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    if (addMode)
        m_editor->openForAdd(QString());
    else
        m_editor->openForModify(QString(), stored.first());
    box(0)->setText(QStringLiteral("13958700009"));
    save();

    QCOMPARE(MessageBox::lastText(), QStringLiteral("请首先选择分组！"));
    QVERIFY(m_editor->isVisible());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), stored);
    QVERIFY(m_bed->contacts(QString()).isEmpty());
}

void TestContactEditor::storeFailureKeepsTheTyping_data()
{
    QTest::addColumn<bool>("addMode");
    QTest::newRow("add") << true;
    QTest::newRow("modify") << false;
}

void TestContactEditor::storeFailureKeepsTheTyping()
{
    QFETCH(bool, addMode);
    const ContactList stored = m_bed->addGroup(QStringLiteral("客户"), {"13958700001"});
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    if (addMode)
        m_editor->openForAdd(QStringLiteral("客户"));
    else
        m_editor->openForModify(QStringLiteral("客户"), stored.first());
    box(0)->setText(QStringLiteral("13958700009"));
    box(1)->setText(QStringLiteral("王五"));
    WriteFault fault(m_bed->database().handle());
    QVERIFY(fault.isInstalled());
    fault.failNthRow(1);
    save();

    QVERIFY(MessageBox::lastText().startsWith(QStringLiteral("保存失败")));
    QVERIFY(m_editor->isVisible());
    QCOMPARE(box(0)->text(), QStringLiteral("13958700009"));
    QCOMPARE(box(1)->text(), QStringLiteral("王五"));
    QCOMPARE(saved.count(), 0);
    QCOMPARE(m_bed->contacts(QStringLiteral("客户")), stored);

    save(); // the store works again: the same typing goes through
    QVERIFY(!m_editor->isVisible());
    QCOMPARE(saved.count(), 1);
    QVERIFY(m_bed->store().contactKeyExists(QStringLiteral("客户"), QStringLiteral("13958700009")));
}

void TestContactEditor::overLongTextsAreNamedAndKept_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("addMode");
    QTest::addColumn<QString>("message"); // empty: stored as typed

    const QString group = QStringLiteral("客户");
    QTest::newRow("name 60, add") << group << 1 << QString(60, QChar(0x540d)) << true
                                  << "姓名最多 50 个字，现在有 60 个字。";
    QTest::newRow("name 60, modify") << group << 1 << QString(60, QChar(0x540d)) << false
                                     << "姓名最多 50 个字，现在有 60 个字。";
    QTest::newRow("salutation 51") << group << 2 << QString(51, QLatin1Char('s')) << true
                                   << "称呼最多 50 个字，现在有 51 个字。";
    QTest::newRow("remark 101") << group << 3 << QString(101, QLatin1Char('r')) << true
                                << "备注最多 100 个字，现在有 101 个字。";
    QTest::newRow("remark 100") << group << 3 << QString(100, QLatin1Char('r')) << true << "";
    QTest::newRow("name 50 outside the BMP")
        << group << 1 << QString::fromUcs4(std::u32string(50, U'\U00020000').data(), 50) << true << "";
    // A group named before names were limited to 39 characters.
    QTest::newRow("group 45") << QString(45, QChar(0x7ec4)) << 1 << QStringLiteral("张三") << true
                              << "分组名称与手机号合计最多 50 个字，现在有 56 个字。";
}

void TestContactEditor::overLongTextsAreNamedAndKept()
{
    QFETCH(QString, group);
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(bool, addMode);
    QFETCH(QString, message);
    const ContactList stored = m_bed->addGroup(group, {"13958700001"});
    QVERIFY(m_bed->groups().contains(group));
    QSignalSpy saved(m_editor, &ContactEditor::contactSaved);
    if (addMode)
        m_editor->openForAdd(group);
    else
        m_editor->openForModify(group, stored.value(0));
    box(0)->setText(QStringLiteral("13958700009"));
    box(field)->setText(text); // as a paste: nothing is cut on the way in
    save();

    if (!message.isEmpty()) {
        QCOMPARE(MessageBox::lastText(), message);
        QVERIFY(m_editor->isVisible());
        QCOMPARE(box(field)->text(), text);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(m_bed->contacts(group), stored);
        return;
    }
    QCOMPARE(MessageBox::shownCount(), 0);
    QCOMPARE(saved.count(), 1);
    const Contact written = m_bed->contacts(group).last();
    QCOMPARE(field == 3 ? written.remark() : written.name(), text);
}

void TestContactEditor::enterWalksTheFocus()
{
    m_editor->openForAdd(QStringLiteral("客户"));
    QVERIFY(QTest::qWaitForWindowActive(m_editor));
    box(0)->setFocus();
    type({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")});
    QSignalSpy returnPressed(box(3), &QLineEdit::returnPressed);

    const QStringList walk{"Text1_1", "Text1_2", "Text1_3", "Command1"};
    for (int i = 0; i < walk.size(); ++i) {
        // Alternate the main and the keypad Enter.
        const bool keypad = i % 2;
        QTest::keyClick(QApplication::focusWidget(), keypad ? Qt::Key_Enter : Qt::Key_Return,
                        keypad ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), walk.at(i));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command2"));

    QCOMPARE(returnPressed.count(), 0);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(box(i)->text(), QString::number(i + 1));
    QVERIFY(m_editor->isVisible());
    QCOMPARE(MessageBox::shownCount(), 0);
}

void TestContactEditor::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("expected"); // pixels, 15 twips each, in the parent

    QTest::newRow("Frame1") << "Frame1" << QRect(8, 0, 257, 141);
    QTest::newRow("Label1_0") << "Label1_0" << QRect(12, 24, 36, 12);
    QTest::newRow("Label1_3") << "Label1_3" << QRect(12, 108, 36, 12);
    QTest::newRow("Text1_0") << "Text1_0" << QRect(56, 20, 189, 23);
    QTest::newRow("Text1_1") << "Text1_1" << QRect(56, 48, 189, 23);
    QTest::newRow("Text1_2") << "Text1_2" << QRect(56, 76, 189, 23);
    QTest::newRow("Text1_3") << "Text1_3" << QRect(56, 104, 189, 23);
    QTest::newRow("Command1") << "Command1" << QRect(156, 148, 53, 21);
    QTest::newRow("Command2") << "Command2" << QRect(212, 148, 53, 21);
}

void TestContactEditor::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, expected);
    QCOMPARE(m_editor->size(), QSize(272, 177));
    QCOMPARE(m_editor->minimumSize(), m_editor->maximumSize());
    QWidget *widget = DialogTestBed::child<QWidget>(m_editor, name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), expected);
}

void TestContactEditor::centredOnOwnerWhenOpenedAfresh()
{
    const QPoint ownerCentre = m_bed->owner().frameGeometry().center();
    m_editor->openForAdd(QStringLiteral("客户"));
    QVERIFY(qAbs(m_editor->frameGeometry().center().x() - ownerCentre.x()) <= 1);
    QVERIFY(qAbs(m_editor->frameGeometry().center().y() - ownerCentre.y()) <= 1);

    m_editor->move(10, 10);
    const QPoint moved = m_editor->pos();
    m_editor->openForAdd(QStringLiteral("客户")); // still open: stays where it is
    QCOMPARE(m_editor->pos(), moved);

    m_editor->close();
    m_editor->openForAdd(QStringLiteral("客户"));
    QVERIFY(qAbs(m_editor->frameGeometry().center().x() - ownerCentre.x()) <= 1);
}

QTEST_MAIN(TestContactEditor)
#include "test_contacteditor.moc"
