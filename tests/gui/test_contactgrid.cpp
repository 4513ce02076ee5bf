#include "contactgrid.h"
#include "contactlistmodel.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {

ContactList makeContacts(int count)
{
    ContactList contacts;
    for (int i = 0; i < count; ++i) {
        Contact contact;
        contact.rowId = i + 1;
        contact.mobile = QString::number(13958700000LL + i);
        contact.name = QStringLiteral("联系人%1").arg(i);
        contacts.append(contact);
    }
    return contacts;
}

} // namespace

class TestContactGrid : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void scrollRangeFollowsListLength_data();
    void scrollRangeFollowsListLength();
    void lastContactShownInLastRowAtEnd();
    void tickCellTogglesContactUnderIt();
    void clickBelowShortListDoesNothing();
    void selectionHighlightMovesWithContact();
    void stripesBelongToPositions();
    void reloadResetsSelectionScrollAndTicks();
    void keyboardMovesSelectionAndTicks();
    void modelFindsAndEditsEntriesByIdentity();
    void rowGeometryMatchesLayout();

private:
    void clickCanvas(const QPoint &point);

    ContactListModel *m_model = nullptr;
    ContactGrid *m_grid = nullptr;
};

void TestContactGrid::init()
{
    m_model = new ContactListModel;
    m_grid = new ContactGrid(*m_model);
    m_grid->resize(449, 500);
    m_grid->show();
}

void TestContactGrid::cleanup()
{
    delete m_grid;
    delete m_model;
}

void TestContactGrid::clickCanvas(const QPoint &point)
{
    QTest::mouseClick(m_grid->canvas(), Qt::LeftButton, {}, point);
}

void TestContactGrid::scrollRangeFollowsListLength_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("filledRows");
    QTest::newRow("empty") << 0 << false << 0 << 0;
    QTest::newRow("five") << 5 << false << 0 << 5;
    QTest::newRow("exactly a page") << 23 << false << 0 << 23;
    QTest::newRow("one more than a page") << 24 << true << 1 << 23;
    QTest::newRow("forty") << 40 << true << 17 << 23;
}

void TestContactGrid::scrollRangeFollowsListLength()
{
    QFETCH(int, count);
    QFETCH(bool, enabled);
    QFETCH(int, maximum);
    QFETCH(int, filledRows);
    m_model->replaceAll(makeContacts(count));
    QScrollBar *bar = m_grid->findChild<QScrollBar *>(QStringLiteral("VS1"));
    QVERIFY(bar);
    QCOMPARE(bar->isEnabled(), enabled);
    QCOMPARE(bar->maximum(), maximum);
    QCOMPARE(bar->value(), 0);
    for (int row = 0; row < ContactGrid::ShownRows; ++row) {
        QCOMPARE(m_grid->isTickCellVisible(row), row < filledRows);
        QCOMPARE(m_grid->contactAtRow(row), row < filledRows ? row : -1);
    }
}

void TestContactGrid::lastContactShownInLastRowAtEnd()
{
    m_model->replaceAll(makeContacts(24));
    m_grid->setScrollValue(1);
    QCOMPARE(m_grid->contactAtRow(0), 1);
    QCOMPARE(m_grid->contactAtRow(22), 23);
    m_grid->setScrollValue(5); // beyond the range: clamped
    QCOMPARE(m_grid->scrollValue(), 1);
}

void TestContactGrid::tickCellTogglesContactUnderIt()
{
    m_model->replaceAll(makeContacts(40));
    QSignalSpy ticks(m_model, &ContactListModel::tickChanged);
    m_grid->setScrollValue(10);
    clickCanvas(m_grid->tickCellRect(2).center());
    QCOMPARE(ticks.count(), 1);
    QVERIFY(!m_model->at(12).ticked);
    for (qsizetype i = 0; i < m_model->size(); ++i)
        QCOMPARE(m_model->at(i).ticked, i != 12);
    QCOMPARE(m_grid->selectedIndex(), -1); // ticking does not select
    clickCanvas(m_grid->tickCellRect(2).center());
    QVERIFY(m_model->at(12).ticked);
}

void TestContactGrid::clickBelowShortListDoesNothing()
{
    m_model->replaceAll(makeContacts(5));
    QSignalSpy ticks(m_model, &ContactListModel::tickChanged);
    clickCanvas(m_grid->stripeRect(7).center());
    clickCanvas(m_grid->tickCellRect(7).center());
    QCOMPARE(m_grid->selectedIndex(), -1);
    QCOMPARE(ticks.count(), 0);
    QCOMPARE(m_grid->rowColour(7), ContactGrid::stripeColour(7));

    m_model->clear();
    clickCanvas(m_grid->stripeRect(0).center());
    QCOMPARE(m_grid->selectedIndex(), -1);
}

void TestContactGrid::selectionHighlightMovesWithContact()
{
    const QColor cyan(0, 255, 255);
    m_model->replaceAll(makeContacts(40));
    clickCanvas(m_grid->cellRect(5, 2).center());
    QCOMPARE(m_grid->selectedIndex(), 5);
    QCOMPARE(m_grid->rowColour(5), cyan);

    m_grid->setScrollValue(3);
    QCOMPARE(m_grid->selectedIndex(), 5);
    QCOMPARE(m_grid->rowColour(2), cyan);
    QCOMPARE(m_grid->rowColour(5), ContactGrid::stripeColour(5));

    m_grid->setScrollValue(10); // the selected contact is above the shown rows
    for (int row = 0; row < ContactGrid::ShownRows; ++row)
        QVERIFY(m_grid->rowColour(row) != cyan);
    QCOMPARE(m_grid->selectedIndex(), 5);
}

void TestContactGrid::stripesBelongToPositions()
{
    m_model->replaceAll(makeContacts(40));
    m_grid->setScrollValue(1);
    for (int row = 0; row < ContactGrid::ShownRows; ++row)
        QCOMPARE(m_grid->rowColour(row), row % 2 == 0 ? QColor(249, 248, 245) : QColor(Qt::white));
}

void TestContactGrid::reloadResetsSelectionScrollAndTicks()
{
    m_model->replaceAll(makeContacts(40));
    m_grid->setScrollValue(10);
    m_grid->selectShownRow(3);
    m_model->setTicked(4, false);
    m_model->replaceAll(m_model->contacts());
    QCOMPARE(m_grid->scrollValue(), 0);
    QCOMPARE(m_grid->selectedIndex(), -1);
    QCOMPARE(m_model->tickedContacts().size(), 40);
}

void TestContactGrid::keyboardMovesSelectionAndTicks()
{
    m_model->replaceAll(makeContacts(40));
    m_grid->setFocus();
    QTest::keyClick(m_grid, Qt::Key_Down);
    QCOMPARE(m_grid->selectedIndex(), 0);
    QTest::keyClick(m_grid, Qt::Key_PageDown);
    QCOMPARE(m_grid->selectedIndex(), 23);
    QVERIFY(m_grid->contactAtRow(22) == 23); // scrolled so the selection is visible
    QTest::keyClick(m_grid, Qt::Key_Space);
    QVERIFY(!m_model->at(23).ticked);
}

void TestContactGrid::modelFindsAndEditsEntriesByIdentity()
{
    ContactList contacts = makeContacts(3);
    contacts[1].rowId = -7;
    m_model->replaceAll(contacts);
    QCOMPARE(m_model->indexOfId(-7), 1);
    Contact edited = contacts[1];
    edited.name = QStringLiteral("改名");
    QVERIFY(m_model->replaceEntry(edited));
    QCOMPARE(m_model->at(1).name, QStringLiteral("改名"));
    QVERIFY(m_model->removeEntry(-7));
    QCOMPARE(m_model->size(), 2);
    QCOMPARE(m_model->indexOfId(3), 1);
    QVERIFY(!m_model->removeEntry(-7));
}

void TestContactGrid::rowGeometryMatchesLayout()
{
    // Twips: stripes from 240, then every 315; tick cells at 300 + 315 * row.
    QCOMPARE(m_grid->stripeRect(0).top(), 16);
    QCOMPARE(m_grid->stripeRect(1).top(), 36);
    QCOMPARE(m_grid->stripeRect(22).top(), 477);
    QCOMPARE(m_grid->tickCellRect(22).top(), 482);
    QCOMPARE(m_grid->tickCellRect(0).size(), QSize(11, 11));
    QScrollBar *bar = m_grid->scrollBar();
    QCOMPARE(bar->geometry().right() + 1, m_grid->width() - 4); // 60 twips inside the edge
}

QTEST_MAIN(TestContactGrid)
#include "test_contactgrid.moc"
