#include "core/textrules.h"
#include "mainwindow/recipientlistbox.h"
#include "model/documentlines.h"
#include "model/recipientlines.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

namespace {

QString numberedLines(int count, int skip = -1, const QString &lineBreak = QStringLiteral("\r\n"))
{
    QString text;
    for (int i = 0; i < count; ++i) {
        if (i != skip)
            text += QStringLiteral("139%1@联系人%2").arg(i, 8, 10, QLatin1Char('0')).arg(i) + lineBreak;
    }
    return text;
}

// Lines first to last - 1 as numberedLines() numbers them.
QString linesFrom(int first, int last)
{
    QString text;
    for (int i = first; i < last; ++i)
        text += QStringLiteral("139%1@联系人%2\r\n").arg(i, 8, 10, QLatin1Char('0')).arg(i);
    return text;
}

QString withLf(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

} // namespace

class TestRecipientListBox : public QObject
{
    Q_OBJECT

private slots:
    void showsEveryLine_data();
    void showsEveryLine();
    void keepsFewParagraphsForManyLines();
    void changesOnlyAroundAnEditedLine();
    void replacesTextEditedByHand();
    void undoesOnlyTheUsersTyping();
    void overlongLineIsShownCutAndGivenBackWhole_data();
    void overlongLineIsShownCutAndGivenBackWhole();
    void longListGoesInWhileTheWindowAnswers_data();
    void longListGoesInWhileTheWindowAnswers();
    void changeDuringTheFillCountsTheWholeList_data();
    void changeDuringTheFillCountsTheWholeList();
};

void TestRecipientListBox::showsEveryLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("one line") << QStringLiteral("13958700001@张三先生\r\n");
    QTest::newRow("CR LF lines") << numberedLines(300);
    QTest::newRow("LF lines") << numberedLines(300, -1, QStringLiteral("\n"));
    QTest::newRow("CR lines") << numberedLines(40, -1, QStringLiteral("\r"));
    QTest::newRow("no final break") << QStringLiteral("a\r\nb");
    QTest::newRow("equal lines") << QStringLiteral("13958700001\r\n").repeated(500);
    // Laid out in time linear in its length, not quadratic (that took hours).
    QTest::newRow("a name of megabytes without a break")
        << QStringLiteral("13958700001@") + QString(2 << 20, QLatin1Char('a')) + QStringLiteral("\r\nb");
}

void TestRecipientListBox::showsEveryLine()
{
    QFETCH(QString, text);
    RecipientListBox box;
    box.resize(285, 370); // shown: the lines are laid out, wrapped at the box's width
    box.show();
    box.replaceText(text);
    QCOMPARE(box.toPlainText(), withLf(text));
    // The same line ticked on its own.
    box.replaceText(QString());
    box.replaceRange(0, 0, DocumentLines::documentTextFor(text));
    QCOMPARE(box.toPlainText(), withLf(text));
    box.replaceText(QString());
    QCOMPARE(box.toPlainText(), QString());
}

void TestRecipientListBox::keepsFewParagraphsForManyLines()
{
    RecipientListBox box;
    box.replaceText(numberedLines(10000));
    QVERIFY2(box.document()->blockCount() < 10000 / 8,
             qPrintable(QString::number(box.document()->blockCount())));
    box.replaceText(QStringLiteral("x\r\n").repeated(1000));
    QVERIFY(box.document()->blockCount() >= 1000 / 128);
}

void TestRecipientListBox::changesOnlyAroundAnEditedLine()
{
    ContactList contacts;
    for (int i = 0; i < 5000; ++i)
        contacts << TestSupport::makeContact(QStringLiteral("139%1").arg(i, 8, 10, QLatin1Char('0')),
                                             QStringLiteral("联系人%1").arg(i));
    RecipientLines lines;
    RecipientListBox box;
    box.replaceDocumentText(lines.build(contacts, false));
    QSignalSpy changes(box.document(), &QTextDocument::contentsChange);
    contacts[2500].ticked = false;
    box.replaceDocumentText(lines.build(contacts, false));
    QCOMPARE(box.toPlainText(), withLf(numberedLines(5000, 2500)));
    QCOMPARE(changes.count(), 1);
    const int removed = changes.first().at(1).toInt();
    const int added = changes.first().at(2).toInt();
    QVERIFY2(removed + added < 100, qPrintable(QStringLiteral("%1 %2").arg(removed).arg(added)));

    changes.clear();
    box.replaceDocumentText(lines.build(contacts, false)); // the same list again
    QCOMPARE(changes.count(), 0);
}

void TestRecipientListBox::replacesTextEditedByHand()
{
    RecipientListBox box;
    box.replaceText(numberedLines(100));
    box.moveCursor(QTextCursor::End);
    TestSupport::typeText(&box, QStringLiteral("13900000000@手写"));
    QVERIFY(box.toPlainText().endsWith(QStringLiteral("13900000000@手写")));
    box.replaceText(numberedLines(99));
    QCOMPARE(box.toPlainText(), withLf(numberedLines(99)));
}

void TestRecipientListBox::undoesOnlyTheUsersTyping()
{
    RecipientListBox box;
    box.replaceText(numberedLines(3));
    box.replaceText(numberedLines(5));
    QVERIFY(!box.document()->isUndoAvailable());
    box.moveCursor(QTextCursor::End);
    TestSupport::typeText(&box, QStringLiteral("手写"));
    QVERIFY(box.isEditedByHand());
    QVERIFY(box.document()->isUndoAvailable());
    while (box.document()->isUndoAvailable())
        box.undo();
    QCOMPARE(box.toPlainText(), withLf(numberedLines(5)));
    QVERIFY(!box.isEditedByHand());
}

void TestRecipientListBox::overlongLineIsShownCutAndGivenBackWhole_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("byTick"); // else by building the whole list
    const QString unbroken(3 << 20, QLatin1Char('a'));
    QTest::newRow("megabytes without a break") << unbroken << false;
    QTest::newRow("with a line feed early in it") << QStringLiteral("第一行\n") + unbroken << false;
    QTest::newRow("ticked on its own") << unbroken << true;
}

// What the box shows stays small; the phone file (written from the box
// after a hand edit) still gets the whole line.
void TestRecipientListBox::overlongLineIsShownCutAndGivenBackWhole()
{
    QFETCH(QString, name);
    QFETCH(bool, byTick);
    ContactList contacts{TestSupport::makeContact(QStringLiteral("13958700001"), QStringLiteral("张三")),
                         TestSupport::makeContact(QStringLiteral("13958700002"), name, {}, {}, !byTick),
                         TestSupport::makeContact(QStringLiteral("13958700003"), QStringLiteral("李四"))};
    RecipientLines lines;
    RecipientListBox box;
    box.resize(285, 370);
    box.show();
    box.replaceDocumentText(lines.build(contacts, false));
    if (byTick) {
        contacts[1].ticked = true;
        const auto change = lines.changeForTick(contacts, 1);
        QVERIFY(change);
        box.replaceRange(change->position, change->removed, change->inserted);
    }
    QCOMPARE(lines.count(), 3);
    QVERIFY2(box.document()->characterCount() < 3 * RecipientLines::LongestShownLine,
             qPrintable(QString::number(box.document()->characterCount())));

    box.moveCursor(QTextCursor::End);
    TestSupport::typeText(&box, QStringLiteral("13900000000@手写"));
    const QString expected = TextRules::buildRecipientList(contacts, false, u"\n").text
                             + QStringLiteral("13900000000@手写");
    QCOMPARE(lines.wholeText(contacts, box.toPlainText()), expected);
}

void TestRecipientListBox::longListGoesInWhileTheWindowAnswers_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    const QString big = linesFrom(0, 100000);
    QTest::newRow("into an empty box") << QString() << big;
    QTest::newRow("over another long list") << linesFrom(200000, 300000) << big;
    QTest::newRow("between lines that stay") << linesFrom(0, 10) + linesFrom(99990, 100000) << big;
}

void TestRecipientListBox::longListGoesInWhileTheWindowAnswers()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    RecipientListBox box;
    box.resize(285, 370);
    box.show();
    box.replaceText(before);
    box.finishFilling();
    box.replaceText(after);
    // Handed back to the event loop with part of it still to come, and not
    // to be typed into meanwhile.
    QVERIFY(box.isFilling());
    QVERIFY(box.isReadOnly());
    QTRY_VERIFY(!box.isFilling());
    QCOMPARE(box.document()->toRawText(), DocumentLines::documentTextFor(after));
    QVERIFY(!box.isReadOnly());
    QVERIFY(!box.isEditedByHand());
    QVERIFY(!box.document()->isUndoAvailable());
}

void TestRecipientListBox::changeDuringTheFillCountsTheWholeList_data()
{
    QTest::addColumn<bool>("newList");
    QTest::newRow("one line ticked off near the end") << false;
    QTest::newRow("another list") << true;
}

void TestRecipientListBox::changeDuringTheFillCountsTheWholeList()
{
    QFETCH(bool, newList);
    const QString big = DocumentLines::documentTextFor(linesFrom(0, 100000));
    RecipientListBox box;
    box.show();
    box.replaceDocumentText(big);
    QVERIFY(box.isFilling());
    QString expected;
    if (newList) {
        expected = DocumentLines::documentTextFor(linesFrom(0, 3));
        box.replaceDocumentText(expected);
    } else {
        const qsizetype position = DocumentLines::documentTextFor(linesFrom(0, 90000)).size();
        const qsizetype length = linesFrom(90000, 90001).size() - 1; // CR LF is one break
        expected = QString(big).remove(position, length);
        box.replaceRange(position, length, QString());
    }
    QCOMPARE(box.document()->toRawText(), expected);
    QVERIFY(!box.isFilling());
    QVERIFY(!box.isReadOnly());
    QTest::qWait(20); // no slice of the old list comes late
    QCOMPARE(box.document()->toRawText(), expected);
}

QTEST_MAIN(TestRecipientListBox)
#include "test_recipientlistbox.moc"
