#include "core/textrules.h"
#include "exchange/phonebook/phonebookfile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>


namespace {

using TestSupport::makeContact;

// The expected file, written as text with its CR LF breaks.
QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

const QString Tail = QStringLiteral("$$$$$$$$$$$@ @ @ @\r\n々\r\n");

} // namespace

class TestPhoneBookFile : public QObject
{
    Q_OBJECT

private slots:
    void workedExample();
    void layout_data();
    void layout();
    void fromContacts_data();
    void fromContacts();
    void gbkMatchesQtEncoder();
    void characterOutsideGbk();
    void longInput();
    void fileNameAlwaysGetsExtension_data();
    void fileNameAlwaysGetsExtension();
    void writeReplacesOlderFile();
    void writeBelowRegularFileFails();
    void failedWriteKeepsOlderFile();
};

void TestPhoneBookFile::workedExample()
{
    // fromHex skips the blanks.
    const QByteArray expected = QByteArray::fromHex("d6 dc ce e5 cf c2 ce e7 bf aa bb e1 0d 0a a1 a9"
                                                    "0d 0a 31 33 39 35 38 37 30 30 30 30 31 40 d5 c5"
                                                    "c8 fd cf c8 c9 fa 40 20 40 20 40 20 40 0d 0a 31"
                                                    "33 39 35 38 37 30 30 30 30 32 40 c0 ee cb c4 c5"
                                                    "ae ca bf 40 20 40 20 40 20 40 0d 0a 24 24 24 24"
                                                    "24 24 24 24 24 24 24 40 20 40 20 40 20 40 0d 0a"
                                                    "a1 a9 0d 0a");
    QCOMPARE(expected.size(), 100);

    const ContactList contacts = {makeContact("13958700001", "张三", "先生"),
                                  makeContact("13958700002", "李四", "女士")};
    const QString recipients = TextRules::buildRecipientList(contacts, false).text;
    QCOMPARE(PhoneBookFile::content(QStringLiteral("周五下午开会"), recipients), expected);
}

void TestPhoneBookFile::layout_data()
{
    QTest::addColumn<QString>("sms");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("expected");

    const QString one = QStringLiteral("13958700001@张三先生\r\n");
    const QString oneRecord = QStringLiteral("13958700001@张三先生@ @ @ @\r\n");

    QTest::newRow("no recipients") << "开会" << "" << "开会\r\n々\r\n" + Tail;
    QTest::newRow("nothing at all") << "" << "" << "\r\n々\r\n" + Tail;
    QTest::newRow("no SMS text") << "" << one << "\r\n々\r\n" + oneRecord + Tail;
    QTest::newRow("SMS lines typed with LF")
        << "第一行\n第二行" << one << "第一行\r\n第二行\r\n々\r\n" + oneRecord + Tail;
    QTest::newRow("SMS lines typed with CR LF")
        << "第一行\r\n第二行" << one << "第一行\r\n第二行\r\n々\r\n" + oneRecord + Tail;
    QTest::newRow("SMS lines typed with CR, empty line kept")
        << "第一行\r\r第三行\n" << "" << "第一行\r\n\r\n第三行\r\n\r\n々\r\n" + Tail;
    QTest::newRow("mobile starting with 0 left out")
        << "x" << "05776420581@王五\r\n" + one << "x\r\n々\r\n" + oneRecord + Tail;
    QTest::newRow("ten digits and a letter left out")
        << "x" << "1395870000a@王五\r\n" + one << "x\r\n々\r\n" + oneRecord + Tail;
    QTest::newRow("twelve digits left out")
        << "x" << "139587000012@王五\r\n" << "x\r\n々\r\n" + Tail;
    QTest::newRow("no digit at all left out") << "x" << "abc\r\n" << "x\r\n々\r\n" + Tail;
    QTest::newRow("line typed by hand, blanks trimmed")
        << "x" << "   13958700009@手工 输入   \r\n"
        << "x\r\n々\r\n13958700009@手工 输入@ @ @ @\r\n" + Tail;
    QTest::newRow("number after other text counts")
        << "x" << "电话 13958700001" << "x\r\n々\r\n电话 13958700001@ @ @ @\r\n" + Tail;
    QTest::newRow("blank lines, CR-only breaks, no final break")
        << "x" << "13958700001@甲\r\r\n   \r\r13958700002@乙\r13958700003@丙"
        << "x\r\n々\r\n13958700001@甲@ @ @ @\r\n13958700002@乙@ @ @ @\r\n"
           "13958700003@丙@ @ @ @\r\n"
               + Tail;
    QTest::newRow("line feed inside a name stays in its record")
        << "x" << "13958700003@张\n三先生\r\n\n\r\n"
        << "x\r\n々\r\n13958700003@张\n三先生@ @ @ @\r\n" + Tail;
    QTest::newRow("number read on past a blank")
        << "x" << "1395870000 1@甲\r\n" << "x\r\n々\r\n1395870000 1@甲@ @ @ @\r\n" + Tail;
    QTest::newRow("number with a fraction left out")
        << "x" << "13958700001.5@甲\r\n" << "x\r\n々\r\n" + Tail;
    QTest::newRow("number with an exponent counts")
        << "x" << "1.3958700001e10@甲\r\n" << "x\r\n々\r\n1.3958700001e10@甲@ @ @ @\r\n" + Tail;
    QTest::newRow("leading zeros do not count")
        << "x" << "0013958700001@甲\r\n0000000000@乙\r\n"
        << "x\r\n々\r\n0013958700001@甲@ @ @ @\r\n" + Tail;
    QTest::newRow("@@ spaced left to right")
        << "x" << "13958700001@@@张\r\n13958700002@A@@@@B\r\n"
        << "x\r\n々\r\n13958700001@ @@张@ @ @ @\r\n13958700002@A@ @@ @B@ @ @ @\r\n" + Tail;
}

void TestPhoneBookFile::layout()
{
    QFETCH(QString, sms);
    QFETCH(QString, recipients);
    QFETCH(QString, expected);
    QCOMPARE(PhoneBookFile::content(sms, recipients), gbk(expected));
}

// From the working list through the recipient list into the file, as the
// main window does it.
void TestPhoneBookFile::fromContacts_data()
{
    QTest::addColumn<ContactList>("contacts");
    QTest::addColumn<bool>("withRemark");
    QTest::addColumn<QString>("records");

    QTest::newRow("remark off")
        << ContactList {makeContact("13958700001", "张三", "先生", "房间001号")} << false
        << "13958700001@张三先生@ @ @ @\r\n";
    QTest::newRow("remark on")
        << ContactList {makeContact("13958700001", "张三", "先生", "房间001号")} << true
        << "13958700001@张三先生@房间001号@ @ @ @\r\n";
    QTest::newRow("remark on, empty name")
        << ContactList {makeContact("13958700002", "", "", "三楼")} << true
        << "13958700002@ @三楼@ @ @ @\r\n";
    QTest::newRow("remark on, empty remark")
        << ContactList {makeContact("13958700003", "王五", "", "")} << true
        << "13958700003@王五@ @ @ @\r\n";
    QTest::newRow("remark off, nothing but the mobile")
        << ContactList {makeContact("13958700003", "", "")} << false << "13958700003@ @ @ @\r\n";
    QTest::newRow("unticked and short mobiles left out")
        << ContactList {makeContact("13958700001", "甲", "", "", false),
                        makeContact("1395870000", "乙", ""), makeContact("05776420581", "丙", ""),
                        makeContact("13958700004", "丁", "")}
        << false << "13958700004@丁@ @ @ @\r\n";
    QTest::newRow("name with @ and @@")
        << ContactList {makeContact("13958700001", "A@B", "先生"),
                        makeContact("13958700002", "C@@D", "女士")}
        << false << "13958700001@A@B先生@ @ @ @\r\n13958700002@C@ @D女士@ @ @ @\r\n";
}

void TestPhoneBookFile::fromContacts()
{
    QFETCH(ContactList, contacts);
    QFETCH(bool, withRemark);
    QFETCH(QString, records);
    const QString recipients = TextRules::buildRecipientList(contacts, withRemark).text;
    QCOMPARE(PhoneBookFile::content(QStringLiteral("短信"), recipients),
             gbk("短信\r\n々\r\n" + records + Tail));
}

// Every character of the Basic Multilingual Plane comes out as Qt's GBK
// encoder writes it on its own, except that the invisible characters it
// drops without a trace (soft hyphen, zero-width joiner, ...) become "?"
// like every other character that GBK cannot hold.
void TestPhoneBookFile::gbkMatchesQtEncoder()
{
    QString all;
    QByteArray expected;
    for (char32_t c = 1; c <= 0xFFFF; ++c) {
        if (c == '\r' || c == '\n' || (c >= 0xD800 && c <= 0xDFFF))
            continue;
        const QChar character = QChar(char16_t(c));
        all += character;
        QStringEncoder encoder("GBK");
        const QByteArray bytes = encoder.encode(QStringView(&character, 1));
        expected += bytes.isEmpty() ? QByteArray("?") : bytes;
    }
    const QByteArray file = PhoneBookFile::content(all, QString());
    QCOMPARE(file.left(file.size() - gbk("\r\n々\r\n" + Tail).size()), expected);
}

void TestPhoneBookFile::characterOutsideGbk()
{
    // Hangul, an emoji (a surrogate pair) and a lone surrogate: one "?" each.
    const QString sms = QStringLiteral("a한b😀c") + QChar(0xD800);
    const QString recipients = QStringLiteral("13958700001@김\r\n");
    QCOMPARE(PhoneBookFile::content(sms, recipients),
             QByteArray("a?b?c?\r\n\xa1\xa9\r\n13958700001@?@ @ @ @\r\n") + gbk(Tail));
}

// Larger than the writer's buffer: an SMS text that alone does not fit, and
// many records, each one of them cut nowhere.
void TestPhoneBookFile::longInput()
{
    const QString sms(700'000, u'短');
    const QString recipients = QStringLiteral("13958700001@张三先生\r\n").repeated(60'000);
    const QByteArray expected = gbk(sms + "\r\n々\r\n"
                                    + QStringLiteral("13958700001@张三先生@ @ @ @\r\n").repeated(60'000)
                                    + Tail);
    QCOMPARE(PhoneBookFile::content(sms, recipients), expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("客户.xcl"));
    QString error;
    QVERIFY2(PhoneBookFile::write(path, sms, recipients, &error), qPrintable(error));
    QCOMPARE(TestSupport::readAll(path), expected);
}

void TestPhoneBookFile::fileNameAlwaysGetsExtension_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "/home/u/客户" << "/home/u/客户.xcl";
    QTest::newRow("typed with .xcl") << "/home/u/客户.xcl" << "/home/u/客户.xcl.xcl";
}

void TestPhoneBookFile::fileNameAlwaysGetsExtension()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QCOMPARE(PhoneBookFile::fileNameFor(chosen), written);
}

void TestPhoneBookFile::writeReplacesOlderFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("客户.xcl"));
    QVERIFY(TestSupport::writeAll(path, QByteArray(5000, 'x')));

    QString error;
    QVERIFY(PhoneBookFile::write(path, QStringLiteral("开会"), QStringLiteral("13958700001@甲"),
                                 &error));
    QCOMPARE(TestSupport::readAll(path),
             PhoneBookFile::content(QStringLiteral("开会"), QStringLiteral("13958700001@甲")));
    QCOMPARE(TestSupport::entriesOf(dir.path()), QStringList {QStringLiteral("客户.xcl")});
}

void TestPhoneBookFile::writeBelowRegularFileFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    QVERIFY(TestSupport::writeAll(blocker, "older"));
    const QString path = blocker + QStringLiteral("/客户.xcl");

    QString error;
    QVERIFY(!PhoneBookFile::write(path, QStringLiteral("开会"), QString(), &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(TestSupport::readAll(blocker), QByteArray("older"));
    QCOMPARE(TestSupport::entriesOf(dir.path()), QStringList {QStringLiteral("not-a-folder")});
}

void TestPhoneBookFile::failedWriteKeepsOlderFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("客户.xcl"));
    QVERIFY(TestSupport::writeAll(path, "older"));

    // A disk that fills up after 64 bytes: the file needs 100.
    const QString sms = QStringLiteral("周五下午开会");
    const QString recipients = QStringLiteral("13958700001@张三先生\r\n13958700002@李四女士");
    QString error;
    bool written = true;
    {
        TestSupport::FileSizeLimit limit(64);
        QVERIFY(limit.ok());
        written = PhoneBookFile::write(path, sms, recipients, &error);
    }
    QVERIFY(!written);
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(TestSupport::readAll(path), QByteArray("older"));
    QCOMPARE(TestSupport::entriesOf(dir.path()), QStringList {QStringLiteral("客户.xcl")});
}

QTEST_GUILESS_MAIN(TestPhoneBookFile)
#include "test_phonebookfile.moc"
