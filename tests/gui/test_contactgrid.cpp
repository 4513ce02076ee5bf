#include "gui/referencegrid.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/contacttableview.h"
#include "model/contactlistmodel.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QDir>
#include <QHBoxLayout>
#include <QPointer>
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
        contact.setMobile(QString::number(13958700000LL + i));
        contact.setName(QStringLiteral("联系人%1").arg(i));
        // Texts that fill, overflow or miss their cells.
        contact.setSalutation(i % 3 == 0 ? QString() : QStringLiteral("先生"));
        contact.setRemark(i % 4 == 0 ? QStringLiteral("很长的备注信息会被单元格截断而不会画到旁边去") : QString());
        contacts.append(contact);
    }
    return contacts;
}

// Where two pictures differ: the bounding box and the first pixel.
QString differences(const QImage &expected, const QImage &actual)
{
    if (expected.size() != actual.size())
        return QStringLiteral("size");
    QRect box;
    QString first;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.pixel(x, y) == actual.pixel(x, y))
                continue;
            if (first.isEmpty())
                first = QStringLiteral("(%1,%2) %3 instead of %4")
                            .arg(x)
                            .arg(y)
                            .arg(QColor(actual.pixel(x, y)).name(), QColor(expected.pixel(x, y)).name());
            box |= QRect(x, y, 1, 1);
        }
    }
    return QStringLiteral("%1,%2 %3x%4, first %5")
        .arg(box.x())
        .arg(box.y())
        .arg(box.width())
        .arg(box.height())
        .arg(first);
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
    void selectionStaysWithContactWhileScrolling();
    void reloadResetsSelectionScrollAndTicks();
    void keyboardAndWheelMoveSelectionScrollAndTick();
    void modelFindsAndEditsEntriesByIdentity();
    void looksLikeThePaintedGrid_data();
    void looksLikeThePaintedGrid();
    void rowsAndCellsReachAssistiveTechnology();

private:
    void clickCanvas(const QPoint &point);

    ContactListModel *m_model = nullptr;
    // Fails a test whose clicks and keys change the model without the signals views rely on.
    std::unique_ptr<QAbstractItemModelTester> m_modelTester;
    QPointer<ContactGrid> m_grid;
};

void TestContactGrid::init()
{
    m_model = new ContactListModel;
    m_modelTester = std::make_unique<QAbstractItemModelTester>(
        m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_grid = new ContactGrid(*m_model);
    m_grid->resize(449, 500);
    m_grid->show();
}

void TestContactGrid::cleanup()
{
    delete m_grid;
    m_modelTester.reset();
    delete m_model;
}

void TestContactGrid::clickCanvas(const QPoint &point)
{
    QTest::mouseClick(m_grid->rowArea(), Qt::LeftButton, {}, point);
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
    for (int row = 0; row < ContactGrid::ShownRows; ++row)
        QCOMPARE(m_grid->contactAtRow(row), row < filledRows ? row : -1);
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
    clickCanvas(m_grid->cellRect(7, 2).center());
    clickCanvas(m_grid->tickCellRect(7).center());
    QCOMPARE(m_grid->selectedIndex(), -1);
    QCOMPARE(ticks.count(), 0);

    m_model->clear();
    clickCanvas(m_grid->cellRect(0, 2).center());
    QCOMPARE(m_grid->selectedIndex(), -1);
}

void TestContactGrid::selectionStaysWithContactWhileScrolling()
{
    m_model->replaceAll(makeContacts(40));
    clickCanvas(m_grid->cellRect(5, 2).center());
    QCOMPARE(m_grid->selectedIndex(), 5);
    m_grid->setScrollValue(10); // the selected contact is above the shown rows
    QCOMPARE(m_grid->selectedIndex(), 5);
    clickCanvas(m_grid->cellRect(0, 0).bottomRight()); // the tick column, beside the image
    QCOMPARE(m_grid->selectedIndex(), 10);
    QVERIFY(m_model->at(10).ticked);
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

void TestContactGrid::keyboardAndWheelMoveSelectionScrollAndTick()
{
    m_model->replaceAll(makeContacts(40));
    QWidget *table = m_grid->table();
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(m_grid->selectedIndex(), 0);
    QTest::keyClick(table, Qt::Key_PageDown);
    QCOMPARE(m_grid->selectedIndex(), 23);
    QVERIFY(m_grid->contactAtRow(22) == 23); // scrolled so the selection is visible
    QTest::keyClick(table, Qt::Key_Space);
    QVERIFY(!m_model->at(23).ticked);
    QTest::keyClick(table, Qt::Key_End); // not a key of the grid
    QCOMPARE(m_grid->selectedIndex(), 23);

    // A notch of the wheel scrolls three rows, within the range.
    const int before = m_grid->scrollValue();
    const QPoint inside = m_grid->cellRect(3, 1).center();
    QWheelEvent notch(inside, m_grid->rowArea()->mapToGlobal(inside), {}, QPoint(0, -120),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_grid->rowArea(), &notch);
    QCOMPARE(m_grid->scrollValue(), before + 3);
    for (int i = 0; i < 10; ++i) {
        QWheelEvent again(inside, m_grid->rowArea()->mapToGlobal(inside), {}, QPoint(0, -120),
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_grid->rowArea(), &again);
    }
    QCOMPARE(m_grid->scrollValue(), 17);
}

void TestContactGrid::modelFindsAndEditsEntriesByIdentity()
{
    ContactList contacts = makeContacts(3);
    contacts[1].rowId = -7;
    m_model->replaceAll(contacts);
    QCOMPARE(m_model->indexOfId(-7), 1);
    Contact edited = contacts[1];
    edited.setName(QStringLiteral("改名"));
    QVERIFY(m_model->replaceEntry(edited));
    QCOMPARE(m_model->at(1).name(), QStringLiteral("改名"));
    QVERIFY(m_model->removeEntry(-7));
    QCOMPARE(m_model->size(), 2);
    QCOMPARE(m_model->indexOfId(3), 1);
    QVERIFY(!m_model->removeEntry(-7));
}

void TestContactGrid::looksLikeThePaintedGrid_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstShown");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QList<int>>("unticked");
    QTest::newRow("empty") << 0 << 0 << -1 << QList<int>();
    QTest::newRow("five, one selected") << 5 << 0 << 3 << QList<int>{1};
    QTest::newRow("exactly a page") << 23 << 0 << 22 << QList<int>{0, 22};
    QTest::newRow("one more, scrolled to the end") << 24 << 1 << 12 << QList<int>{23};
    QTest::newRow("one more, selection scrolled away") << 24 << 1 << 0 << QList<int>();
    QTest::newRow("100,000 in the middle") << 100000 << 54321 << 54330 << QList<int>{54321, 54330};
    QTest::newRow("100,000 at the end") << 100000 << 99977 << 99999 << QList<int>{99998};
}

void TestContactGrid::looksLikeThePaintedGrid()
{
    QFETCH(int, count);
    QFETCH(int, firstShown);
    QFETCH(int, selected);
    QFETCH(QList<int>, unticked);
    m_model->replaceAll(makeContacts(count));
    for (int index : unticked)
        m_model->setTicked(index, false);

    // Side by side in one window, so that both are drawn alike (active, same
    // palette and font).
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    ReferenceGrid *reference = new ReferenceGrid(*m_model);
    delete m_grid;
    m_grid = new ContactGrid(*m_model);
    for (QFrame *grid : {static_cast<QFrame *>(reference), static_cast<QFrame *>(m_grid)}) {
        grid->setFixedSize(449, 500);
        layout->addWidget(grid);
    }
    m_grid->setScrollValue(firstShown); // before the table has laid itself out
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    m_grid->setScrollValue(firstShown);
    if (selected >= 0) {
        // Selected by a click while shown, then scrolled to firstShown.
        m_grid->setScrollValue(selected);
        clickCanvas(m_grid->cellRect(selected - m_grid->scrollValue(), 1).center());
        m_grid->setScrollValue(firstShown);
    }
    QCOMPARE(m_grid->scrollValue(), firstShown);
    QCOMPARE(m_grid->selectedIndex(), selected);
    reference->showFrom(firstShown, selected);
    QApplication::processEvents();

    const QImage expected = reference->grab().toImage();
    const QImage actual = m_grid->grab().toImage();
    if (actual != expected) {
        const QString stem = QDir::temp().filePath(QStringLiteral("grid-%1-").arg(QTest::currentDataTag()));
        expected.save(stem + QStringLiteral("expected.png"));
        actual.save(stem + QStringLiteral("actual.png"));
        QFAIL(qPrintable(QStringLiteral("the grid differs from the painted one in %1, see %2*.png")
                             .arg(differences(expected, actual), stem)));
    }
}

void TestContactGrid::rowsAndCellsReachAssistiveTechnology()
{
    m_model->replaceAll(makeContacts(40));
    m_grid->setScrollValue(10);
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(m_grid->table());
    QVERIFY(table);
    QCOMPARE(table->role(), QAccessible::Table);
    QCOMPARE(table->text(QAccessible::Name), QStringLiteral("通讯录"));
    QAccessibleTableInterface *cells = table->tableInterface();
    QVERIFY(cells);
    QCOMPARE(cells->rowCount(), 40);
    QCOMPARE(cells->columnCount(), 5);
    QCOMPARE(table->childCount(), 40);

    QAccessibleInterface *row = table->child(12);
    QCOMPARE(row->role(), QAccessible::Row);
    QCOMPARE(table->indexOfChild(row), 12);
    QCOMPARE(row->parent(), table);
    QCOMPARE(row->childCount(), 5);
    const Contact &contact = m_model->at(12);
    QCOMPARE(row->child(1)->text(QAccessible::Name), contact.mobile());
    QCOMPARE(row->child(2)->text(QAccessible::Name), contact.name());
    QCOMPARE(row->child(3)->text(QAccessible::Name), contact.salutation());
    QCOMPARE(row->child(2)->role(), QAccessible::Cell);
    QCOMPARE(cells->cellAt(12, 2), row->child(2));
    QCOMPARE(row->child(2)->tableCellInterface()->rowIndex(), 12);
    QCOMPARE(row->child(2)->tableCellInterface()->columnIndex(), 2);
    // Shown rows have a place on the screen; rows scrolled away have none.
    QVERIFY(!row->state().offscreen);
    QCOMPARE(row->rect().topLeft(), m_grid->rowArea()->mapToGlobal(m_grid->cellRect(2, 0).topLeft()));
    QVERIFY(table->child(0)->state().offscreen);

    QAccessibleInterface *tick = row->child(0);
    QCOMPARE(tick->role(), QAccessible::CheckBox);
    QVERIFY(tick->state().checkable);
    QVERIFY(tick->state().checked);
    QAccessibleActionInterface *action = tick->actionInterface();
    QVERIFY(action);
    QVERIFY(action->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    QSignalSpy ticks(m_model, &ContactListModel::tickChanged);
    action->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(!m_model->at(12).ticked);
    QVERIFY(!tick->state().checked);
    QCOMPARE(ticks.count(), 1);
    QVERIFY(!row->child(1)->actionInterface()); // text cells tick nothing

    // Selecting through the table selects the contact, and the other way round.
    QVERIFY(cells->selectRow(14));
    QCOMPARE(m_grid->selectedIndex(), 14);
    QVERIFY(table->child(14)->state().selected);
    m_grid->selectShownRow(0);
    QCOMPARE(cells->selectedRows(), QList<int>{10});

    // A reload gives new rows with the new texts.
    ContactList three = makeContacts(3);
    three[2].setName(QStringLiteral("新名单"));
    m_model->replaceAll(three);
    QCOMPARE(table->childCount(), 3);
    QCOMPARE(table->child(2)->child(2)->text(QAccessible::Name), QStringLiteral("新名单"));
    QVERIFY(!table->child(3));
}

QTEST_MAIN(TestContactGrid)
#include "test_contactgrid.moc"
