#include "exchange/contactimport.h"
#include "exchange/xls/xlswriter.h"
#include "exchange/xlsx/xlsxwriter.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <freexl.h>

class TestXlsExport : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void loneSurrogatesWrittenAsQuestionMarks_data();
    void loneSurrogatesWrittenAsQuestionMarks();
    void everyContactWrittenAsHeld();
    void xlrdReadsTheSameCells();
    void moreThanOneSheet();
    void failedWriteLeavesNothing();
    void existingFileSurvivesFailedWrite();
};

namespace {

using TestSupport::makeContact;

// What python3-xlrd sees: per sheet its name, the text of A..D per row, the
// cell types met and the widths of A..D (0 without COLINFO).
const char xlrdScript[] = R"(
import sys, json, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = []
for sh in book.sheets():
    rows, types = [], set()
    for r in range(sh.nrows):
        row = []
        for c in range(4):
            cell = sh.cell(r, c) if c < sh.ncols else None
            if cell is not None and cell.ctype != xlrd.XL_CELL_EMPTY:
                types.add(cell.ctype)
            row.append(cell.value if cell is not None and cell.ctype == xlrd.XL_CELL_TEXT else '')
        rows.append(row)
    widths = [sh.colinfo_map[c].width if c in sh.colinfo_map else 0 for c in range(4)]
    out.append({'name': sh.name, 'rows': rows, 'types': sorted(types), 'widths': widths})
print(json.dumps(out))
)";

// Runs xlrd on path; skips the test when python3-xlrd is not installed.
QJsonArray readWithXlrd(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(xlrdScript), path});
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        const QByteArray err = python.readAllStandardError();
        if (err.contains("No module named") || python.error() == QProcess::FailedToStart)
            return QJsonArray();
        qWarning() << err;
        return QJsonArray{QStringLiteral("xlrd failed")};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

bool xlrdAvailable()
{
    return QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import xlrd")}) == 0;
}

QStringList fields(const Contact &c)
{
    QStringList out;
    for (QStringView text : c.texts())
        out.append(text.toString());
    return out;
}

} // namespace

void TestXlsExport::roundTrip_data()
{
    QTest::addColumn<Contact>("written");

    const QString chinese255 = QStringLiteral("备注很长").repeated(64).left(255);
    QTest::newRow("chinese") << makeContact("13958700001", "张三", "先生", "房间001号");
    QTest::newRow("blanks kept") << makeContact("13958700002", " 王五 ", "女士", "  两端空格  ");
    QTest::newRow("apostrophes") << makeContact("13958700003", "O'Brien", "Mr", "it's 'quoted'");
    QTest::newRow("digits only") << makeContact("13958700004", "007", "1", "0001");
    QTest::newRow("255 characters") << makeContact("13958700005", "长", "", chinese255);
    QTest::newRow("255 latin") << makeContact("13958700006", "a", "", QString(255, u'x'));
    QTest::newRow("empty fields") << makeContact("13958700007", "", "", "");
    QTest::newRow("line break and at") << makeContact("13958700008", "张\n三", "", "a@@b");
    QTest::newRow("latin-1 and emoji") << makeContact("13958700009", "Zoë", "", QStringLiteral("笑😀"));
}

void TestXlsExport::roundTrip()
{
    QFETCH(Contact, written);
    QTemporaryDir dir;
    const QString path = dir.filePath("客户.xls");

    // Surround the contact by enough others that the strings cross CONTINUE
    // records of the string table.
    ContactList contacts;
    for (int i = 0; i < 300; ++i)
        contacts.append(makeContact(QString::number(15000000000LL + i), QStringLiteral("客户%1").arg(i), "",
                                QStringLiteral("很长的备注").repeated(20) + QString::number(i)));
    contacts.insert(150, written);

    QString error;
    QVERIFY2(writeXls(path, contacts, &error), qPrintable(error));
    ContactList imported;
    QVERIFY2(importContacts(path, &imported, &error), qPrintable(error));
    QCOMPARE(imported.size(), contacts.size());
    QCOMPARE(fields(imported.at(150)), fields(written));
    QCOMPARE(fields(imported.last()), fields(contacts.last()));
}

void TestXlsExport::loneSurrogatesWrittenAsQuestionMarks_data()
{
    QTest::addColumn<QString>("extension");
    QTest::newRow("xls") << "xls";
    QTest::newRow("xlsx") << "xlsx";
}

// Half of a surrogate pair is no character: both formats write "?" for it,
// and a whole pair stays as it is.
void TestXlsExport::loneSurrogatesWrittenAsQuestionMarks()
{
    QFETCH(QString, extension);
    const Contact contact = makeContact("13958700001", QStringLiteral("a") + QChar(0xD800) + u'b', "",
                                        QString(QChar(0xDC00)) + QStringLiteral("😀") + QChar(0xD83D));
    QTemporaryDir dir;
    const QString path = dir.filePath("surrogates." + extension);
    QString error;
    const bool written = extension == "xls" ? writeXls(path, {contact}, &error)
                                            : writeXlsx(path, {contact}, &error);
    QVERIFY2(written, qPrintable(error));
    ContactList imported;
    QVERIFY2(importContacts(path, &imported, &error), qPrintable(error));
    QCOMPARE(imported.size(), 1);
    QCOMPARE(imported.at(0).name(), QStringLiteral("a?b"));
    QCOMPARE(imported.at(0).remark(), QStringLiteral("?😀?"));
}

void TestXlsExport::everyContactWrittenAsHeld()
{
    // Unticked contacts, invalid mobiles and unmapped salutations are written
    // as they are; only the import applies its rules.
    const ContactList contacts{makeContact("13958700001", "张三", "先生", "房间001号", true),
                               makeContact("13958700002", "李四", "女士", "房间002号", false),
                               makeContact("abc", "无效", "女", " ", false)};
    QTemporaryDir dir;
    const QString path = dir.filePath("名单.xls");
    QString error;
    QVERIFY2(writeXls(path, contacts, &error), qPrintable(error));

    const void *handle = nullptr;
    QCOMPARE(freexl_open(QFile::encodeName(path).constData(), &handle), FREEXL_OK);
    QCOMPARE(freexl_select_active_worksheet(handle, 0), FREEXL_OK);
    unsigned int rows = 0;
    unsigned short columns = 0;
    QCOMPARE(freexl_worksheet_dimensions(handle, &rows, &columns), FREEXL_OK);
    QCOMPARE(rows, 3u); // no heading row
    for (unsigned int row = 0; row < rows; ++row) {
        for (unsigned short column = 0; column < 4; ++column) {
            FreeXL_CellValue cell;
            QCOMPARE(freexl_get_cell_value(handle, row, column, &cell), FREEXL_OK);
            QCOMPARE(cell.type, FREEXL_CELL_SST_TEXT);
            QCOMPARE(QString::fromUtf8(cell.value.text_value), fields(contacts.at(row)).at(column));
        }
    }
    freexl_close(handle);
}

void TestXlsExport::xlrdReadsTheSameCells()
{
    if (!xlrdAvailable())
        QSKIP("python3-xlrd is not installed");
    const ContactList contacts{makeContact("13958700001", "张三丰", "先生", "房间001号"),
                               makeContact("13958700002", "Li", "", QString(300, u'中')),
                               makeContact("13958700003", "", "女士", "")};
    QTemporaryDir dir;
    const QString path = dir.filePath("xlrd.xls");
    QString error;
    QVERIFY2(writeXls(path, contacts, &error), qPrintable(error));

    const QJsonArray sheets = readWithXlrd(path);
    QCOMPARE(sheets.size(), 1);
    const QJsonObject sheet = sheets.at(0).toObject();
    QCOMPARE(sheet.value("name").toString(), QStringLiteral("Sheet1"));
    QCOMPARE(sheet.value("types").toArray(), QJsonArray{1}); // text cells only
    const QJsonArray rows = sheet.value("rows").toArray();
    QCOMPARE(rows.size(), contacts.size());
    for (qsizetype i = 0; i < contacts.size(); ++i)
        QCOMPARE(rows.at(i).toArray().toVariantList(), QVariant(fields(contacts.at(i))).toList());
    // Widest text plus one character, a wide character counting two, capped at 255.
    const QJsonArray widths = sheet.value("widths").toArray();
    QCOMPARE(widths.at(0).toInt(), (11 + 1) * 256);
    QCOMPARE(widths.at(1).toInt(), (6 + 1) * 256);
    QCOMPARE(widths.at(2).toInt(), (4 + 1) * 256);
    QCOMPARE(widths.at(3).toInt(), 255 * 256);
}

void TestXlsExport::moreThanOneSheet()
{
    constexpr int count = 65536 + 10;
    ContactList contacts;
    contacts.reserve(count);
    for (int i = 0; i < count; ++i)
        contacts.append(makeContact(QString::number(13000000000LL + i), QStringLiteral("客户%1").arg(i),
                                i % 2 ? "先生" : "女士", QString::number(i)));
    QTemporaryDir dir;
    const QString path = dir.filePath("many.xls");
    QString error;
    QVERIFY2(writeXls(path, contacts, &error), qPrintable(error));

    // The import reads the first sheet: exactly the first 65,536 contacts.
    ContactList imported;
    QVERIFY2(importContacts(path, &imported, &error), qPrintable(error));
    QCOMPARE(imported.size(), 65536);
    for (int i = 0; i < 65536; ++i) // every one: the reader must not lose its place in 5 MB of records
        QCOMPARE(fields(imported.at(i)), fields(contacts.at(i)));

    if (!xlrdAvailable())
        QSKIP("python3-xlrd is not installed");
    const QJsonArray sheets = readWithXlrd(path);
    QCOMPARE(sheets.size(), 2);
    QCOMPARE(sheets.at(1).toObject().value("name").toString(), QStringLiteral("Sheet2"));
    const QJsonArray second = sheets.at(1).toObject().value("rows").toArray();
    QCOMPARE(second.size(), 10);
    QCOMPARE(second.at(0).toArray().toVariantList(), QVariant(fields(contacts.at(65536))).toList());
    QCOMPARE(second.at(9).toArray().toVariantList(), QVariant(fields(contacts.last())).toList());
}

void TestXlsExport::failedWriteLeavesNothing()
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath("file");
    QVERIFY(TestSupport::writeAll(blocker, "x"));
    const QString path = blocker + "/客户.xls"; // a folder that cannot exist

    QString error;
    QVERIFY(!writeXls(path, {makeContact("13958700001", "张三", "先生", "")}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"file"});
}

void TestXlsExport::existingFileSurvivesFailedWrite()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("客户.xls");
    QVERIFY(TestSupport::writeAll(path, "older workbook"));

    // A cell longer than a spreadsheet allows: refused before anything is written.
    QString error;
    QVERIFY(!writeXls(path, {makeContact("13958700001", "张三", "", QString(40000, u'x'))}, &error));
    QVERIFY2(error.contains("32767"), qPrintable(error));
    QCOMPARE(TestSupport::readAll(path), QByteArray("older workbook"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"客户.xls"});
}

QTEST_GUILESS_MAIN(TestXlsExport)
#include "test_xlsexport.moc"
