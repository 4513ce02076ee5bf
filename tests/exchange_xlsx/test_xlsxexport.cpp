#include "exchange/xlsx/xlsxpackage.h"
#include "exchange/xlsx/xlsxreader.h"
#include "exchange/xlsx/xlsxwriter.h"
#include "support/testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>


class TestXlsxExport : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void everyContactInListOrder();
    void moreRowsThanOneSheetHolds();
    void columnsFitted();
    void failureKeepsTheOlderFile_data();
    void failureKeepsTheOlderFile();

private:
    QTemporaryDir m_dir;
};

namespace {

using TestSupport::makeContact;

QStringList fields(const Contact &c)
{
    QStringList out;
    for (QStringView text : c.texts())
        out.append(text.toString());
    return out;
}

QByteArray zipEntry(const QString &path, const QString &entry)
{
    XlsxPackage package;
    QString error;
    if (!package.open(path, &error))
        return QByteArray();
    const std::unique_ptr<QIODevice> part = package.openPart(entry, qint64(1) << 30, &error);
    return part ? part->readAll() : QByteArray();
}

} // namespace

void TestXlsxExport::roundTrip_data()
{
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("chinese") << QStringList{"13958700001", "张三", "先生", "房间001号"};
    QTest::newRow("blanks kept") << QStringList{" 13958700001 ", " 王五 ", "  ", " 备注 "};
    QTest::newRow("digits stay text") << QStringList{"00123456789", "0", "1e5", "13958700001.0"};
    QTest::newRow("markup and quotes") << QStringList{"<b>", "O'Brien & \"Sons\"", "]]>", "a<b>c"};
    QTest::newRow("line breaks and tabs") << QStringList{"x", "a\nb", "c\td", "e\r\nf"};
    QTest::newRow("characters xml cannot hold") << QStringList{"x", QString(QChar(0x01)), "a\x1f" "b", ""};
    QTest::newRow("looks like an escape") << QStringList{"x", "_x0041_", "_x", "__x0042__x005F_"};
    QTest::newRow("outside the basic plane") << QStringList{"x", "𠀋𠀋", "😀", ""};
    QTest::newRow("255-character remark") << QStringList{"x", "", "", QString(255, QChar(u'备'))};
    QTest::newRow("all empty but the mobile") << QStringList{"13958700001", "", "", ""};
}

void TestXlsxExport::roundTrip()
{
    QFETCH(QStringList, texts);
    const QString path = m_dir.filePath(QStringLiteral("round.xlsx"));
    const ContactList contacts{makeContact(texts[0], texts[1], texts[2], texts[3])};
    QString error;
    QVERIFY2(writeXlsx(path, contacts, &error), qPrintable(error));
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = XlsxReader().readFirstSheet(path, 4, &sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet, QVector<QStringList>{texts});
}

// Unticked contacts are written too, in list order, from row 1, no heading.
void TestXlsxExport::everyContactInListOrder()
{
    const ContactList contacts{
        makeContact("13958700001", "张三", "先生", "房间001号"),
        makeContact("13958700002", "李四", "女士", "房间002号", false),
        makeContact("13958700001", "张三", "先生", "再次出现"),
    };
    const QString path = m_dir.filePath(QStringLiteral("客户.xlsx"));
    QString error;
    QVERIFY2(writeXlsx(path, contacts, &error), qPrintable(error));
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = XlsxReader().readFirstSheet(path, 4, &sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet.size(), contacts.size());
    for (qsizetype i = 0; i < contacts.size(); ++i)
        QCOMPARE(sheet[i], fields(contacts[i]));

    const ContactList none;
    QVERIFY2(writeXlsx(path, none, &error), qPrintable(error));
    QVector<QStringList> empty;
    QString emptyError;
    const bool emptyOk = XlsxReader().readFirstSheet(path, 4, &empty, &emptyError);
    QVERIFY(emptyOk);
    QVERIFY(empty.isEmpty());
}

// More than an .xls sheet holds stay on one sheet; beyond the .xlsx limit
// the rest goes to a second sheet.
void TestXlsxExport::moreRowsThanOneSheetHolds()
{
    constexpr qsizetype sheetRows = 1048576;
    ContactList contacts;
    contacts.reserve(sheetRows + 2);
    for (qsizetype i = 0; i < sheetRows + 2; ++i)
        contacts.append(makeContact(QString::number(13900000000 + i), QString(), QString(), QString()));
    contacts.last().setName(QStringLiteral("最后"));

    const QString path = m_dir.filePath(QStringLiteral("many.xlsx"));
    QString error;
    QVERIFY2(writeXlsx(path, contacts, &error), qPrintable(error));
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = XlsxReader().readFirstSheet(path, 4, &sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet.size(), sheetRows);
    for (qsizetype i : {qsizetype(0), qsizetype(65535), qsizetype(65536), qsizetype(70000), sheetRows - 1})
        QCOMPARE(sheet[i].first(), contacts[i].mobile());

    const QString second = QString::fromUtf8(zipEntry(path, QStringLiteral("xl/worksheets/sheet2.xml")));
    QVERIFY(second.contains(QStringLiteral("13901048577")));
    QVERIFY(second.contains(QStringLiteral("最后")));
    QVERIFY(!second.contains(QStringLiteral("13901048575")));
}

// A CJK character counts as two units; a column without text keeps the
// default width.
void TestXlsxExport::columnsFitted()
{
    const ContactList contacts{makeContact("13958700001", "张三", "先生", QString()),
                               makeContact("1", "欧阳小明", "Mr", QString())};
    const QString path = m_dir.filePath(QStringLiteral("widths.xlsx"));
    QString error;
    QVERIFY2(writeXlsx(path, contacts, &error), qPrintable(error));
    const QString sheet = QString::fromUtf8(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    QMap<int, double> widths;
    const QRegularExpression col(QStringLiteral("<col min=\"(\\d+)\" max=\"\\1\" width=\"([0-9.]+)\""));
    for (const QRegularExpressionMatch &m : col.globalMatch(sheet))
        widths.insert(m.captured(1).toInt(), m.captured(2).toDouble());
    QCOMPARE(widths.keys(), QList<int>({1, 2, 3}));
    // Excel adds the cell padding to a width in characters.
    QVERIFY(widths[1] > 11 && widths[1] < 14);
    QVERIFY(widths[2] > 8 && widths[2] < 11);
    QVERIFY(widths[3] > 4 && widths[3] < 7);
}

void TestXlsxExport::failureKeepsTheOlderFile_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<ContactList>("contacts");

    QTest::newRow("folder missing") << QStringLiteral("missing/deeper")
                                    << ContactList{makeContact("13958700001", "张三", "先生", "")};
    QTest::newRow("cell too long") << QString()
                                   << ContactList{makeContact("13958700001", "张三", "先生", ""),
                                                  makeContact("x", QString(40000, u'a'), "", "")};
}

// A failed export says why, leaves no partial file and keeps an older file.
void TestXlsxExport::failureKeepsTheOlderFile()
{
    QFETCH(QString, folder);
    QFETCH(ContactList, contacts);
    QTemporaryDir dir;
    const QString path = dir.filePath(folder.isEmpty() ? QStringLiteral("名单.xlsx")
                                                       : folder + QStringLiteral("/名单.xlsx"));
    const QByteArray older("older content");
    if (folder.isEmpty())
        QVERIFY(TestSupport::writeAll(path, older));

    QString error;
    QVERIFY(!writeXlsx(path, contacts, &error));
    QVERIFY(!error.isEmpty());
    if (folder.isEmpty())
        QCOMPARE(TestSupport::readAll(path), older);
    else
        QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), folder.isEmpty() ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestXlsxExport)
#include "test_xlsxexport.moc"
