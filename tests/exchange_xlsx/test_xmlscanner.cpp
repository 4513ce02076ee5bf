#include "xmlscanner.h"

#include <QBuffer>
#include <QtTest>

class TestXmlScanner : public QObject
{
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
    void tokensAcrossChunks();
};

namespace {

// The token stream in short form: <name a=value>, text in [brackets], </name>,
// and "!" for an error.
QString trace(const QByteArray &document, QByteArrayView attribute = "a")
{
    QBuffer buffer;
    buffer.setData(document);
    buffer.open(QIODevice::ReadOnly);
    XmlScanner xml(&buffer);
    QString out;
    for (;;) {
        switch (xml.next()) {
        case XmlScanner::Token::StartElement: {
            out += u'<' + QString::fromUtf8(xml.name());
            const QString value = xml.attribute(attribute);
            if (!value.isNull())
                out += u' ' + QString::fromUtf8(attribute) + u'=' + value;
            out += u'>';
            break;
        }
        case XmlScanner::Token::EndElement:
            out += QStringLiteral("</") + QString::fromUtf8(xml.name()) + u'>';
            break;
        case XmlScanner::Token::Text:
            out += u'[' + xml.text() + u']';
            break;
        case XmlScanner::Token::EndDocument:
            return out;
        case XmlScanner::Token::Error:
            return out + u'!';
        }
    }
}

} // namespace

void TestXmlScanner::tokens_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("declaration, nesting, self-closing")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<r><c a=\"1\"/><v>x</v></r>")
        << "<r><c a=1></c><v>[x]</v></r>";
    QTest::newRow("prefixes dropped") << QByteArray("<x:r xmlns:x=\"u\"><x:c r:a='2'>t</x:c></x:r>")
                                      << "<r><c a=2>[t]</c></r>";
    QTest::newRow("entities") << QByteArray("<r a=\"&lt;&amp;&quot;\">&lt;&gt;&amp;&apos;&#x5F20;&#19977;</r>")
                              << "<r a=<&\">[<>&'张三]</r>";
    QTest::newRow("line ends normalised, char ref kept")
        << QByteArray("<r>a\r\nb\rc&#13;</r>") << "<r>[a\nb\nc\r]</r>";
    QTest::newRow("cdata and comments") << QByteArray("<r><!-- <x> --><![CDATA[<b>&amp;]]></r>")
                                        << "<r>[<b>&amp;]</r>";
    QTest::newRow("'>' inside a quoted value") << QByteArray("<r a=\"x>y\">z</r>") << "<r a=x>y>[z]</r>";
    QTest::newRow("utf-8 bom") << QByteArray("\xEF\xBB\xBF<r>\xE5\xBC\xA0</r>") << "<r>[张]</r>";
    QTest::newRow("blanks around the root") << QByteArray("  <r/>\n") << "<r></r>";

    QTest::newRow("cut short") << QByteArray("<r><c>abc") << "<r><c>[abc]!";
    QTest::newRow("cut inside a tag") << QByteArray("<r><c a=\"1") << "<r>!";
    QTest::newRow("mismatched end tag") << QByteArray("<r><c></r>") << "<r><c>!";
    QTest::newRow("end tag without start") << QByteArray("</r>") << "!";
    QTest::newRow("unknown entity") << QByteArray("<r>&nbsp;</r>") << "<r>!";
    QTest::newRow("entity without end") << QByteArray("<r>a & b</r>") << "<r>!";
    QTest::newRow("character reference zero") << QByteArray("<r>&#0;</r>") << "<r>!";
    QTest::newRow("document type refused")
        << QByteArray("<!DOCTYPE r [<!ENTITY a \"aaaa\">]><r>&a;</r>") << "!";
    QTest::newRow("text outside the root") << QByteArray("x<r/>") << "!";
    QTest::newRow("second root") << QByteArray("<r/><r/>") << "<r></r>!";
    QTest::newRow("empty") << QByteArray() << "!";
    QTest::newRow("utf-16 refused") << QByteArray("\xFF\xFE<\0r\0/\0>\0", 10) << "!";
    QTest::newRow("other encoding refused")
        << QByteArray("<?xml version=\"1.0\" encoding=\"GBK\"?><r/>") << "!";
    QTest::newRow("malformed attribute") << QByteArray("<r a=1/>") << "!";
    QTest::newRow("'<' inside a tag") << QByteArray("<r <c/>") << "!";
}

void TestXmlScanner::tokens()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    QCOMPARE(trace(document), expected);
}

// Tokens that straddle the scanner's read chunks come out whole.
void TestXmlScanner::tokensAcrossChunks()
{
    QByteArray document("<r>");
    QString expected = QStringLiteral("<r>");
    for (int i = 0; document.size() < 300000; ++i) {
        const QByteArray value = QByteArray::number(i) + QByteArray(i % 13, '>');
        document += "<c a=\"" + value + "\">&#x5F20;" + QByteArray::number(i) + "</c><!-- -->";
        expected += QStringLiteral("<c a=%1>[张%2]</c>").arg(QString::fromLatin1(value)).arg(i);
    }
    document += "</r>";
    expected += QStringLiteral("</r>");
    QCOMPARE(trace(document), expected);
}

QTEST_GUILESS_MAIN(TestXmlScanner)
#include "test_xmlscanner.moc"
