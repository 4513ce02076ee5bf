#include "xmlscanner.h"

#include <cstring>

namespace {

constexpr qsizetype chunkBytes = 1 << 16;
constexpr qsizetype maxTokenBytes = qsizetype(64) << 20;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameEnd(char c)
{
    return isSpace(c) || c == '/' || c == '>' || c == '=';
}

QByteArrayView localName(QByteArrayView name)
{
    const qsizetype colon = name.lastIndexOf(':');
    return colon < 0 ? name : name.sliced(colon + 1);
}

// Character data: CR LF and lone CR become LF, then entities are decoded.
// Returns false for an unknown or malformed entity.
bool decodeText(QByteArrayView raw, QString *out)
{
    QString text = QString::fromUtf8(raw);
    if (raw.contains('\r')) {
        text.replace(QLatin1StringView("\r\n"), QLatin1StringView("\n"));
        text.replace(u'\r', u'\n');
    }
    qsizetype amp = text.indexOf(u'&');
    if (amp < 0) {
        *out = std::move(text);
        return true;
    }
    QString decoded;
    decoded.reserve(text.size());
    qsizetype from = 0;
    while (amp >= 0) {
        decoded.append(QStringView(text).mid(from, amp - from));
        const qsizetype semicolon = text.indexOf(u';', amp);
        if (semicolon < 0 || semicolon - amp > 12)
            return false;
        const QStringView entity = QStringView(text).mid(amp + 1, semicolon - amp - 1);
        if (entity == u"lt") {
            decoded.append(u'<');
        } else if (entity == u"gt") {
            decoded.append(u'>');
        } else if (entity == u"amp") {
            decoded.append(u'&');
        } else if (entity == u"quot") {
            decoded.append(u'"');
        } else if (entity == u"apos") {
            decoded.append(u'\'');
        } else if (entity.startsWith(u'#')) {
            bool ok = false;
            const uint code = entity.startsWith(u"#x") ? entity.mid(2).toUInt(&ok, 16)
                                                       : entity.mid(1).toUInt(&ok, 10);
            if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            const char32_t c = code;
            decoded.append(QString::fromUcs4(&c, 1));
        } else {
            return false;
        }
        from = semicolon + 1;
        amp = text.indexOf(u'&', from);
    }
    decoded.append(QStringView(text).mid(from));
    *out = std::move(decoded);
    return true;
}

} // namespace

XmlScanner::XmlScanner(QIODevice *device) : m_device(device) {}

bool XmlScanner::fill()
{
    if (m_eof)
        return false;
    const qsizetype size = m_buffer.size();
    if (size - m_pos > maxTokenBytes)
        return false;
    m_buffer.resize(size + chunkBytes);
    const qint64 n = m_device->read(m_buffer.data() + size, chunkBytes);
    m_buffer.resize(size + std::max<qint64>(n, 0));
    if (n <= 0)
        m_eof = true;
    return n > 0;
}

// The position of pattern at or after from, reading on as needed; -1 at the
// end of the input.
qsizetype XmlScanner::find(QByteArrayView pattern, qsizetype from)
{
    for (;;) {
        const qsizetype at = QByteArrayView(m_buffer).indexOf(pattern, from);
        if (at >= 0)
            return at;
        from = std::max(from, m_buffer.size() - pattern.size() + 1);
        if (!fill())
            return -1;
    }
}

XmlScanner::Token XmlScanner::fail(const QString &error)
{
    m_error = error;
    return m_token = Token::Error;
}

bool XmlScanner::checkDeclaration()
{
    while (m_buffer.size() < 4 && fill()) {
    }
    const QByteArrayView head(m_buffer);
    if (head.startsWith("\xEF\xBB\xBF"))
        m_pos = 3;
    else if (head.startsWith("\xFE\xFF") || head.startsWith("\xFF\xFE")
             || (head.size() >= 2 && (head[0] == '\0' || head[1] == '\0')))
        return false;
    if (!QByteArrayView(m_buffer).sliced(m_pos).startsWith("<?xml"))
        return true;
    const qsizetype end = find("?>", m_pos);
    if (end < 0)
        return false;
    const QByteArray declaration = m_buffer.mid(m_pos, end - m_pos).toLower();
    const qsizetype encoding = declaration.indexOf("encoding");
    return encoding < 0 || declaration.indexOf("utf-8", encoding) > 0
           || declaration.indexOf("utf8", encoding) > 0;
}

XmlScanner::Token XmlScanner::next()
{
    if (m_token == Token::Error)
        return m_token;
    if (!m_started) {
        m_started = true;
        if (!checkDeclaration())
            return fail(QStringLiteral("unsupported encoding"));
    }
    if (m_pendingEnd) { // the end of a self-closing element
        m_pendingEnd = false;
        return m_token = Token::EndElement;
    }
    for (;;) {
        // Drop what has been read; tokens refer to positions from here on.
        if (m_pos > chunkBytes) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
        if (m_pos >= m_buffer.size() && !fill()) {
            if (!m_openStarts.empty() || !m_rootDone)
                return fail(QStringLiteral("premature end of document"));
            return m_token = Token::EndDocument;
        }
        if (m_buffer[m_pos] != '<') {
            qsizetype end = find("<", m_pos);
            if (end < 0)
                end = m_buffer.size();
            const QByteArrayView raw = QByteArrayView(m_buffer).sliced(m_pos, end - m_pos);
            m_pos = end;
            if (m_openStarts.empty()) { // only blanks may stand outside the root
                for (char c : raw) {
                    if (!isSpace(c))
                        return fail(QStringLiteral("text outside the root element"));
                }
                continue;
            }
            if (!decodeText(raw, &m_text))
                return fail(QStringLiteral("undefined entity"));
            return m_token = Token::Text;
        }
        if (m_pos + 1 >= m_buffer.size() && !fill())
            return fail(QStringLiteral("premature end of document"));
        const char second = m_buffer[m_pos + 1];
        if (second != '?' && second != '!' && second != '/')
            return startTag();
        // Markup other than an element: make sure its first characters are there.
        while (m_buffer.size() - m_pos < 9 && fill()) {
        }
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(m_pos);
        if (second == '?') {
            const qsizetype end = find("?>", m_pos + 2);
            if (end < 0)
                return fail(QStringLiteral("premature end of document"));
            m_pos = end + 2;
            continue;
        }
        if (rest.startsWith("<!--")) {
            const qsizetype end = find("-->", m_pos + 4);
            if (end < 0)
                return fail(QStringLiteral("premature end of document"));
            m_pos = end + 3;
            continue;
        }
        if (rest.startsWith("<![CDATA[")) {
            if (m_openStarts.empty())
                return fail(QStringLiteral("CDATA outside the root element"));
            const qsizetype end = find("]]>", m_pos + 9);
            if (end < 0)
                return fail(QStringLiteral("premature end of document"));
            m_text = QString::fromUtf8(QByteArrayView(m_buffer).sliced(m_pos + 9, end - m_pos - 9));
            m_pos = end + 3;
            return m_token = Token::Text;
        }
        if (second == '!')
            return fail(QStringLiteral("document type declarations are not supported"));
        { // an end tag
            const qsizetype end = find(">", m_pos + 2);
            if (end < 0)
                return fail(QStringLiteral("premature end of document"));
            QByteArrayView tag = QByteArrayView(m_buffer).sliced(m_pos + 2, end - m_pos - 2).trimmed();
            m_pos = end + 1;
            if (m_openStarts.empty())
                return fail(QStringLiteral("unexpected end tag"));
            const qsizetype start = m_openStarts.back();
            const QByteArrayView open(m_openNames.data() + start, qsizetype(m_openNames.size()) - start - 1);
            if (tag != open)
                return fail(QStringLiteral("mismatched end tag"));
            setName(localName(tag));
            m_openNames.resize(size_t(start));
            m_openStarts.pop_back();
            if (m_openStarts.empty())
                m_rootDone = true;
            return m_token = Token::EndElement;
        }
    }
}

XmlScanner::Token XmlScanner::startTag()
{
    if (m_openStarts.empty() && m_rootDone)
        return fail(QStringLiteral("more than one root element"));
    // The closing '>' is the first one outside quoted attribute values.
    qsizetype end = 0;
    char quote = 0;
    for (qsizetype from = m_pos + 1;;) {
        end = find(">", from);
        if (end < 0)
            return fail(QStringLiteral("premature end of document"));
        const char *data = m_buffer.constData();
        for (qsizetype i = from; i < end; ++i) {
            const char c = data[i];
            if (quote) {
                quote = c == quote ? 0 : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '<') {
                return fail(QStringLiteral("'<' inside a tag"));
            }
        }
        if (!quote)
            break;
        from = end + 1; // the '>' was inside a quoted value
    }
    const qsizetype tagLength = end - m_pos - 1;
    m_attributeBytes.resize(tagLength);
    std::memcpy(m_attributeBytes.data(), m_buffer.constData() + m_pos + 1, size_t(tagLength));
    m_pos = end + 1;
    const QByteArrayView tag(m_attributeBytes);
    const bool selfClosing = tag.endsWith('/');
    const qsizetype length = tag.size() - (selfClosing ? 1 : 0);

    qsizetype i = 0;
    while (i < length && !isNameEnd(tag[i]))
        ++i;
    const QByteArrayView qualified = tag.first(i);
    if (qualified.isEmpty())
        return fail(QStringLiteral("element without a name"));
    setName(localName(qualified));

    m_attributes.clear();
    for (;;) {
        while (i < length && isSpace(tag[i]))
            ++i;
        if (i >= length)
            break;
        const qsizetype nameStart = i;
        while (i < length && !isNameEnd(tag[i]))
            ++i;
        const QByteArrayView name = tag.sliced(nameStart, i - nameStart);
        while (i < length && isSpace(tag[i]))
            ++i;
        if (name.isEmpty() || i >= length || tag[i] != '=')
            return fail(QStringLiteral("malformed attribute"));
        ++i;
        while (i < length && isSpace(tag[i]))
            ++i;
        if (i >= length || (tag[i] != '"' && tag[i] != '\''))
            return fail(QStringLiteral("malformed attribute"));
        const qsizetype close = tag.indexOf(tag[i], i + 1);
        if (close < 0 || close >= length)
            return fail(QStringLiteral("malformed attribute"));
        m_attributes.push_back({localName(name), i + 1, close});
        i = close + 1;
    }

    if (selfClosing) {
        m_pendingEnd = true;
        if (m_openStarts.empty())
            m_rootDone = true;
    } else {
        m_openStarts.push_back(qsizetype(m_openNames.size()));
        m_openNames.append(qualified.data(), size_t(qualified.size()));
        m_openNames.push_back('\0');
    }
    return m_token = Token::StartElement;
}

// Reuses the name's storage: no allocation per element.
void XmlScanner::setName(QByteArrayView name)
{
    m_name.resize(name.size());
    std::memcpy(m_name.data(), name.data(), size_t(name.size()));
}

QByteArrayView XmlScanner::rawAttribute(QByteArrayView localName) const
{
    for (const Attribute &a : m_attributes) {
        if (a.name == localName)
            return QByteArrayView(m_attributeBytes).sliced(a.valueStart, a.valueEnd - a.valueStart);
    }
    return QByteArrayView();
}

QByteArrayView XmlScanner::name() const
{
    return m_name;
}

QString XmlScanner::attribute(QByteArrayView localName) const
{
    for (const Attribute &a : m_attributes) {
        if (a.name != localName)
            continue;
        const QByteArrayView raw =
            QByteArrayView(m_attributeBytes).sliced(a.valueStart, a.valueEnd - a.valueStart);
        QString value;
        if (!raw.contains('&') && !raw.contains('\r'))
            return QString::fromUtf8(raw);
        return decodeText(raw, &value) ? value : QString();
    }
    return QString();
}

QString XmlScanner::text() const
{
    return m_text;
}

bool XmlScanner::skipElement()
{
    int depth = 1;
    while (depth > 0) {
        const Token token = next();
        if (token == Token::StartElement)
            ++depth;
        else if (token == Token::EndElement)
            --depth;
        else if (token == Token::Error || token == Token::EndDocument)
            return false;
    }
    return true;
}

QString XmlScanner::readElementText()
{
    QString text;
    int depth = 1;
    while (depth > 0) {
        const Token token = next();
        if (token == Token::StartElement)
            ++depth;
        else if (token == Token::EndElement)
            --depth;
        else if (token == Token::Text)
            text.isEmpty() ? void(text = m_text) : void(text += m_text);
        else
            break;
    }
    return text;
}
