#include "exchange/celltext.h"
#include "exchange/contactimport.h"
#include "exchange/csv/csvreader.h"
#include "exchange/csv/gbkdecoder.h"
#include "exchange/sheetreader.h"
#include "exchange/xlsx/xlsxreader.h"
#include "core/textrules.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <minizip/zip.h>

#include <sys/resource.h>

using Rows = QVector<QStringList>;

class TestXlsxCsvImport : public QObject
{
    Q_OBJECT

private slots:
    void emptyLinesCostNothing(); // first: it reads the process's peak memory
    void sameWorkbookAsXlsAndXlsx_data();
    void sameWorkbookAsXlsAndXlsx();
    void sameRowsInEveryFormat_data();
    void sameRowsInEveryFormat();
    void sameContactsInEveryFormat_data();
    void sameContactsInEveryFormat();
    void cellValues_data();
    void cellValues();
    void dateFormats_data();
    void dateFormats();
    void plainNumbers_data();
    void plainNumbers();
    void csvRecords_data();
    void csvRecords();
    void csvEncodings_data();
    void csvEncodings();
    void gbkAtEveryPosition_data();
    void gbkAtEveryPosition();
    void recordsAcrossBlocks_data();
    void recordsAcrossBlocks();
    void unreadableFiles_data();
    void unreadableFiles();
    void rowNumbersBeyondTheSheet_data();
    void rowNumbersBeyondTheSheet();
    void cellsOfSheetXml_data();
    void cellsOfSheetXml();
    void sharedStringsInAnyOrder_data();
    void sharedStringsInAnyOrder();

private:
    QString write(const QString &name, const QByteArray &bytes);
    QString writeZip(const QString &name, const QList<std::pair<QString, QByteArray>> &entries);

    QTemporaryDir m_dir;
};

namespace {

const Rows mainExampleRows{
    {QStringLiteral("手机号"), QStringLiteral("姓名"), QStringLiteral("性别"), QStringLiteral("备注")},
    {QStringLiteral(" 13958700001"), QStringLiteral("张三"), QStringLiteral("男"), QStringLiteral("房间001号")},
    {QStringLiteral("13958700002"), QStringLiteral("李四"), QStringLiteral("女"), QStringLiteral("房间002号")},
};

const QString sheetNs = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
const QString relNs = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString pkgNs = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");

// A minimal workbook around one sheet's <sheetData> content.
QList<std::pair<QString, QByteArray>> workbookWithSheetData(const QString &sheetData)
{
    return {
        {QStringLiteral("_rels/.rels"),
         QStringLiteral("<Relationships xmlns=\"%1\"><Relationship Id=\"rId1\" Type=\"%2/officeDocument\" "
                        "Target=\"xl/workbook.xml\"/></Relationships>")
             .arg(pkgNs, relNs)
             .toUtf8()},
        {QStringLiteral("xl/workbook.xml"),
         QStringLiteral("<workbook xmlns=\"%1\" xmlns:r=\"%2\"><sheets><sheet name=\"S\" sheetId=\"1\" "
                        "r:id=\"rId1\"/></sheets></workbook>")
             .arg(sheetNs, relNs)
             .toUtf8()},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
         QStringLiteral("<Relationships xmlns=\"%1\"><Relationship Id=\"rId1\" Type=\"%2/worksheet\" "
                        "Target=\"worksheets/sheet1.xml\"/></Relationships>")
             .arg(pkgNs, relNs)
             .toUtf8()},
        {QStringLiteral("xl/worksheets/sheet1.xml"),
         QStringLiteral("<worksheet xmlns=\"%1\"><sheetData>%2</sheetData></worksheet>")
             .arg(sheetNs, sheetData)
             .toUtf8()},
    };
}

// The same with a shared-string part holding sharedStrings (the <sst> element's content).
QList<std::pair<QString, QByteArray>> workbookWithSharedStrings(const QString &sheetData,
                                                                const QByteArray &sharedStrings)
{
    QList<std::pair<QString, QByteArray>> entries = workbookWithSheetData(sheetData);
    for (auto &[name, bytes] : entries) {
        if (name == u"xl/_rels/workbook.xml.rels")
            bytes.replace("</Relationships>",
                          QStringLiteral("<Relationship Id=\"rId2\" Type=\"%1/sharedStrings\" "
                                         "Target=\"sharedStrings.xml\"/></Relationships>")
                              .arg(relNs)
                              .toUtf8());
    }
    entries.append({QStringLiteral("xl/sharedStrings.xml"),
                    "<sst xmlns=\"" + sheetNs.toUtf8() + "\">" + sharedStrings + "</sst>"});
    return entries;
}

// Copies every cell and leaves it in place, as a sink that keeps none of the
// reader's strings does: the reader then writes the next row into the same
// buffers.
class CopiedRows : public SheetRowSink
{
public:
    Rows rows;

    void takeRow(qsizetype rowNumber, std::span<QString> cells) override
    {
        rows.resize(rowNumber, QStringList(qsizetype(cells.size())));
        QStringList &row = rows[rowNumber - 1];
        row.clear();
        for (const QString &cell : cells)
            row.append(QString(cell.constData(), cell.size())); // not shared with the cell
    }
};

} // namespace

QString TestXlsxCsvImport::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    if (!TestSupport::writeAll(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString TestXlsxCsvImport::writeZip(const QString &name,
                                    const QList<std::pair<QString, QByteArray>> &entries)
{
    const QString path = m_dir.filePath(name);
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        qFatal("cannot create %s", qPrintable(path));
    for (const auto &[entryName, bytes] : entries) {
        if (zipOpenNewFileInZip64(zip, entryName.toUtf8().constData(), nullptr, nullptr, 0, nullptr, 0,
                                  nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0)
                != ZIP_OK
            || zipWriteInFileInZip(zip, bytes.constData(), unsigned(bytes.size())) != ZIP_OK
            || zipCloseFileInZip(zip) != ZIP_OK)
            qFatal("cannot write %s", qPrintable(entryName));
    }
    zipClose(zip, nullptr);
    return path;
}

void TestXlsxCsvImport::sameRowsInEveryFormat_data()
{
    QTest::addColumn<QString>("file");
    for (const char *file :
         {"main_example.openpyxl.xlsx", "main_example.libreoffice.xlsx", "main_example.gnumeric.xlsx",
          "main_example.utf8.csv", "main_example.utf8bom.csv", "main_example.gbk.csv",
          "main_example.utf16le.csv", "main_example.utf16be.csv", "main_example.cr.csv",
          "main_example.semicolon.csv", "main_example.tab.csv"})
        QTest::newRow(file) << TestSupport::dataPath(QStringLiteral("xlsx/") + QLatin1StringView(file));
}

namespace {

long peakMemoryKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

Contact imported(const char16_t *mobile, const char16_t *name, const char16_t *salutation,
                 const char16_t *remark)
{
    return Contact(mobile, name, salutation, remark);
}

} // namespace

// A CSV file of nothing but line ends: rows that hold nothing take no memory.
void TestXlsxCsvImport::emptyLinesCostNothing()
{
    constexpr int lines = 2'000'000;
    const QString path = write(QStringLiteral("empty.csv"), QByteArray(lines, '\n') + "13958700001\n");
    const long before = peakMemoryKb();
    ContactList imported;
    QString error;
    const bool ok = importContacts(path, &imported, &error);
    const long grownMb = (peakMemoryKb() - before) / 1024;
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(imported.size(), 1);
    // Kept as rows, the lines took about 150 bytes each (300 MB here).
    QVERIFY2(grownMb < 40, qPrintable(QStringLiteral("peak memory grew by %1 MB").arg(grownMb)));
}

// One workbook saved by one program as .xls and as .xlsx gives one list:
// numbers, dates and times in built-in and custom formats, both date
// systems, formulas by their cached results, booleans and error values.
void TestXlsxCsvImport::sameWorkbookAsXlsAndXlsx_data()
{
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<ContactList>("expected");

    QTest::newRow("1900 date system")
        << "values1900"
        << ContactList{imported(u"13958700001", u"张三", u"先生", u"06:00:00"),
                       imported(u"13958700002", u"12:00:00", u"女士", u"1900-02-28"),
                       imported(u"13958700003", u"张三", u"", u"1900-02-29"),
                       imported(u"13958700004", u"1900-03-01", u"", u"2024-01-05 13:45:30"),
                       imported(u"13958700005", u"FALSE", u"", u"TRUE"),
                       imported(u"13958700006", u"", u"", u""),
                       imported(u"13958700007", u"12.5", u"-3", u"0.25"),
                       imported(u"13958700008", u"13958700001", u"0.00000015", u"0.333333333333333")};
    QTest::newRow("1904 date system")
        << "values1904"
        << ContactList{imported(u"13958700011", u"2024-01-05", u"先生", u"2024-01-05 12:00:00"),
                       imported(u"13958700012", u"1904-01-01", u"", u"18:00:00")};
}

void TestXlsxCsvImport::sameWorkbookAsXlsAndXlsx()
{
    QFETCH(QString, workbook);
    QFETCH(ContactList, expected);
    const QString base = TestSupport::dataPath(QStringLiteral("crossformat/") + workbook);
    ContactList xlsContacts;
    QString xlsError;
    const bool xlsOk = importContacts(base + QStringLiteral(".libreoffice.xls"), &xlsContacts, &xlsError);
    ContactList xlsxContacts;
    QString xlsxError;
    const bool xlsxOk = importContacts(base + QStringLiteral(".libreoffice.xlsx"), &xlsxContacts, &xlsxError);
    QVERIFY2(xlsOk, qPrintable(xlsError));
    QVERIFY2(xlsxOk, qPrintable(xlsxError));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        expected[i].rowId = -(i + 1);
        expected[i].ticked = true;
    }
    QCOMPARE(xlsContacts, expected);
    QCOMPARE(xlsxContacts, expected);
}

// The reader is chosen by content, and every format gives the same cell texts.
void TestXlsxCsvImport::sameRowsInEveryFormat()
{
    QFETCH(QString, file);
    QString error;
    const std::unique_ptr<SheetReader> reader = SheetReader::forFile(file, &error);
    QVERIFY2(reader, qPrintable(error));
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = reader->readFirstSheet(file, 4, &sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet, mainExampleRows);
}

void TestXlsxCsvImport::sameContactsInEveryFormat_data()
{
    QTest::addColumn<QString>("file");
    for (const char *file : {"main_example.libreoffice.xls", "main_example.openpyxl.xlsx",
                             "main_example.gnumeric.xlsx", "main_example.gbk.csv",
                             "main_example.quoted.csv", "main_example.utf16le.csv"})
        QTest::newRow(file) << TestSupport::dataPath(QStringLiteral("xlsx/") + QLatin1StringView(file));
}

void TestXlsxCsvImport::sameContactsInEveryFormat()
{
    QFETCH(QString, file);
    ContactList imported;
    QString error;
    const bool ok = importContacts(file, &imported, &error);
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(imported.size(), 2);
    const Contact &first = imported[0];
    const Contact &second = imported[1];
    QCOMPARE(first.texts(), Contact(u"13958700001", u"张三", u"先生", u"房间001号").texts());
    QCOMPARE(second.mobile(), u"13958700002");
    QCOMPARE(second.name(), u"李四");
    QCOMPARE(second.salutation(), u"女士");
    // The quoted file spells the second remark with doubled quotes.
    QVERIFY(second.remark() == QStringLiteral("房间002号") || second.remark() == QStringLiteral("房间\"002\"号"));
    QVERIFY(first.ticked && second.ticked);
}

void TestXlsxCsvImport::cellValues_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Rows>("expected");

    // Saved by LibreOffice: numbers, a formula's cached string, a boolean, dates
    // and times, an error value (empty), a cell beyond D in row 8.
    QTest::newRow("values") << TestSupport::dataPath(QStringLiteral("xlsx/values.libreoffice.xlsx"))
                            << Rows{{"手机号", "姓名", "称呼", "备注"},
                                    {"13958700001", "王五", "男", "2024-01-05"},
                                    {"13958700002", "王五六", "TRUE", "12.5"},
                                    {"", "", "", ""},
                                    {"13958700005", "", "", "2024-01-05 13:45:30"},
                                    {"", "08:30:00", "", ""},
                                    {"", "", "", ""},
                                    {"", "", "", ""}};
    // The first sheet in workbook order is the second worksheet file in the
    // archive; rich text with a phonetic guide, an escaped CR, a number in
    // exponent form, a row and cells without references, a custom date format.
    QTest::newRow("sheet order") << TestSupport::dataPath(QStringLiteral("xlsx/sheet_order.xlsx"))
                                 << Rows{{"手机号", "", "", ""},
                                         {"13958700001", "张三 ", "男", "第一行\r\n第二行"},
                                         {"13958700002", "李四", "", "2024-01-05"},
                                         {"", "", "", ""},
                                         {"", "13958700001", "男", ""}};
}

void TestXlsxCsvImport::cellValues()
{
    QFETCH(QString, file);
    QFETCH(Rows, expected);
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = XlsxReader().readFirstSheet(file, 4, &sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet, expected);
}

void TestXlsxCsvImport::dateFormats_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<double>("serial");
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<QString>("text");

    QTest::newRow("date") << "yyyy-mm-dd" << 45296.0 << false << "2024-01-05";
    QTest::newRow("chinese literals") << "yyyy\"年\"m\"月\"d\"日\"" << 45296.0 << false << "2024-01-05";
    QTest::newRow("locale prefix") << "[$-804]yyyy/m/d" << 45296.0 << false << "2024-01-05";
    QTest::newRow("1904 system") << "yyyy-mm-dd" << 43834.0 << true << "2024-01-05";
    QTest::newRow("before the missing leap day") << "yyyy-mm-dd" << 59.0 << false << "1900-02-28";
    QTest::newRow("the missing leap day") << "yyyy-mm-dd" << 60.0 << false << "1900-02-29";
    QTest::newRow("after the missing leap day") << "yyyy-mm-dd" << 61.0 << false << "1900-03-01";
    QTest::newRow("minutes beside seconds, whole days dropped") << "m:ss" << 45000.5 << false << "12:00:00";
    QTest::newRow("elapsed minutes") << "[mm]:ss" << 0.5 << false << "12:00:00";
    QTest::newRow("date and time") << "m/d/yy h:mm" << 45296.573263888889 << false << "2024-01-05 13:45:30";
    QTest::newRow("minutes and seconds") << "mm:ss" << 0.5 << false << "12:00:00";
    QTest::newRow("elapsed hours") << "[h]:mm" << 0.25 << false << "06:00:00";
    QTest::newRow("scientific is a number") << "0.00E+00" << 13958700001.0 << false << "";
    QTest::newRow("General is a number") << "General" << 13958700001.0 << false << "";
    QTest::newRow("colour and sections") << "#,##0;[Red]-#,##0" << 5.0 << false << "";
    QTest::newRow("quoted letters") << "0\" days\"" << 5.0 << false << "";
    QTest::newRow("out of range reads as a number") << "yyyy-mm-dd" << 1e9 << false << "1000000000";
}

// A date or time format turns the serial number into text; any other format
// leaves it to the number rule (empty here).
void TestXlsxCsvImport::dateFormats()
{
    QFETCH(QString, code);
    QFETCH(double, serial);
    QFETCH(bool, date1904);
    QFETCH(QString, text);
    const CellText::NumberKind kind = CellText::kindOfFormatCode(code);
    const QString actual = kind == CellText::NumberKind::Plain
                               ? QString()
                               : CellText::number(serial, kind, date1904);
    QCOMPARE(actual, text);
}

void TestXlsxCsvImport::plainNumbers_data()
{
    QTest::addColumn<double>("value");

    const double exact = 9007199254740992.0; // 2^53: every whole number below is exact
    for (double value : {0.0, -0.0, 1.0, -1.0, 9.0, 10.0, -10.0, 13958700001.0, -13958700001.0, exact - 1,
                         -(exact - 1), exact, -exact, 1e17, 0.5, -2.25, 1e-7, 123456789.125, qInf(), qQNaN()})
        QTest::addRow("%.17g", value) << value;
}

// Every number reads as the general plain-decimal rule writes it, whichever
// way the cell text is made.
void TestXlsxCsvImport::plainNumbers()
{
    QFETCH(double, value);
    QCOMPARE(CellText::number(value, CellText::NumberKind::Plain, false), TextRules::plainDecimal(value));
}

void TestXlsxCsvImport::csvRecords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Rows>("expected");

    QTest::newRow("separator inside quotes") << "\"a,b\";c\n" << Rows{{"a,b", "c", ""}};
    QTest::newRow("doubled quotes") << "\"say \"\"hi\"\"\",x" << Rows{{"say \"hi\"", "x", ""}};
    QTest::newRow("quoted line breaks") << "\"1\r\n2\",\"3\n4\"\r\nz"
                                        << Rows{{"1\r\n2", "3\n4", ""}, {"z", "", ""}};
    QTest::newRow("line ends mixed") << "a\rb\r\nc\nd" << Rows{{"a", "", ""}, {"b", "", ""}, {"c", "", ""}, {"d", "", ""}};
    QTest::newRow("blank line kept, final line end not a row")
        << "a,b\n\nc,d\n" << Rows{{"a", "b", ""}, {"", "", ""}, {"c", "d", ""}};
    QTest::newRow("columns beyond the third dropped") << "1,2,3,4,5" << Rows{{"1", "2", "3"}};
    QTest::newRow("quote inside an unquoted field is text") << "ab\"c,d" << Rows{{"ab\"c", "d", ""}};
    QTest::newRow("text after the closing quote") << "\"ab\"c,d" << Rows{{"abc", "d", ""}};
    QTest::newRow("unterminated quote takes the rest") << "x,\"a\nb" << Rows{{"x", "a\nb", ""}};
    QTest::newRow("blanks kept") << " a , b " << Rows{{" a ", " b ", ""}};
    QTest::newRow("tab separated") << "a\tb,c\td" << Rows{{"a", "b,c", "d"}};
    QTest::newRow("semicolons outnumber commas") << "a;b;c,d" << Rows{{"a", "b", "c,d"}};
    QTest::newRow("separator found in a later record") << "a\nb;c" << Rows{{"a", "", ""}, {"b", "c", ""}};
    QTest::newRow("separators in a quoted heading do not count")
        << "\"x;y;z\",w\n1,2" << Rows{{"x;y;z", "w", ""}, {"1", "2", ""}};
    QTest::newRow("units that hold a separator's byte are text")
        << QStringLiteral("\u012C\u2C2C\u0D0A\u0A0D\u0909,x") << Rows{{QStringLiteral("\u012C\u2C2C\u0D0A\u0A0D\u0909"), "x", ""}};
    QTest::newRow("empty text") << "" << Rows{};
}

void TestXlsxCsvImport::csvRecords()
{
    QFETCH(QString, text);
    QFETCH(Rows, expected);
    QCOMPARE(CsvReader::parse(text, CsvReader::detectSeparator(text), 3), expected);
}

void TestXlsxCsvImport::csvEncodings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");

    QTest::newRow("utf-8") << QByteArray("\xe5\xbc\xa0\xe4\xb8\x89") << true << "张三";
    QTest::newRow("gbk") << QByteArray("\xd5\xc5\xc8\xfd") << true << "张三";
    QTest::newRow("gb18030 four-byte") << QByteArray("\x81\x30\x81\x30") << true << QString(QChar(0x80));
    QTest::newRow("gbk beside four-byte gb18030")
        << QByteArray("\xd5\xc5\x81\x30\x81\x30") << true << QStringLiteral("张\u0080");
    QTest::newRow("gbk cut short") << QByteArray("\xd5\xc5\xc8") << false << "";
    QTest::newRow("utf-8 bom, invalid after it") << QByteArray("\xef\xbb\xbf\xd5\xc5") << false << "";
    QTest::newRow("utf-8 bom, cut short at the end") << QByteArray("\xef\xbb\xbf" "ab\xe5\xbc") << false << "";
    QTest::newRow("utf-16le odd length") << QByteArray("\xff\xfe\x20\x5f\x09") << false << "";
    QTest::newRow("utf-16 holding NUL") << QByteArray("\xff\xfe\x00\x00", 4) << false << "";
    QTest::newRow("byte invalid in gb18030") << QByteArray("ab\x80") << false << "";
    QTest::newRow("lead byte before a blank") << QByteArray("\x81\x20") << false << "";
    QTest::newRow("NUL bytes") << QByteArray("a\0b", 3) << false << "";
}

void TestXlsxCsvImport::csvEncodings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QString decoded;
    QCOMPARE(CsvReader::decode(bytes, &decoded), ok);
    if (ok)
        QCOMPARE(decoded, text);

    // The same through the reader, which decodes block by block.
    const QString path = write(QStringLiteral("encoding.csv"), bytes);
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = CsvReader().readFirstSheet(path, 1, &sheet, &sheetError);
    QCOMPARE(sheetOk, ok);
    if (ok)
        QCOMPARE(sheet.value(0).value(0), text);
}

// The GBK decoder takes ASCII eight bytes at a time: every code, and every
// fault, at every place in and around such a group and at the very end must
// read as Qt's GB18030 decoder reads it, byte by byte.
void TestXlsxCsvImport::gbkAtEveryPosition_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("fourByte"); // left to Qt's decoder

    const QList<std::tuple<const char *, QByteArray, bool>> codes{
        {"two-byte code", "\xd5\xc5", false},
        {"run of codes", "\xd5\xc5\xc8\xfd\xbf\xcd", false},
        {"trail bytes that look like ASCII", "\x81\x40\x81\x7e\xfe\x5c", false},
        {"lead byte before a comma", "\xd5,", false},
        {"lead byte alone", "\xd5", false},
        {"invalid trail", "\x81\x7f", false},
        {"no lead byte", "\x80\xff", false},
        {"NUL", QByteArray(1, '\0'), false},
        {"four-byte code", "\x81\x30\x81\x30", true},
    };
    for (const auto &[name, code, fourByte] : codes) {
        for (int offset = 0; offset < 10; ++offset) {
            for (const QByteArray &after : {QByteArray(), QByteArray("x,yzabcd")}) {
                QTest::addRow("%s at %d%s", name, offset, after.isEmpty() ? ", at the end" : "")
                    << QByteArray(offset, 'a') + code + after << fourByte;
            }
        }
    }
}

void TestXlsxCsvImport::gbkAtEveryPosition()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, fourByte);
    QStringDecoder reference("GB18030", QStringDecoder::Flag::Stateless);
    const QString expected = reference.decode(bytes);
    const bool valid = !reference.hasError() && !expected.contains(QChar(u'\0'));

    QString text(3, u'#'); // a buffer of an earlier block, reused
    const bool decoded = GbkDecoder::decode(bytes, &text);
    QCOMPARE(decoded, valid && !fourByte);
    if (decoded)
        QCOMPARE(text, expected);
}

// Files far longer than a block of the reader: a line end, even a CR LF,
// may fall on any byte, and a record may run on over many blocks.
void TestXlsxCsvImport::recordsAcrossBlocks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Rows>("expected");

    const QByteArray zhang("\xd5\xc5"); // 张 in GBK
    const QByteArray many = QByteArray("\xd5\xc5\r\n").repeated(100000);
    const QString manyText = QStringLiteral("张\r\n").repeated(100000);

    // GBK lines with every kind of line end, and a CR LF cut between its two
    // bytes by every power-of-two boundary.
    QByteArray lines;
    Rows lineRows;
    const std::array<QByteArray, 3> ends{"\r\n", "\n", "\r"};
    for (qsizetype boundary = 1024; boundary <= (qsizetype(1) << 21); boundary *= 2) {
        for (int i = 0; lines.size() + 40 < boundary; ++i) {
            const int length = 1 + i % 7;
            lines += zhang.repeated(length) + ',' + QByteArray::number(i) + ends[size_t(i % 3)];
            lineRows.append({QStringLiteral("张").repeated(length), QString::number(i)});
        }
        const qsizetype length = boundary - 1 - lines.size();
        lines += QByteArray(length, 'a') + "\r\n";
        lineRows.append({QString(length, u'a'), ""});
    }
    QTest::newRow("every line end, CR LF cut at every boundary") << lines << lineRows;
    QTest::newRow("quoted field over many blocks")
        << '"' + many + "\",z\r\nnext,1\r\n" << Rows{{manyText, "z"}, {"next", "1"}};
    QTest::newRow("quote never closed") << "a,\"" + many << Rows{{"a", manyText}};
}

void TestXlsxCsvImport::recordsAcrossBlocks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Rows, expected);
    const QString path = write(QStringLiteral("blocks.csv"), bytes);
    Rows rows;
    QString error;
    QVERIFY2(CsvReader().readFirstSheet(path, 2, &rows, &error), qPrintable(error));
    QCOMPARE(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        QCOMPARE(rows[i], expected[i]); // tells which row differs
}

void TestXlsxCsvImport::unreadableFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");

    const QByteArray workbook =
        TestSupport::readAll(TestSupport::dataPath(QStringLiteral("xlsx/main_example.libreoffice.xlsx")));
    QTest::newRow("truncated xlsx") << write("truncated.xlsx", workbook.left(workbook.size() / 2))
                                    << "已损坏";
    QByteArray damaged = workbook;
    for (qsizetype i = 200; i < 700; ++i) // inside the first entry's compressed data
        damaged[i] = char(damaged[i] ^ 0x5a);
    QTest::newRow("damaged entry") << write("damaged.xlsx", damaged) << "损坏";
    QTest::newRow("zip that is not a workbook")
        << writeZip("notes.zip", {{"readme.txt", "hello"}}) << "不是 Excel 工作簿";
    QTest::newRow("word document")
        << writeZip("letter.docx",
                    {{"_rels/.rels", QStringLiteral("<Relationships xmlns=\"%1\"><Relationship Id=\"r\" "
                                                    "Type=\"%2/officeDocument\" Target=\"word/document.xml\"/>"
                                                    "</Relationships>")
                                         .arg(pkgNs, relNs)
                                         .toUtf8()},
                     {"word/document.xml", "<document/>"}})
        << "不是 Excel 工作簿";
    QTest::newRow("empty zip") << write("empty.xlsx", QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'))
                               << "损坏";
    QTest::newRow("broken sheet xml") << writeZip("broken.xlsx", workbookWithSheetData("<row><c><v>1</c>"))
                                      << "XML";
    // One name of megabytes is refused as soon as it is seen to be too long.
    const QString longName(8 << 20, QLatin1Char('a'));
    QTest::newRow("attribute name of megabytes")
        << writeZip("longattribute.xlsx",
                    workbookWithSheetData(QStringLiteral("<row><c %1=\"1\"><v>1</v></c></row>").arg(longName)))
        << "名称过长";
    QTest::newRow("element name of megabytes")
        << writeZip("longelement.xlsx", workbookWithSheetData(QStringLiteral("<row><%1/></row>").arg(longName)))
        << "名称过长";
    QString manyRows; // megabytes of sheet
    for (int i = 1; i <= 100000; ++i)
        manyRows += QStringLiteral("<row r=\"%1\"><c r=\"A%1\"><v>%2</v></c></row>").arg(i).arg(qint64(i) * 7919 % 1000003);
    QByteArray damagedSheet = TestSupport::readAll(writeZip("large.xlsx", workbookWithSheetData(manyRows)));
    damagedSheet[damagedSheet.size() / 2] = char(damagedSheet[damagedSheet.size() / 2] ^ 0x5a);
    QTest::newRow("large sheet damaged in its middle") << write("largedamaged.xlsx", damagedSheet) << "损坏";
    QTest::newRow("broken shared-string xml, sheet without strings")
        << writeZip("brokenstrings.xlsx",
                    workbookWithSharedStrings("<row><c><v>1</v></c></row>", "<si><t>a</si>"))
        << "sharedStrings.xml";
    QTest::newRow("broken shared-string xml, sheet using them")
        << writeZip("brokenused.xlsx",
                    workbookWithSharedStrings("<row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c></row>",
                                              "<si><t>a</t></si><si><t>b</si>"))
        << "sharedStrings.xml";
    QTest::newRow("missing shared string")
        << writeZip("nostring.xlsx", workbookWithSheetData("<row><c t=\"s\"><v>3</v></c></row>"))
        << "字符串";
    QTest::newRow("encrypted") << TestSupport::dataPath(QStringLiteral("xlsx/encrypted.xlsx")) << "密码";
    QTest::newRow("inflates beyond the cap") << TestSupport::dataPath(QStringLiteral("xlsx/bomb.xlsx"))
                                             << "过大";
    QTest::newRow("inflated size understated")
        << TestSupport::dataPath(QStringLiteral("xlsx/bomb_understated.xlsx")) << "损坏";
    QTest::newRow("csv in an unknown encoding")
        << write("unknown.csv", QByteArray("13958700001,\x80\x80\xff\n")) << "无法识别文件编码";
    QTest::newRow("binary") << write("binary.csv", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16))
                            << "无法识别文件编码";
}

// Every failure names the file and says why; no contact comes out.
void TestXlsxCsvImport::unreadableFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, reason);
    ContactList imported;
    QString error;
    const bool ok = importContacts(file, &imported, &error);
    QVERIFY(!ok);
    QVERIFY(imported.isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY2(error.contains(QFileInfo(file).fileName()), qPrintable(error));
}

void TestXlsxCsvImport::rowNumbersBeyondTheSheet_data()
{
    QTest::addColumn<QString>("sheetData");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("rows");

    QTest::newRow("last row of the sheet") << "<row r=\"1048576\"><c r=\"A1048576\"><v>1</v></c></row>"
                                           << true << 1048576;
    QTest::newRow("row beyond the sheet") << "<row r=\"1048577\"><c><v>1</v></c></row>" << false << 0;
    QTest::newRow("rows counted on past the sheet")
        << "<row r=\"1048576\"/><row><c><v>1</v></c></row>" << false << 0;
    QTest::newRow("empty row elements do not count") << "<row r=\"1\"><c><v>1</v></c></row><row r=\"9\"/>"
                                                     << true << 1;
    QTest::newRow("column far right still counts") << "<row r=\"3\"><c r=\"XFD3\"><v>1</v></c></row>"
                                                   << true << 3;
}

void TestXlsxCsvImport::rowNumbersBeyondTheSheet()
{
    QFETCH(QString, sheetData);
    QFETCH(bool, ok);
    QFETCH(int, rows);
    const QString file = writeZip(QStringLiteral("rows.xlsx"), workbookWithSheetData(sheetData));
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = XlsxReader().readFirstSheet(file, 4, &sheet, &sheetError);
    QCOMPARE(sheetOk, ok);
    QCOMPARE(sheet.size(), rows);
}

void TestXlsxCsvImport::cellsOfSheetXml_data()
{
    QTest::addColumn<QString>("sheetData");
    QTest::addColumn<Rows>("expected");

    QTest::newRow("inline text of a number cell stays there")
        << "<row r=\"1\"><c r=\"A1\"><is><t>x</t></is><v>5</v></c>"
           "<c r=\"B1\" t=\"inlineStr\"><is><t>y</t></is></c></row>"
        << Rows{{"5", "y", "", ""}};
    QTest::newRow("cells beyond the columns are not read")
        << "<row r=\"1\"><c r=\"E1\" t=\"s\"><v>99</v></c><c r=\"F1\"><is><t>z</t></is></c>"
           "<c r=\"A1\" t=\"inlineStr\"><is><t>a</t></is></c></row>"
        << Rows{{"a", "", "", ""}};
    QTest::newRow("escapes in formula and inline text")
        << "<row r=\"1\"><c r=\"A1\" t=\"str\"><f>1</f><v>a_x0041_</v></c>"
           "<c r=\"B1\" t=\"inlineStr\"><is><t>_x0042_b_x</t></is></c></row>"
        << Rows{{"aA", "Bb_x", "", ""}};
    QTest::newRow("a later cell of the same reference replaces an earlier one")
        << "<row r=\"1\"><c r=\"A1\" t=\"b\"><v>1</v></c><c r=\"A1\" t=\"e\"><v>#N/A</v></c>"
           "<c r=\"B1\"><v>5</v></c><c r=\"B1\"/><c r=\"C1\"><v>5</v></c><c r=\"C1\"><v>6</v></c></row>"
        << Rows{{"", "", "6", ""}};
    // Only a tag of megabytes is refused, not text of megabytes.
    const QString longText(3 << 20, QLatin1Char('x'));
    QTest::newRow("text of megabytes in one cell")
        << QStringLiteral("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>%1</t></is></c></row>").arg(longText)
        << Rows{{longText, "", "", ""}};
    QTest::newRow("cells written anew in every row")
        << "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>一段较长的文字 long text</t></is></c>"
           "<c r=\"B1\" t=\"str\"><v>formula text</v></c><c r=\"C1\"><v>12345</v></c>"
           "<c r=\"D1\" t=\"b\"><v>1</v></c></row>"
           "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>短</t></is></c>"
           "<c r=\"C2\" t=\"e\"><v>#N/A</v></c><c r=\"D2\" t=\"inlineStr\"><is><t></t></is></c></row>"
           "<row r=\"3\"><c r=\"B3\" t=\"str\"><v>f</v></c><c r=\"C3\"><v>0070</v></c>"
           "<c r=\"D3\" t=\"inlineStr\"><is><t>\xEF\xBB\xBF" "bom</t></is></c></row>"
        << Rows{{"一段较长的文字 long text", "formula text", "12345", "TRUE"}, {"短", "", "", ""},
                {"", "f", "70", "bom"}};
}

void TestXlsxCsvImport::cellsOfSheetXml()
{
    QFETCH(QString, sheetData);
    QFETCH(Rows, expected);
    const QString file = writeZip(QStringLiteral("cells.xlsx"), workbookWithSheetData(sheetData));
    CopiedRows sheet;
    QString sheetError;
    const bool sheetOk = XlsxReader().read(file, 4, sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet.rows, expected);
}


// Whatever the size of the table and the order the sheet uses it in, each
// cell gets its own string.
void TestXlsxCsvImport::sharedStringsInAnyOrder_data()
{
    QTest::addColumn<int>("strings");
    QTest::addColumn<QList<int>>("used");

    QTest::newRow("one string") << 1 << QList<int>{0, 0};
    QTest::newRow("many strings in table order") << 50000 << QList<int>{0, 1, 2, 25000, 49999};
    QTest::newRow("many strings, last first") << 50000 << QList<int>{49999, 0, 31234, 49998, 7};
    // Megabytes of strings and of sheet, as in a customer list of 100,000
    // rows, used in a shuffled order.
    QList<int> shuffled;
    for (int i = 0; i < 100000; ++i)
        shuffled.append(int(qint64(i) * 7919 % 100000));
    QTest::newRow("a customer list, shuffled") << 100000 << shuffled;
}

void TestXlsxCsvImport::sharedStringsInAnyOrder()
{
    QFETCH(int, strings);
    QFETCH(QList<int>, used);
    const auto text = [](int index) { return QStringLiteral("客户%1，地址与回访记录各不相同").arg(index); };
    QByteArray table;
    for (int i = 0; i < strings; ++i)
        table += "<si><t>" + text(i).toUtf8() + "</t></si>";
    QString sheetData;
    Rows expected;
    for (int index : used) {
        sheetData += QStringLiteral("<row><c t=\"s\"><v>%1</v></c><c><v>%2</v></c></row>").arg(index).arg(expected.size());
        expected.append({text(index), QString::number(expected.size()), QString(), QString()});
    }
    const QString file = writeZip(QStringLiteral("strings.xlsx"), workbookWithSharedStrings(sheetData, table));
    CopiedRows sheet;
    QString error;
    QVERIFY2(XlsxReader().read(file, 4, sheet, &error), qPrintable(error));
    QCOMPARE(sheet.rows, expected);
}

QTEST_GUILESS_MAIN(TestXlsxCsvImport)
#include "test_xlsxcsvimport.moc"
