#include "exchange/contactimport.h"
#include "exchange/xls/biff8workbook.h"
#include "exchange/xls/xlsreader.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <glib.h>

class TestXlsImport : public QObject
{
    Q_OBJECT

private slots:
    void workbooks_data();
    void workbooks();
    void unreadableFiles_data();
    void unreadableFiles();
    void rowsToContacts_data();
    void rowsToContacts();
    void readerPadsShortRowsAndKeepsRowsAligned();
    void workbookStreamStatus_data();
    void workbookStreamStatus();
    void stringsAcrossContinueRecords();
    void formulaAndBooleanCells_data();
    void formulaAndBooleanCells();
};

namespace {

// The working list a fixture must give, from its .expected.json.
ContactList expectedContacts(const QString &workbook)
{
    const QJsonArray rows =
        QJsonDocument::fromJson(TestSupport::readAll(TestSupport::dataPath(workbook + ".expected.json")))
            .array();
    ContactList contacts;
    for (const QJsonValue &row : rows) {
        const QJsonArray cells = row.toArray();
        Contact c;
        c.rowId = -(contacts.size() + 1);
        c.setMobile(cells.at(0).toString());
        c.setName(cells.at(1).toString());
        c.setSalutation(cells.at(2).toString());
        c.setRemark(cells.at(3).toString());
        c.ticked = true;
        contacts.append(c);
    }
    return contacts;
}

void countMessage(const gchar *, GLogLevelFlags, const gchar *, gpointer count)
{
    ++*static_cast<int *>(count);
}

// The workbook with the first string of its shared-string table claiming
// 32,767 characters, far more than the table holds.
QByteArray withDamagedStringLength(QByteArray workbook)
{
    const QByteArray sstId("\xFC\x00", 2);
    for (qsizetype at = workbook.indexOf(sstId); at >= 0; at = workbook.indexOf(sstId, at + 1)) {
        const quint32 total = qFromLittleEndian<quint32>(workbook.constData() + at + 4);
        const quint32 unique = qFromLittleEndian<quint32>(workbook.constData() + at + 8);
        if (unique > 0 && unique <= total && total < 100) {
            workbook[at + 12] = '\xFF';
            workbook[at + 13] = '\x7F';
            return workbook;
        }
    }
    qFatal("no shared-string table found");
}

QStringList row(std::initializer_list<const char16_t *> cells)
{
    QStringList list;
    for (const char16_t *cell : cells)
        list.append(QString::fromUtf16(cell));
    return list;
}

} // namespace

void TestXlsImport::workbooks_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("expectedCount");
    QTest::newRow("heading and two rows, xlwt") << "01_main_example.xlwt.xls" << 2;
    QTest::newRow("heading and two rows, LibreOffice") << "01_main_example.libreoffice.xls" << 2;
    QTest::newRow("numeric cells") << "02_numeric_cells.xlwt.xls" << 9;
    QTest::newRow("mobile validity") << "03_mobile_validity.xlwt.xls" << -1;
    QTest::newRow("duplicates") << "04_duplicates.xlwt.xls" << 4;
    QTest::newRow("blanks kept") << "05_blanks_kept.xlwt.xls" << 7;
    QTest::newRow("salutation mapping") << "06_salutation_mapping.xlwt.xls" << -1;
    QTest::newRow("data from row 3") << "07_used_range_rows_3_to_12.xlwt.xls" << 10;
    QTest::newRow("first sheet only") << "09_two_sheets_second_active.xlwt.xls" << 2;
    QTest::newRow("continued shared strings") << "10_long_strings.libreoffice.xls" << -1;
    QTest::newRow("empty first sheet") << "11_empty_first_sheet.xlwt.xls" << 0;
    QTest::newRow("no valid rows") << "12_no_valid_rows.xlwt.xls" << 0;
}

void TestXlsImport::workbooks()
{
    QFETCH(QString, file);
    QFETCH(int, expectedCount);

    ContactList imported;
    QString error;
    const bool ok = importContacts(TestSupport::dataPath(file), &imported, &error);
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(error.isEmpty());

    const ContactList expected = expectedContacts(file);
    if (expectedCount >= 0)
        QCOMPARE(expected.size(), expectedCount); // the expectation file itself is what we think
    QCOMPARE(imported.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QCOMPARE(imported.at(i), expected.at(i));
}

void TestXlsImport::unreadableFiles_data()
{
    QTest::addColumn<QString>("file");  // in the test data, or created below
    QTest::addColumn<QString>("reason"); // part of the message
    QTest::newRow("truncated") << TestSupport::dataPath("m1_truncated.xls") << "损坏";
    QTest::newRow("zero bytes") << TestSupport::dataPath("m3_zero_bytes.xls") << "空";
    QTest::newRow("random bytes") << TestSupport::dataPath("m4_random_bytes.xls") << "不是";
    QTest::newRow("damaged string length") << TestSupport::dataPath("m5_freexl_overread.xls") << "损坏";
    QTest::newRow("damaged directory") << TestSupport::dataPath("m6_freexl_overread.xls") << "损坏";
    QTest::newRow("stream that cannot be opened")
        << TestSupport::dataPath("m7_damaged_stream.xls") << "损坏";
    QTest::newRow("missing") << QStringLiteral("missing.xls") << "不存在";
    QTest::newRow("folder") << QStringLiteral("folder.xls") << "文件夹";
    QTest::newRow("signature only") << QStringLiteral("signature.xls") << "损坏";
    QTest::newRow("shared string longer than its table") << QStringLiteral("sst.xls") << "损坏";
}

void TestXlsImport::unreadableFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("folder.xls"));
    QVERIFY(TestSupport::writeAll(dir.filePath("signature.xls"),
                                  QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)
                                      + QByteArray(600, '\0')));
    QVERIFY(TestSupport::writeAll(
        dir.filePath("sst.xls"),
        withDamagedStringLength(TestSupport::readAll(TestSupport::dataPath("01_main_example.xlwt.xls")))));
    const QString path = QDir::isAbsolutePath(file) ? file : dir.filePath(file);

    // What the libraries below would print on the terminal, with criticals and
    // warnings as fatal as G_DEBUG=fatal-criticals makes them.
    int glibMessages = 0;
    const GLogFunc defaultHandler = g_log_set_default_handler(countMessage, &glibMessages);
    const GLogLevelFlags alwaysFatal = g_log_set_always_fatal(
        GLogLevelFlags(G_LOG_FATAL_MASK | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
    const auto restore = qScopeGuard([&] {
        g_log_set_always_fatal(alwaysFatal);
        g_log_set_default_handler(defaultHandler, nullptr);
    });

    ContactList imported;
    QString error;
    const bool ok = importContacts(path, &imported, &error);
    QCOMPARE(glibMessages, 0);
    QVERIFY(!ok);
    QVERIFY(imported.isEmpty());
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestXlsImport::rowsToContacts_data()
{
    QTest::addColumn<QVector<QStringList>>("rows");
    QTest::addColumn<QStringList>("mobiles");     // accepted, in order
    QTest::addColumn<QStringList>("salutations"); // of the accepted rows

    QTest::newRow("short rows padded")
        << QVector<QStringList>{row({u"13958700001"}), row({u" 13958700002 ", u"李四"})}
        << QStringList{"13958700001", "13958700002"} << QStringList{"", ""};
    QTest::newRow("duplicate after trimming")
        << QVector<QStringList>{row({u"13958700001", u"甲", u"男"}),
                                row({u" 13958700001", u"乙", u"女"})}
        << QStringList{"13958700001"} << QStringList{"先生"};
    QTest::newRow("exact mapping only")
        << QVector<QStringList>{row({u"13958700001", u"", u" 女 "}),
                                row({u"13958700002", u"", u"女士"}),
                                row({u"13958700003", u"", u"男男"}),
                                row({u"13958700004", u"", u"\t男"})}
        << QStringList{"13958700001", "13958700002", "13958700003", "13958700004"}
        << QStringList{"女士", "女士", "男男", "\t男"};
    QTest::newRow("empty row and heading skipped")
        << QVector<QStringList>{QStringList(), row({u"手机号", u"姓名", u"性别", u"备注"}),
                                row({u"13958700005", u"", u"", u""})}
        << QStringList{"13958700005"} << QStringList{""};
    QTest::newRow("duplicates among digits and among other texts")
        << QVector<QStringList>{row({u"05776420581"}), row({u"1395870000a"}),
                                row({u"1395870000b"}), row({u"1395870000a"}),
                                row({u"05776420581"}), row({u"15776420581"})}
        << QStringList{"05776420581", "1395870000a", "1395870000b", "15776420581"}
        << QStringList{"", "", "", ""};

    // Long enough for the duplicate check to sort by number; the mobiles come
    // in no order and every one of the first 200 turns up again later.
    QVector<QStringList> mixed;
    QStringList firstSeen;
    QSet<QString> seen;
    for (int i = 0; i < 3000; ++i) {
        const QString mobile = QString::number(13958700000LL + (i * 7919) % 2800);
        mixed.append(QStringList{mobile});
        if (!seen.contains(mobile)) {
            seen.insert(mobile);
            firstSeen.append(mobile);
        }
    }
    QTest::newRow("long list in no order") << mixed << firstSeen << QStringList(firstSeen.size(), QString());
}

void TestXlsImport::rowsToContacts()
{
    QFETCH(QVector<QStringList>, rows);
    QFETCH(QStringList, mobiles);
    QFETCH(QStringList, salutations);

    const ContactList contacts = ContactImport::contactsFromRows(rows);
    QCOMPARE(contacts.size(), mobiles.size());
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        QCOMPARE(contacts.at(i).mobile(), mobiles.at(i));
        QCOMPARE(contacts.at(i).salutation(), salutations.at(i));
        QCOMPARE(contacts.at(i).rowId, -(i + 1));
        QVERIFY(contacts.at(i).ticked);
    }
}

void TestXlsImport::readerPadsShortRowsAndKeepsRowsAligned()
{
    // The data-from-row-3 workbook: rows 1 and 2 are empty but still present,
    // so row numbers stay those of the sheet.
    XlsReader reader;
    QVector<QStringList> sheet;
    QString sheetError;
    const bool sheetOk = reader.readFirstSheet(
        TestSupport::dataPath("07_used_range_rows_3_to_12.xlwt.xls"), 6, &sheet, &sheetError);
    QVERIFY2(sheetOk, qPrintable(sheetError));
    QCOMPARE(sheet.size(), 12);
    for (const QStringList &cells : sheet)
        QCOMPARE(cells.size(), 6);
    QCOMPARE(sheet.at(0), QStringList(6, QString()));
    QCOMPARE(sheet.at(2).at(0), QStringLiteral("13958700003"));
    QCOMPARE(sheet.at(11).at(3), QStringLiteral("第12行"));
}

namespace {

QByteArray record(quint16 id, const QByteArray &body)
{
    QByteArray bytes;
    bytes.append(char(id & 0xFF)).append(char(id >> 8));
    bytes.append(char(body.size() & 0xFF)).append(char(body.size() >> 8));
    return bytes + body;
}

QByteArray bof(quint16 version)
{
    QByteArray body(16, '\0');
    body[0] = char(version & 0xFF);
    body[1] = char(version >> 8);
    return record(0x0809, body);
}

QByteArray boundSheetAt(quint32 offset)
{
    QByteArray body(8, '\0');
    for (int i = 0; i < 4; ++i)
        body[i] = char((offset >> (8 * i)) & 0xFF);
    body[6] = 1; // name "S", one byte per character
    body[7] = 'S';
    return record(0x0085, body);
}

} // namespace

void TestXlsImport::workbookStreamStatus_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("status");
    using S = Biff8Workbook::Status;
    const QByteArray eof = record(0x000A, {});
    QTest::newRow("password") << bof(0x0600) + record(0x002F, QByteArray(6, '\1')) << int(S::Encrypted);
    QTest::newRow("biff5") << bof(0x0500) + eof << int(S::OlderBiff);
    QTest::newRow("no sheet") << bof(0x0600) + eof << int(S::Damaged);
    QTest::newRow("sheet beyond stream") << bof(0x0600) + boundSheetAt(100000) + eof << int(S::Damaged);
    QTest::newRow("record longer than stream") << bof(0x0600) + QByteArray("\x85\x00\xff\xff", 4) << int(S::Damaged);
    QTest::newRow("empty") << QByteArray() << int(S::Damaged);
    QTest::newRow("sheet") << bof(0x0600) + boundSheetAt(36) + eof + bof(0x0600) + eof << int(S::Ok);
}

void TestXlsImport::workbookStreamStatus()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, status);
    Biff8Workbook workbook;
    QCOMPARE(int(workbook.loadStream(stream)), status);
}

void TestXlsImport::stringsAcrossContinueRecords()
{
    // "ab" + "中文" split over three records: compressed, then wide after a
    // CONTINUE that repeats the option byte, then a second string.
    QByteArray sst("\2\0\0\0\2\0\0\0", 8);
    sst += QByteArray("\4\0\0ab", 5);                    // 4 chars, compressed
    const QByteArray cont1 = QByteArray("\1\x2d\x4e", 3);  // wide: 中
    const QByteArray cont2 = QByteArray("\1\x87\x65", 3)   // wide: 文
        + QByteArray("\1\0\0z", 4);                       // next string "z"
    QStringList strings;
    QVERIFY(Biff8Workbook::parseStrings({sst, cont1, cont2}, &strings));
    QCOMPARE(strings, (QStringList{QStringLiteral("ab中文"), QStringLiteral("z")}));

    // A string cut short by the end of the table is damage, not a shorter table.
    QVERIFY(!Biff8Workbook::parseStrings({sst}, &strings));
}

namespace {

QByteArray u16(quint16 value)
{
    return QByteArray(1, char(value & 0xFF)) + char(value >> 8);
}

// A FORMULA record for cell (0, column) whose cached result is the 8 bytes given.
QByteArray formula(quint16 column, const QByteArray &result)
{
    return record(0x0006, u16(0) + u16(column) + u16(0) + result + QByteArray(6, '\0') + u16(0));
}

QByteArray marked(quint8 kind, quint8 value)
{
    return QByteArray(1, char(kind)) + '\0' + char(value) + QByteArray(3, '\0') + "\xFF\xFF";
}

QByteArray boolErr(quint16 column, quint8 value, bool error)
{
    return record(0x0205, u16(0) + u16(column) + u16(0) + char(value) + char(error));
}

// One worksheet whose cells are the records given.
QByteArray sheetWith(const QByteArray &cells)
{
    const QByteArray eof = record(0x000A, {});
    const QByteArray globals = bof(0x0600) + boundSheetAt(0) + eof;
    return bof(0x0600) + boundSheetAt(quint32(globals.size())) + eof + bof(0x0600) + cells + eof;
}

class FirstRow : public SheetRowSink
{
public:
    void takeRow(qsizetype rowNumber, std::span<QString> cells) override
    {
        if (rowNumber == 1) {
            for (const QString &cell : cells)
                row.append(QStringView(cell).toString());
        }
    }
    QStringList row;
};

} // namespace

// Formula cells read as their cached result; booleans as TRUE/FALSE; errors
// as empty cells.
void TestXlsImport::formulaAndBooleanCells_data()
{
    QTest::addColumn<QByteArray>("cells");
    QTest::addColumn<QStringList>("expected");

    double number = 13958700001.0;
    const QByteArray numberBytes(reinterpret_cast<const char *>(&number), 8);
    const QByteArray text = record(0x0207, u16(11) + '\0' + "13958700001");
    QTest::newRow("number result") << formula(0, numberBytes) << QStringList{"13958700001", "", "", ""};
    QTest::newRow("text result in the STRING record")
        << formula(1, marked(0, 0)) + text << QStringList{"", "13958700001", "", ""};
    QTest::newRow("shared formula between formula and text")
        << formula(0, marked(0, 0)) + record(0x04BC, QByteArray(10, '\0')) + text
        << QStringList{"13958700001", "", "", ""};
    QTest::newRow("text continued, wide after the break")
        << formula(3, marked(0, 0)) + record(0x0207, u16(4) + '\0' + "ab")
               + record(0x003C, QByteArray("\1\x2d\x4e\x87\x65", 5))
        << QStringList{"", "", "", QStringLiteral("ab中文")};
    QTest::newRow("boolean, error and empty-text results")
        << formula(0, marked(1, 1)) + formula(1, marked(1, 0)) + formula(2, marked(2, 0x2A))
               + formula(3, marked(3, 0))
        << QStringList{"TRUE", "FALSE", "", ""};
    QTest::newRow("boolean and error cells")
        << boolErr(0, 1, false) + boolErr(1, 0, false) + boolErr(2, 0x07, true)
        << QStringList{"TRUE", "FALSE", "", ""};
    QTest::newRow("a text record without its formula")
        << boolErr(0, 1, false) + text << QStringList{"TRUE", "", "", ""};
}

void TestXlsImport::formulaAndBooleanCells()
{
    QFETCH(QByteArray, cells);
    QFETCH(QStringList, expected);
    Biff8Workbook workbook;
    QCOMPARE(workbook.loadStream(sheetWith(cells)), Biff8Workbook::Status::Ok);
    FirstRow sink;
    QString error;
    QVERIFY2(workbook.readFirstSheet(4, sink, &error), qPrintable(error));
    QCOMPARE(sink.row, expected);
}

QTEST_GUILESS_MAIN(TestXlsImport)
#include "test_xlsimport.moc"
