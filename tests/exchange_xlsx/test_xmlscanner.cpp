// XmlScanner against expat: for every document the same decision, and for an
// accepted one the same elements, attributes and text, however the document
// is split into reads.
#include "exchange/xlsx/expatparser.h"
#include "exchange/xlsx/xlsxpackage.h"
#include "exchange/xlsx/xmlhandler.h"
#include "exchange/xlsx/xmlnamechars.h"
#include "exchange/xlsx/xmlscanner.h"
#include "support/testsupport.h"
#include "support/xmlrecording.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <expat.h>
#include <minizip/unzip.h>

#include <algorithm>
#include <array>
#include <string_view>

using namespace XmlRecording;
using namespace std::string_view_literals;

class TestXmlScanner : public QObject
{
    Q_OBJECT

private slots:
    void wellFormedDocuments_data();
    void wellFormedDocuments();
    void malformedDocuments_data();
    void malformedDocuments();
    void nameCharacters_data();
    void nameCharacters();
    void nameTablesComeFromTheLinkedExpat();
    void longDocuments_data();
    void longDocuments();
    void refusalsWithReason_data();
    void refusalsWithReason();
    void markupAtTheLimit_data();
    void markupAtTheLimit();
    void readErrors_data();
    void readErrors();
    void handlerStops_data();
    void handlerStops();
    void workbookParts_data();
    void workbookParts();
    void randomMutations();
};

namespace {

// Bytes as written, NULs included.
QByteArray bytes(std::string_view text)
{
    return {text.data(), qsizetype(text.size())};
}

QByteArray utf8(char32_t c)
{
    return QString::fromUcs4(&c, 1).toUtf8();
}

QByteArray utf16le(const QString &text)
{
    QByteArray out("\xFF\xFE");
    for (const QChar c : text)
        out += char(c.unicode() & 0xFF), out += char(c.unicode() >> 8);
    return out;
}

QByteArray repeated(const QByteArray &piece, qsizetype totalBytes)
{
    return piece.repeated(totalBytes / piece.size() + 1);
}

const Reads oneRead;

// Every token of a short document lands on a read boundary in one of these.
const QList<Reads> shortReads{{1}, {2}, {3}, {7}, {4096}, {0, 16, 1}, {0, 300, 2}, oneRead};
// For documents of megabytes: expat scans an unfinished token again with
// every read, so tiny reads would take minutes.
const QList<Reads> longReads{{4096}, {0, 65536, 3}, oneRead};

// The first disagreement with expat (in one read) of either parser in any of
// the readings; empty when there is none.
QString firstDifference(const QByteArray &document, const Outcome &reference,
                        const QList<Reads> &readings)
{
    for (const Reads &reads : readings) {
        QString problem = difference(document, reference, parseWith<XmlScanner>(document, reads),
                                     QStringLiteral("the scanner (%1)").arg(reads.describe()));
        if (problem.isEmpty() && reads.length + reads.randomUpTo > 0) {
            problem = difference(document, reference, parseWith<ExpatParser>(document, reads),
                                 QStringLiteral("expat (%1)").arg(reads.describe()));
        }
        if (!problem.isEmpty())
            return problem;
    }
    return {};
}

// The same, after checking that expat decides as the table says.
QString firstDifference(const QByteArray &document, bool wellFormed, const QList<Reads> &readings)
{
    const Outcome reference = parseWith<ExpatParser>(document, oneRead);
    if (reference.accepted != wellFormed) {
        return QStringLiteral("expat %1 the document: \"%2\"")
            .arg(wellFormed ? QStringLiteral("refuses") : QStringLiteral("accepts"),
                 escaped(document));
    }
    return firstDifference(document, reference, readings);
}

} // namespace

void TestXmlScanner::wellFormedDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    auto row = [](const char *name, std::string_view text) {
        QTest::newRow(name) << bytes(text);
    };

    row("declaration", R"(<?xml version="1.0"?><a/>)");
    row("declaration, single quotes", "<?xml version='1.0' encoding='UTF-8'?>\n<a/>");
    row("declaration, standalone",
        R"(<?xml version="1.0" encoding="utf-8" standalone="yes"?><a/>)");
    row("declaration, white space",
        "<?xml\tversion = \"1.0\"  encoding = 'UTF-8'\r\n standalone = 'no' ?>\r\n<a/>");
    row("declaration of another version", R"(<?xml version="1.1"?><a/>)");
    row("byte order mark", "\xEF\xBB\xBF<?xml version=\"1.0\"?><a/>");
    row("byte order mark without declaration", "\xEF\xBB\xBF<a>x</a>");
    row("latin-1 declared",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"\xE9\">caf\xE9</a>");
    QTest::newRow("utf-16") << utf16le(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><联系人 a=\"中\">文😀</联系人>"));
    row("us-ascii declared", R"(<?xml version="1.0" encoding="US-ASCII"?><a>x</a>)");
    row("white space before the root", "\r\n \t<a/>");
    row("comments", "<!-- c --><a><!-- inner - x > <b> & --></a><!---->");
    row("instructions",
        "<?pi data?><a><?t  some ? data > ?><?xml-stylesheet href=\"x\"?></a><?x?>");
    row("cdata", "<a><![CDATA[x ]] ]> < & &amp; ]]]]><![CDATA[]]><![CDATA[<b>]]></a>");
    row("cdata line ends", "<a><![CDATA[1\r\n2\r3\n\r\n\r]]></a>");
    row("predefined entities", "<a b=\"&lt;&gt;&amp;&quot;&apos;\">&lt;&gt;&amp;&quot;&apos;</a>");
    row("character references",
        "<a b=\"&#65;&#x4e2d;&#x1F600;\">&#65;&#x4E2D;&#x1f600;&#0000066;&#x10FFFF;</a>");
    row("references to white space",
        "<a b=\"x&#9;y&#10;z&#13;w&#x20;\">&#9;&#10;&#13;&#xD;&#xA;</a>");
    row("line ends in text", "<a>1\r\n2\r3\n4\r\n\r\n5\r</a>");
    row("line ends in attributes", "<a b=\"1\r\n2\r3\n4\t5\r\n\r\n\" c='\r'/>");
    row("greater-than in text and attributes", "<a b=\"x>y\" c='>'>x > y ]] > ] ]]</a>");
    row("quotes inside quotes", R"(<a b='say "hi"' c="it's"/>)");
    row("empty elements", "<a><b/><c></c><d ></d ><e /><f\n\t/><g\r\n></g\r\n></a>");
    row("attributes", "<a z=\"1\" y = '2'\tx\n=\n\"\" w=\"&amp;\"/>");
    row("prefixed names",
        R"(<x:a xmlns:x="u" x:b="1" xml:space="preserve"><x:c/><:d/><e:/></x:a>)");
    row("ascii name characters", "<_a.b-c9 _:-.x=\"1\"><Z/></_a.b-c9>");
    row("chinese",
        "<联系人 姓名=\"张三\" "
        "备注='房间001号'>备注：房间００１号<手机>13958700001</手机></联系人>");
    row("four-byte characters", "<a t=\"😀\">😀x😀\xF4\x8F\xBF\xBF</a>");
    row("other allowed characters",
        "<a b=\"\x7F\xC2\x85\">\x7F\xC2\x80\xC2\x9F\xE2\x80\xA8\xEF\xBF\xBD\xEE\x80\x80</a>");
    row("markup after the root", "<a/>\r\n <!-- c -->\n<?pi x?>\n\t");
    row("deep nesting",
        (QByteArray("<a>").repeated(3000) + QByteArray("</a>").repeated(3000)).toStdString());
}

void TestXmlScanner::wellFormedDocuments()
{
    QFETCH(QByteArray, document);
    const QString problem = firstDifference(document, true, shortReads);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestXmlScanner::malformedDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    auto row = [](const char *name, std::string_view text) {
        QTest::newRow(name) << bytes(text);
    };

    row("mismatched tags", "<a><b></a></b>");
    row("unclosed tag", "<a><b></b>");
    row("end tag without start", "<a></a></a>");
    row("two roots", "<a/><b/>");
    row("text before the root", "x<a/>");
    row("text after the root", "<a/>x");
    row("reference after the root", "<a/>&amp;");
    row("cdata before the root", "<![CDATA[x]]><a/>");
    row("empty document", "");
    row("no root", "<?xml version=\"1.0\"?>\n<!-- c -->\n");
    row("unfinished tag", "<a b=\"1\"");
    row("unfinished comment", "<a><!-- x</a>");
    row("unfinished cdata", "<a><![CDATA[x</a>");
    row("unfinished instruction", "<a><?pi x</a>");
    row("less-than in an attribute", "<a b=\"<\"/>");
    row("ampersand in an attribute", "<a b=\"a & b\"/>");
    row("ampersand in text", "<a>a & b</a>");
    row("unterminated reference", "<a>&amp</a>");
    row("undefined entity", "<a>&nbsp;</a>");
    row("undefined entity in an attribute", "<a b=\"&x;\"/>");
    row("reference to NUL", "<a>&#0;</a>");
    row("reference to a surrogate", "<a>&#xD800;</a>");
    row("reference beyond unicode", "<a b=\"&#x110000;\"/>");
    row("reference to FFFE", "<a>&#xFFFE;</a>");
    row("reference to a control character", "<a>&#x1;</a>");
    row("reference without digits", "<a>&#;&#x;</a>");
    row("reference with capital X", "<a>&#X41;</a>");
    row("reference too long", "<a>&#99999999999999999999;</a>");
    row("NUL", "<a>\0</a>"sv);
    row("control character in text", "<a>\x01</a>");
    row("vertical tab in an attribute", "<a b=\"\x0B\"/>");
    row("control character in a comment", "<a><!--\x0C--></a>");
    row("control character in cdata", "<a><![CDATA[\x1F]]></a>");
    row("overlong sequence", "<a>\xC0\x80</a>");
    row("overlong three bytes", "<a>\xE0\x80\xAF</a>");
    row("surrogate", "<a>\xED\xA0\x80</a>");
    row("truncated sequence", "<a>\xE4\xB8</a>");
    row("truncated at the end", "<a/>\xE4\xB8");
    row("lone continuation byte", "<a>\x80</a>");
    row("FFFE", "<a>\xEF\xBF\xBE</a>");
    row("FFFF in an attribute", "<a b=\"\xEF\xBF\xBF\"/>");
    row("beyond unicode", "<a>\xF4\x90\x80\x80</a>");
    row("byte F8", "<a>\xF8</a>");
    row("invalid utf-8 in a comment", "<a><!--\xFF--></a>");
    row("cdata end in text", "<a>]]></a>");
    row("cdata end after brackets", "<a>]]]></a>");
    row("double hyphen in a comment", "<a><!-- a -- b --></a>");
    row("comment ending in a hyphen", "<!-- a ---><a/>");
    row("duplicate attribute", R"(<a b="1" b="2"/>)");
    row("duplicate prefixed attribute", R"(<a x:b="1" c="" x:b="2"/>)");
    row("attribute without quotes", "<a b=1/>");
    row("attribute without value", "<a b/>");
    row("attribute with an empty value", "<a b=/>");
    row("no space between attributes", R"(<a b="1"c="2"/>)");
    row("mixed quotes", R"(<a b="1'/>)");
    row("declaration after white space", " <?xml version=\"1.0\"?><a/>");
    row("declaration after the root", "<a/><?xml version=\"1.0\"?>");
    row("declaration inside the root", "<a><?xml version=\"1.0\"?></a>");
    row("second declaration", "<?xml version=\"1.0\"?><?xml version=\"1.0\"?><a/>");
    row("declaration in capitals", "<?XML version=\"1.0\"?><a/>");
    row("declaration without version", "<?xml encoding=\"UTF-8\"?><a/>");
    row("declaration in the wrong order",
        "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"UTF-8\"?><a/>");
    row("declaration without space", "<?xml version=\"1.0\"encoding=\"UTF-8\"?><a/>");
    row("standalone maybe", "<?xml version=\"1.0\" standalone=\"maybe\"?><a/>");
    row("empty encoding", "<?xml version=\"1.0\" encoding=\"\"?><a/>");
    row("unknown encoding", "<?xml version=\"1.0\" encoding=\"bogus\"?><a/>");
    row("utf-16 declared for utf-8", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>");
    row("non-ascii in us-ascii", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>\xC3\xA9</a>");
    row("instruction without target", "<? x?><a/>");
    row("name starting with a digit", "<1a/>");
    row("name starting with a hyphen", "<-a/>");
    row("name starting with a dot", "<.a/>");
    row("attribute name starting with a digit", "<a 1b=\"\"/>");
    row("non-ascii character outside names", "<a\u00D7/>");
    row("non-ascii name character first", "<\u00B7a/>");
    row("character beyond the name tables", "<a\U0001F600/>");
    row("space after less-than", "< a/>");
    row("space in an end tag", "<a></ a>");
    row("space before slash", "<a/ >");
    row("empty end tag", "<a></>");
    row("unknown markup", "<a><!x></a>");
}

void TestXmlScanner::malformedDocuments()
{
    QFETCH(QByteArray, document);
    const QString problem = firstDifference(document, false, shortReads);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// The name tables are expat's decisions: they were made by the expat the
// program links (the comparisons below would not see a difference in the
// characters they do not try).
void TestXmlScanner::nameTablesComeFromTheLinkedExpat()
{
    const XML_Expat_Version linked = XML_ExpatVersionInfo();
    const auto &made = xmlnamechars::expatVersion;
    QVERIFY2(linked.major == made[0] && linked.minor == made[1] && linked.micro == made[2],
             qPrintable(QStringLiteral("xmlnamechars.h comes from expat %1.%2.%3, the program "
                                       "links %4.%5.%6: run scripts/xmlnamechars.py again")
                            .arg(made[0])
                            .arg(made[1])
                            .arg(made[2])
                            .arg(linked.major)
                            .arg(linked.minor)
                            .arg(linked.micro)));
}

// Non-ASCII characters at the start of a name and inside one, in element and
// attribute names: the boundaries of the name-character ranges and a few
// characters from between them.
void TestXmlScanner::nameCharacters_data()
{
    QTest::addColumn<QByteArray>("document");
    QList<char32_t> characters{0x80,   0xB7,   0xD7,   0x2FF,  0x300,  0x37E,
                               0x203F, 0x3000, 0x3007, 0xFFFD, 0x1F600};
    for (const auto &range : xmlnamechars::nameRanges)
        characters << range.first - 1 << range.first << range.last << range.last + 1;
    for (const auto &range : xmlnamechars::nameStartRanges)
        characters << range.first - 1 << range.first << range.last << range.last + 1;
    std::sort(characters.begin(), characters.end());
    characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
    for (const char32_t c : characters) {
        if (c < 0x80 || (c >= 0xD800 && c < 0xE000) || c == 0xFFFE || c == 0xFFFF)
            continue;
        const QByteArray ch = utf8(c);
        const QByteArray hex = QByteArray::number(quint32(c), 16);
        QTest::addRow("U+%s first", hex.constData()) << "<" + ch + "/>";
        QTest::addRow("U+%s later", hex.constData()) << "<a" + ch + "/>";
        QTest::addRow("U+%s in an attribute", hex.constData())
            << "<a " + ch + "=\"\" b" + ch + "=\"\"/>";
        QTest::addRow("U+%s in an end tag", hex.constData()) << "<a" + ch + "></a" + ch + ">";
    }
}

void TestXmlScanner::nameCharacters()
{
    QFETCH(QByteArray, document);
    const QString problem = firstDifference(document, parseWith<ExpatParser>(document, oneRead),
                                            {{1}, {0, 5, 1}, oneRead});
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestXmlScanner::longDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    const QByteArray line = "联系人 Zhang &amp; 13958700001 &#x4E2D; ]] >\r\n";
    QTest::newRow("text of 3 MB") << "<a>" + repeated(line, 3 << 20) + "</a>";
    QTest::newRow("text of 3 MB in one piece") << "<a>" + repeated("x", 3 << 20) + "</a>";
    QTest::newRow("chinese text of 3 MB") << "<a>" + repeated("蓝舟", 3 << 20) + "</a>";
    QTest::newRow("text of 1 MB between many elements")
        << "<a>" + repeated("<b>" + line + "</b>\n<c x=\"1\"/>", 1 << 20) + "</a>";
    QTest::newRow("cdata of 2 MB")
        << "<a><![CDATA[" + repeated("<b>&amp; ]] ]>\r\n中", 2 << 20) + "]]></a>";
    QTest::newRow("attribute value of 512 KB")
        << "<a b=\"" + repeated("&amp;值 \r\n", 512 << 10) + "\"/>";
    QTest::newRow("comment of 512 KB") << "<a><!--" + repeated("- x", 512 << 10) + "--></a>";
    QTest::newRow("instruction of 512 KB") << "<a><?pi " + repeated("? >", 512 << 10) + "?></a>";
    QByteArray rows;
    for (int row = 1; row <= 20000; ++row) {
        rows += QStringLiteral(
                    "<row r=\"%1\"><c r=\"A%1\" t=\"s\"><v>%1</v></c><c r=\"B%1\" t=\"inlineStr\">"
                    "<is><t xml:space=\"preserve\"> 张三 %1 </t></is></c></row>")
                    .arg(row)
                    .toUtf8();
    }
    QTest::newRow("sheet of 20000 rows")
        << R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)"
            + rows + "</sheetData></worksheet>";
}

void TestXmlScanner::longDocuments()
{
    QFETCH(QByteArray, document);
    const QString problem = firstDifference(document, true, longReads);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// Documents both refuse with a reason for the user rather than as broken XML:
// any document type declaration, and markup too long for a workbook.
void TestXmlScanner::refusalsWithReason_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("reasonMentions");
    const QString doctype = QStringLiteral("文档类型声明");
    QTest::newRow("document type") << QByteArray("<!DOCTYPE a><a/>") << doctype;
    QTest::newRow("document type after a declaration")
        << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE a SYSTEM \"a.dtd\">\n<a/>") << doctype;
    QTest::newRow("document type defining an entity")
        << QByteArray("<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>") << doctype;
    const QString tooLong = QStringLiteral("名称过长");
    const QByteArray megabytes = repeated("a", 3 << 20);
    QTest::newRow("name of 3 MB") << "<" + megabytes + "/>" << tooLong;
    QTest::newRow("name of 3 MB in an end tag") << "<a></" + megabytes + ">" << tooLong;
    QTest::newRow("attribute name of 3 MB") << "<a " + megabytes + "=\"\"/>" << tooLong;
    QTest::newRow("attribute value of 3 MB") << "<a b=\"" + megabytes + "\"/>" << tooLong;
    QTest::newRow("white space of 3 MB in a tag")
        << "<a" + repeated(" ", 3 << 20) + "/>" << QString();
    QTest::newRow("comment of 3 MB") << "<a><!--" + megabytes + "--></a>" << QString();
    QTest::newRow("instruction of 3 MB") << "<a><?pi " + megabytes + "?></a>" << QString();
}

void TestXmlScanner::refusalsWithReason()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, reasonMentions);
    const Outcome reference = parseWith<ExpatParser>(document, oneRead);
    QVERIFY(!reference.accepted);
    QVERIFY(!reference.error.isEmpty());
    QVERIFY(reference.error.contains(reasonMentions));
    const QString problem =
        firstDifference(document, reference, document.size() > 100 ? longReads : shortReads);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// Markup whole within the limit and one byte more is read; one byte longer
// is refused, the same way for every way the reads cut it (the longest reads
// put it whole into one block, where no unfinished rest is held).
void TestXmlScanner::markupAtTheLimit_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("accepted");
    // The piece from '<' to '>', exactly length bytes, inside a document.
    const auto document = [](const QByteArray &open, const QByteArray &close, qint64 length,
                             const QByteArray &before, const QByteArray &after) {
        return before + open + QByteArray(length - open.size() - close.size(), 'x') + close + after;
    };
    const qint64 whole = XmlHandler::longestMarkupBytes + 1;
    for (const qint64 length : {whole, whole + 1}) {
        const bool accepted = length == whole;
        const QByteArray bytes = QByteArray::number(length);
        QTest::addRow("start tag of %s bytes", bytes.constData())
            << document("<a b=\"", "\"/>", length, {}, {}) << accepted;
        QTest::addRow("end tag of %s bytes", bytes.constData())
            << document("</a", ">", length, "<a>", {}).replace('x', ' ') << accepted;
        QTest::addRow("comment of %s bytes", bytes.constData())
            << document("<!--", "-->", length, "<a>", "</a>") << accepted;
        QTest::addRow("instruction of %s bytes", bytes.constData())
            << document("<?pi ", "?>", length, "<a>", "</a>") << accepted;
    }
}

void TestXmlScanner::markupAtTheLimit()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, accepted);
    const QString problem = firstDifference(document, accepted, longReads);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (!accepted) {
        const Outcome refused = parseWith<XmlScanner>(document, oneRead);
        QCOMPARE(refused.error, XmlHandler::tagTooLong());
    }
}

namespace {

// A device that fails part of the way fails the document, even where what
// was read so far is a whole document.
const QByteArray readErrorDocument = "<a>text</a>";

} // namespace

void TestXmlScanner::readErrors_data()
{
    QTest::addColumn<qint64>("failAt");
    QTest::newRow("at the start") << qint64(0);
    QTest::newRow("inside a tag") << qint64(2);
    QTest::newRow("inside text") << qint64(5);
    QTest::newRow("at the end") << qint64(readErrorDocument.size());
}

void TestXmlScanner::readErrors()
{
    QFETCH(qint64, failAt);
    for (Reads reads : shortReads) {
        reads.failAt = failAt;
        QVERIFY2(!parseWith<ExpatParser>(readErrorDocument, reads).accepted,
                 qPrintable(reads.describe()));
        const Outcome scanned = parseWith<XmlScanner>(readErrorDocument, reads);
        QVERIFY2(!scanned.accepted, qPrintable(reads.describe()));
        QVERIFY(scanned.error.isEmpty());
    }
}

void TestXmlScanner::handlerStops_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<char>("kind");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("at the root's start") << QByteArray("<a><b/>x</a>") << 'S' << QByteArray("a");
    QTest::newRow("at an empty element")
        << QByteArray("<a><b/><c/>x</a>") << 'S' << QByteArray("b");
    QTest::newRow("at an element's end")
        << QByteArray("<a><b>x</b><c/></a>") << 'E' << QByteArray("b");
    QTest::newRow("at the root's end") << QByteArray("<a><b/></a>") << 'E' << QByteArray("a");
    QTest::newRow("before an error") << QByteArray("<a><b/>&bad;</a>") << 'S' << QByteArray("b");
    QTest::newRow("after long text")
        << "<a>" + repeated("x\r\n", 600 << 10) + "<b/><c/></a>" << 'S' << QByteArray("b");
    QTest::newRow("in text") << QByteArray("<a><b/>x&amp;y\r\nz<c/></a>") << 'T' << QByteArray();
    QTest::newRow("in cdata") << QByteArray("<a><![CDATA[x\ny]]>z<c/></a>") << 'T' << QByteArray();
}

void TestXmlScanner::handlerStops()
{
    QFETCH(QByteArray, document);
    QFETCH(char, kind);
    QFETCH(QByteArray, name);
    const StopAt stop{kind, name, QStringLiteral("停止于 ") + QString::fromUtf8(name)};
    const Outcome reference = parseWith<ExpatParser>(document, oneRead, stop);
    QVERIFY(!reference.accepted);
    QCOMPARE(reference.error, stop.reason);
    for (const Reads &reads : document.size() > 4096 ? longReads : shortReads) {
        const Outcome scanned = parseWith<XmlScanner>(document, reads, stop);
        QVERIFY2(!scanned.accepted, qPrintable(reads.describe()));
        QCOMPARE(scanned.error, stop.reason);
        // Text may come in other pieces: the one stopped at is left out.
        const qsizetype compared = reference.events.size() - (kind == 'T' ? 1 : 0);
        QCOMPARE(scanned.events.size(), reference.events.size());
        QCOMPARE(scanned.events.first(compared), reference.events.first(compared));
        // expat still hands on the end of an empty element it stopped at; nothing more.
        QVERIFY(scanned.eventsAfterStop <= reference.eventsAfterStop);
    }
}

void TestXmlScanner::workbookParts_data()
{
    QTest::addColumn<QString>("path");
    const QList<QDir> folders{QDir(TestSupport::dataPath(QStringLiteral("xlsx"))),
                              QDir(QStringLiteral(LANZHOU_FUZZ_FOLDER "/corpus-sheetreaders"))};
    for (const QDir &folder : folders) {
        for (const QString &name : folder.entryList({QStringLiteral("*.xlsx")}, QDir::Files))
            QTest::newRow(qPrintable(name)) << folder.filePath(name);
    }
}

void TestXmlScanner::workbookParts()
{
    QFETCH(QString, path);
    XlsxPackage package;
    QString error;
    if (!package.open(path, &error))
        QSKIP("not a zip archive");
    // The package finds parts by name; minizip lists them.
    QStringList partNames;
    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    QVERIFY(zip);
    for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
        std::array<char, 1024> name{};
        QCOMPARE(
            unzGetCurrentFileInfo64(zip, nullptr, name.data(), name.size(), nullptr, 0, nullptr, 0),
            UNZ_OK);
        const QString partName = QString::fromUtf8(name.data());
        if (partName.endsWith(QLatin1String(".xml")) || partName.endsWith(QLatin1String(".rels")))
            partNames << partName;
    }
    unzClose(zip);
    int compared = 0;
    for (const QString &partName : partNames) {
        // A bomb's part is refused or fails on the way; that is no XML.
        std::unique_ptr<QIODevice> part = package.openPart(partName, 16 << 20, &error);
        if (!part)
            continue;
        QByteArray document;
        std::array<char, 1 << 16> block{};
        qint64 got = 0;
        while ((got = part->read(block.data(), block.size())) > 0)
            document.append(block.data(), got);
        if (got < 0)
            continue;
        const Outcome reference = parseWith<ExpatParser>(document, oneRead);
        QVERIFY2(reference.accepted, qPrintable(partName));
        const QString problem = firstDifference(document, reference, shortReads);
        QVERIFY2(problem.isEmpty(), qPrintable(partName + QStringLiteral(": ") + problem));
        ++compared;
    }
    QVERIFY(compared > 0);
}

namespace {

// Small documents that between them hold every kind of markup.
const QList<QByteArray> mutationSeeds{
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="r"><sheetData>
<row r="1" spans="1:4"><c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr"><is><t>张三</t></is></c>
<c r="C1"><v>13958700001</v></c></row></sheetData></worksheet>)",
    R"(<?xml version='1.0'?><sst xmlns="x" count="2" uniqueCount="2">
<si><t xml:space="preserve"> 房间001号 </t></si>
<si><r><rPr><b/></rPr><t>李&amp;四</t></r><r><t>&#x1F600;&lt;</t></r></si></sst>)",
    "\xEF\xBB\xBF<a b='1' c=\"&quot;&#65;\"><!-- c --><?pi x?>t\r\nu<![CDATA[ <x> ]] ]]></a>\n",
    "<联系人 姓名=\"王五\"><手机>139</手机><备注>\t😀 ]] &gt; </备注></联系人><!--end-->",
    "<a:b xmlns:a=\"u\"><a:c d=\"&#x9;\r\n\"/><e/>&#13;&#10;</a:b>",
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"\xE9\">\xE9t\xE9</a>",
    "<r><s>&apos;x&apos;</s><t a=\"&lt;\" b='&gt;'/><u></u ></r>"};

// Fragments that change what a scanner must decide, between '|'.
const QByteArrayList mutationFragments =
    QByteArray(
        "<|>|&|;|]|\"|'|\r|\n|\t| |/|=|:|?|!|-|&#x|&#|&#0;|&#xD800;|&amp;|&lt|&x;|<!--|-->|--|"
        "<![CDATA[|]]>|<?|?>|</|/>|<a>|</a>|<b/>| c=\"1\"|<?xml version=\"1.0\"?>|<!DOCTYPE a>|"
        "encoding=\"US-ASCII\"|\xC3|\xC3\xA9|\xED\xA0\x80|\xEF\xBF\xBE|\xEF\xBB\xBF|\xC2\xB7|"
        "\xCC\x80|\xE4\xB8\xAD|\xF0\x9F\x98\x80|\x80|\xFF|\x01|\x7F")
        .split('|')
    + QByteArrayList{QByteArray(1, '\0')};

QByteArray mutated(QByteArray document, QRandomGenerator &random)
{
    // Mostly one change, so that enough of the documents stay well-formed.
    const quint32 draw = random.bounded(10);
    const int changes = draw < 7 ? 1 : draw < 9 ? 2 : 3;
    for (int i = 0; i < changes; ++i) {
        const auto at = qsizetype(random.bounded(quint32(document.size() + 1)));
        switch (random.bounded(6)) {
        case 0:
            if (at < document.size())
                document[at] = char(random.bounded(256));
            break;
        case 1:
            document.insert(at, char(random.bounded(256)));
            break;
        case 2:
            document.remove(at, 1 + qsizetype(random.bounded(4)));
            break;
        case 3:
            document.truncate(at);
            break;
        default:
            document.insert(
                at,
                mutationFragments[qsizetype(random.bounded(quint32(mutationFragments.size())))]);
            break;
        }
    }
    return document;
}

} // namespace

void TestXmlScanner::randomMutations()
{
    QRandomGenerator random(20261207);
    QList<std::pair<QByteArray, QString>> divergences;
    int accepted = 0;
    constexpr int mutants = 20000;
    for (int i = 0; i < mutants; ++i) {
        const QByteArray document = mutated(mutationSeeds[i % mutationSeeds.size()], random);
        const Outcome reference = parseWith<ExpatParser>(document, oneRead);
        accepted += reference.accepted;
        const QString problem =
            firstDifference(document, reference, {oneRead, {0, 12, quint32(i)}});
        if (!problem.isEmpty())
            divergences.append({document, problem});
    }
    // Enough of both kinds for the comparison to mean something.
    QVERIFY(accepted > mutants / 10 && accepted < mutants * 9 / 10);
    std::sort(divergences.begin(), divergences.end(),
              [](const auto &a, const auto &b) { return a.first.size() < b.first.size(); });
    QStringList report;
    for (qsizetype i = 0; i < std::min<qsizetype>(divergences.size(), 15); ++i)
        report << divergences[i].second;
    QVERIFY2(divergences.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 mutated documents diverge; the shortest:\n")
                            .arg(divergences.size())
                            .arg(mutants)
                        + report.join(QStringLiteral("\n"))));
}

QTEST_GUILESS_MAIN(TestXmlScanner)
#include "test_xmlscanner.moc"
