#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <string>
#include <vector>

// A small pull parser for the large parts of a workbook (sheet and shared
// strings), several times faster than QXmlStreamReader on them. It reads
// UTF-8 only, knows no DTD (a document with one is refused, as are unknown
// entities), checks that elements nest properly and reports a document cut
// short. Names are local names: any namespace prefix is dropped.
class XmlScanner
{
public:
    enum class Token { StartElement, EndElement, Text, EndDocument, Error };

    explicit XmlScanner(QIODevice *device);

    Token next();

    // Of the current start or end element.
    QByteArrayView name() const;
    // The value of an attribute of the current start element, entities
    // decoded; null when there is no such attribute.
    QString attribute(QByteArrayView localName) const;
    // The same, as it stands in the document (entities not decoded); valid
    // until the next call of next(). Meant for values known to be plain ASCII.
    QByteArrayView rawAttribute(QByteArrayView localName) const;
    // Of the current text token: character data with entities decoded and
    // line ends normalised to LF, or the content of a CDATA section.
    QString text() const;

    // Skips to the end of the current start element.
    bool skipElement();
    // The text inside the current start element up to its end; child
    // elements are skipped but their text counts.
    QString readElementText();

    bool hasError() const { return m_token == Token::Error; }
    QString errorString() const { return m_error; }

private:
    struct Attribute
    {
        QByteArrayView name;
        qsizetype valueStart;
        qsizetype valueEnd;
    };

    bool fill();
    qsizetype find(QByteArrayView pattern, qsizetype from);
    Token fail(const QString &error);
    Token startTag();
    void setName(QByteArrayView name);
    bool checkDeclaration();

    QIODevice *m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    bool m_started = false;
    bool m_pendingEnd = false;
    bool m_rootDone = false;
    Token m_token = Token::EndDocument;
    QByteArray m_name;
    QString m_text;
    std::vector<Attribute> m_attributes;
    QByteArray m_attributeBytes; // the start tag the attributes point into
    std::string m_openNames; // names of the open elements, each followed by NUL
    std::vector<qsizetype> m_openStarts;
    QString m_error;
};
