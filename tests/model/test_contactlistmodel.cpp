#include "model/contactlistmodel.h"
#include "support/testsupport.h"

#include <QAbstractItemModelTester>
#include <QTest>

namespace {

enum class Change {
    ReplaceAll,
    Clear,
    TakeStorage,
    TickOne,
    UntickOne,
    ToggleOne,
    TickAll,
    UntickAll,
    TickThroughSetData,
    ReplaceEntry,
    RemoveEntry,
    RemoveMissingEntry,
};

ContactList storedContacts(int count)
{
    ContactList contacts;
    for (int i = 0; i < count; ++i) {
        Contact contact = TestSupport::makeContact(QStringLiteral("1395870000%1").arg(i),
                                                   QStringLiteral("姓名%1").arg(i));
        contact.rowId = i + 1;
        contacts << contact;
    }
    return contacts;
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestContactListModel : public QObject
{
    Q_OBJECT

private slots:
    void changesKeepTheModelContract_data();
    void changesKeepTheModelContract();
};

void TestContactListModel::changesKeepTheModelContract_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("replace all") << Change::ReplaceAll << 3;
    QTest::newRow("clear") << Change::Clear << 0;
    QTest::newRow("take storage") << Change::TakeStorage << 0;
    QTest::newRow("tick one") << Change::TickOne << 5;
    QTest::newRow("untick one") << Change::UntickOne << 5;
    QTest::newRow("toggle one") << Change::ToggleOne << 5;
    QTest::newRow("tick all") << Change::TickAll << 5;
    QTest::newRow("untick all") << Change::UntickAll << 5;
    QTest::newRow("tick through setData") << Change::TickThroughSetData << 5;
    QTest::newRow("replace an entry") << Change::ReplaceEntry << 5;
    QTest::newRow("remove an entry") << Change::RemoveEntry << 4;
    QTest::newRow("remove an entry that is gone") << Change::RemoveMissingEntry << 5;
}

// Views rely on the signals matching the change: the tester watches the model
// through each one and fails the test where they do not.
void TestContactListModel::changesKeepTheModelContract()
{
    QFETCH(Change, change);
    QFETCH(int, rowsAfter);
    ContactListModel model;
    model.replaceAll(storedContacts(5));
    model.setTicked(1, false);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    switch (change) {
    case Change::ReplaceAll:
        model.replaceAll(storedContacts(3));
        break;
    case Change::Clear:
        model.clear();
        break;
    case Change::TakeStorage:
        model.takeStorage();
        break;
    case Change::TickOne:
        model.setTicked(1, true);
        break;
    case Change::UntickOne:
        model.setTicked(4, false);
        break;
    case Change::ToggleOne:
        model.toggleTicked(0);
        break;
    case Change::TickAll:
        model.setAllTicked(true);
        break;
    case Change::UntickAll:
        model.setAllTicked(false);
        break;
    case Change::TickThroughSetData:
        QVERIFY(model.setData(model.index(1, ContactListModel::TickColumn), Qt::Checked,
                              Qt::CheckStateRole));
        break;
    case Change::ReplaceEntry: {
        Contact edited = TestSupport::makeContact(QStringLiteral("13958700099"), QStringLiteral("新名"));
        edited.rowId = 3;
        QVERIFY(model.replaceEntry(edited));
        break;
    }
    case Change::RemoveEntry:
        QVERIFY(model.removeEntry(5));
        break;
    case Change::RemoveMissingEntry:
        QVERIFY(!model.removeEntry(99));
        break;
    }
    QCOMPARE(model.rowCount(), rowsAfter);
}

QTEST_GUILESS_MAIN(TestContactListModel)
#include "test_contactlistmodel.moc"
