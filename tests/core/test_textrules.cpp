#include "core/smslength.h"
#include "core/textrules.h"

#include <QTest>

using namespace TextRules;

class TestTextRules : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void mobileValidity_data();
    void mobileValidity();
    void firstNumber_data();
    void firstNumber();
    void plainDecimal_data();
    void plainDecimal();
    void recipientLine_data();
    void recipientLine();
    void recipientListSkipsUntickedAndInvalid();
    void senderNumbers_data();
    void senderNumbers();
    void smsLength_data();
    void smsLength();
};

void TestTextRules::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("digits") << "13958700001" << 13958700001.0;
    QTest::newRow("not a number") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("stops at letter") << "1395870000a" << 1395870000.0;
    QTest::newRow("blanks inside skipped") << " 139 5870 0001" << 13958700001.0;
    QTest::newRow("negative") << "-1395870000" << -1395870000.0;
    QTest::newRow("plus sign") << "+1395870000" << 1395870000.0;
    QTest::newRow("decimal") << "1.5.3" << 1.5;
    QTest::newRow("point first") << ".5x" << 0.5;
    QTest::newRow("exponent") << "1e3abc" << 1000.0;
    QTest::newRow("exponent with sign") << "2E-1" << 0.2;
    QTest::newRow("bare exponent dropped") << "7e" << 7.0;
    QTest::newRow("bare exponent sign dropped") << "7e+x" << 7.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("second sign stops") << "+-5" << 0.0;
    QTest::newRow("eleven zeros") << "00000000000" << 0.0;
}

void TestTextRules::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(TextRules::leadingNumber(text), expected);
}

void TestTextRules::mobileValidity_data()
{
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<bool>("valid");    // recipient list and import
    QTest::addColumn<bool>("editorOk"); // contact editor
    QTest::newRow("eleven digits") << "13958700001" << true << true;
    QTest::newRow("blanks around") << "  13958700001 " << true << true;
    QTest::newRow("ten digits") << "1395870000" << false << false;
    QTest::newRow("twelve digits") << "139587000011" << false << false;
    QTest::newRow("eleven zeros") << "00000000000" << false << false;
    QTest::newRow("eleven letters") << "abcdefghijk" << false << false;
    QTest::newRow("ten digits and a letter") << "1395870000a" << true << true;
    QTest::newRow("leading zero") << "05776420581" << true << true;
    QTest::newRow("negative") << "-1395870000" << false << true;
    QTest::newRow("tab is not trimmed") << "\t13958700001" << false << false;
}

void TestTextRules::mobileValidity()
{
    QFETCH(QString, mobile);
    QFETCH(bool, valid);
    QFETCH(bool, editorOk);
    QCOMPARE(isValidMobile(mobile), valid);
    QCOMPARE(isAcceptableEditorMobile(mobile), editorOk);
}

void TestTextRules::firstNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no digit") << "abc" << "";
    QTest::newRow("leading zero dropped") << "电话 057764205811" << "57764205811";
    QTest::newRow("recipient line") << "13958700001@张三先生" << "13958700001";
    QTest::newRow("ten digits then letter") << "1395870000a@x" << "1395870000";
    QTest::newRow("sign before digit ignored") << "-13958700001" << "13958700001";
    QTest::newRow("decimal") << "x1.25" << "1.25";
}

void TestTextRules::firstNumber()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TextRules::firstNumber(text), expected);
}

void TestTextRules::plainDecimal_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mobile") << 13958700001.0 << "13958700001";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("negative") << -12.0 << "-12";
    QTest::newRow("large integral") << 1e20 << "100000000000000000000";
    QTest::newRow("fraction") << 1.5 << "1.5";
    QTest::newRow("fifteen digits") << 0.1 + 0.2 << "0.3";
    QTest::newRow("small") << 0.00001 << "0.00001";
}

void TestTextRules::plainDecimal()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(TextRules::plainDecimal(value), expected);
}

void TestTextRules::recipientLine_data()
{
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("salutation");
    QTest::addColumn<QString>("remark");
    QTest::addColumn<bool>("withRemark");
    QTest::addColumn<QString>("expected");
    QTest::newRow("without remark") << "13958700001" << "张三" << "先生" << "房间001号" << false
                                    << "13958700001@张三先生";
    QTest::newRow("with remark") << "13958700001" << "张三" << "先生" << "房间001号" << true
                                 << "13958700001@张三先生@房间001号";
    QTest::newRow("all empty") << "13958700003" << "" << "" << "" << true << "13958700003";
    QTest::newRow("only remark") << "13958700002" << "" << "" << "三楼" << true
                                 << "13958700002@@三楼";
    QTest::newRow("trimmed parts, salutation as stored")
        << " 13958700001 " << " 张三 " << " 先生" << "  备注  " << true
        << "13958700001@张三 先生@备注";
    QTest::newRow("at most two @ removed") << "13958700001" << "a@@" << "" << "" << true
                                           << "13958700001@a@";
}

void TestTextRules::recipientLine()
{
    QFETCH(QString, mobile);
    QFETCH(QString, name);
    QFETCH(QString, salutation);
    QFETCH(QString, remark);
    QFETCH(bool, withRemark);
    QFETCH(QString, expected);
    Contact contact;
    contact.setMobile(mobile);
    contact.setName(name);
    contact.setSalutation(salutation);
    contact.setRemark(remark);
    QCOMPARE(TextRules::recipientLine(contact, withRemark), expected);
}

void TestTextRules::recipientListSkipsUntickedAndInvalid()
{
    ContactList contacts(4);
    contacts[0].setMobile(u"13958700001");
    contacts[0].setName(u"张三");
    contacts[1].setMobile(u"13958700002");
    contacts[1].ticked = false;
    contacts[2].setMobile(u"00000000000");
    contacts[3].setMobile(u"13958700004");
    contacts[3].setName(u"李四");

    const RecipientList list = buildRecipientList(contacts, false);
    QCOMPARE(list.count, 2);
    QCOMPARE(list.text, QString("13958700001@张三\r\n13958700004@李四\r\n"));
    QCOMPARE(buildRecipientList({}, false).count, 0);
    QVERIFY(buildRecipientList({}, false).text.isEmpty());
}

void TestTextRules::senderNumbers_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("international")
        << QStringLiteral("+8613800138000") << QStringLiteral("13800138000");
    QTest::newRow("0086") << QStringLiteral("008613800138000") << QStringLiteral("13800138000");
    QTest::newRow("local") << QStringLiteral("13800138000") << QStringLiteral("13800138000");
    QTest::newRow("service number kept") << QStringLiteral("10086") << QStringLiteral("10086");
    QTest::newRow("86 as part of a short number")
        << QStringLiteral("8610086") << QStringLiteral("8610086");
}

void TestTextRules::senderNumbers()
{
    QFETCH(QString, number);
    QFETCH(QString, expected);
    QCOMPARE(localMobile(number), expected);
}

void TestTextRules::smsLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("characters");
    QTest::addColumn<qsizetype>("messages");
    const auto times = [](const QString &text, int count) { return text.repeated(count); };
    QTest::newRow("empty") << QString() << qsizetype(0) << qsizetype(0);
    QTest::newRow("7-bit, one full message") << times("a", 160) << qsizetype(160) << qsizetype(1);
    QTest::newRow("7-bit, one over") << times("a", 161) << qsizetype(161) << qsizetype(2);
    QTest::newRow("7-bit, two full parts") << times("a", 306) << qsizetype(306) << qsizetype(2);
    QTest::newRow("7-bit, one over two parts") << times("a", 307) << qsizetype(307) << qsizetype(3);
    QTest::newRow("accents of the alphabet") << times("éÄ", 80) << qsizetype(160) << qsizetype(1);
    QTest::newRow("line breaks are 7-bit") << times("a\n", 80) << qsizetype(160) << qsizetype(1);
    QTest::newRow("extension counts two") << times("a", 159) + "€" << qsizetype(160) << qsizetype(2);
    QTest::newRow("extension only") << times("[]", 40) << qsizetype(80) << qsizetype(1);
    QTest::newRow("Chinese, one message") << times("中", 70) << qsizetype(70) << qsizetype(1);
    QTest::newRow("Chinese, one over") << times("中", 71) << qsizetype(71) << qsizetype(2);
    QTest::newRow("Chinese, two full parts") << times("中", 134) << qsizetype(134) << qsizetype(2);
    QTest::newRow("Chinese, one over two parts") << times("中", 135) << qsizetype(135) << qsizetype(3);
    QTest::newRow("one Chinese character makes it UCS-2")
        << times("a", 159) + "中" << qsizetype(160) << qsizetype(3);
    QTest::newRow("not in the alphabet") << times("ç", 71) << qsizetype(71) << qsizetype(2);
    QTest::newRow("emoji take two units") << times("😀", 35) << qsizetype(35) << qsizetype(1);
    QTest::newRow("emoji, one over") << times("😀", 36) << qsizetype(36) << qsizetype(2);
}

void TestTextRules::smsLength()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, characters);
    QFETCH(qsizetype, messages);
    const SmsLength::Count count = SmsLength::count(text);
    QCOMPARE(count.characters, characters);
    QCOMPARE(count.messages, messages);
    QCOMPARE(SmsLength::describe(text), QStringLiteral("%1 字，%2 条").arg(characters).arg(messages));
}

QTEST_GUILESS_MAIN(TestTextRules)
#include "test_textrules.moc"
