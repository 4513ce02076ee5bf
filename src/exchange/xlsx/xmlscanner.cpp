#include "exchange/xlsx/xmlscanner.h"

#include "core/workprogress.h"
#include "exchange/xlsx/expatparser.h"
#include "exchange/xlsx/xmlhandler.h"
#include "exchange/xlsx/xmlnamechars.h"

#include <QIODevice>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr qsizetype blockBytes = 1 << 18;
// Markup that goes on for megabytes is refused once that much has been read,
// instead of held in memory (XmlHandler::longestMarkupBytes).
constexpr qsizetype longestTagBytes = XmlHandler::longestMarkupBytes;

using ByteTable = std::array<bool, 256>;

// Bytes that a tight loop over the common case must stop at: markup,
// references, non-ASCII (checked as UTF-8) and the control characters XML
// does not allow; with lineEnds also tabs and line ends.
constexpr ByteTable specialBytes(std::string_view specials, bool lineEnds)
{
    ByteTable table{};
    for (int c = 0; c < 256; ++c) {
        const bool tabOrLineEnd = c == '\t' || c == '\n' || c == '\r';
        table[size_t(c)] = c >= 0x80 || (c < 0x20 && (!tabOrLineEnd || lineEnds));
    }
    for (const char c : specials)
        table[uchar(c)] = true;
    return table;
}

// Text in an element: '\r' becomes '\n', and "]]>" is not allowed.
constexpr ByteTable textSpecials = specialBytes("<&]\r", false);
// An attribute value: line ends and tabs become spaces.
constexpr ByteTable valueSpecials = specialBytes("<&\"'", true);
constexpr ByteTable commentSpecials = specialBytes("-", false);
constexpr ByteTable instructionSpecials = specialBytes("?", false);
constexpr ByteTable cdataSpecials = specialBytes("]\r", false);

constexpr ByteTable asciiNameStart = [] {
    ByteTable table{};
    for (int c = 0; c < 128; ++c)
        table[size_t(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    return table;
}();
constexpr ByteTable asciiNameChar = [] {
    ByteTable table = asciiNameStart;
    for (int c = 0; c < 128; ++c)
        table[size_t(c)] = table[size_t(c)] || (c >= '0' && c <= '9') || c == '.' || c == '-';
    return table;
}();

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool startsWith(const char *p, const char *end, std::string_view text)
{
    return size_t(end - p) >= text.size() && std::memcmp(p, text.data(), text.size()) == 0;
}

// The bytes from p on are a beginning of text (and may become it).
bool couldStartWith(const char *p, const char *end, std::string_view text)
{
    const size_t available = std::min(size_t(end - p), text.size());
    return std::memcmp(p, text.data(), available) == 0;
}

// How a piece of the document was read: whole (its length), not at all
// (invalid), or not yet (it goes on past the bytes read).
constexpr int invalid = 0;
constexpr int unfinished = -1;

// The UTF-8 character XML allows at p (its first byte is not ASCII): its
// length, invalid or unfinished.
int utf8Character(const char *p, const char *end, char32_t *code)
{
    const auto lead = uchar(*p);
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return invalid;
    }
    char32_t value = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if (p + i == end)
            return unfinished;
        const auto next = uchar(p[i]);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return invalid;
        value = (value << 6) | (next & 0x3F);
    }
    if (value == 0xFFFE || value == 0xFFFF)
        return invalid;
    *code = value;
    return length;
}

int utf8Encode(char32_t code, char *out)
{
    if (code < 0x80) {
        out[0] = char(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = char(0xC0 | (code >> 6));
        out[1] = char(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = char(0xE0 | (code >> 12));
        out[1] = char(0x80 | ((code >> 6) & 0x3F));
        out[2] = char(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (code >> 18));
    out[1] = char(0x80 | ((code >> 12) & 0x3F));
    out[2] = char(0x80 | ((code >> 6) & 0x3F));
    out[3] = char(0x80 | (code & 0x3F));
    return 4;
}

// A character that a scan stopped at: its length if it is a character XML
// allows (not ASCII: the scans stop only at ASCII they handle, or at control
// characters and markup that may not stand there), else invalid; unfinished
// when it goes on past end.
int checkedCharacter(const char *p, const char *end)
{
    if (uchar(*p) < 0x80)
        return invalid;
    char32_t code = 0;
    return utf8Character(p, end, &code);
}

// A character reference may name any character XML allows.
bool isAllowedCharacter(char32_t code)
{
    if (code < 0x20)
        return code == '\t' || code == '\n' || code == '\r';
    return !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE && code != 0xFFFF && code <= 0x10FFFF;
}

// The reference at p ("&..."): its length, invalid or unfinished; its
// character(s) as UTF-8 go to decoded (at most 4 bytes, never more than the
// reference takes). No entity is defined besides the five of XML itself.
int readReference(const char *p, const char *end, char *decoded, int *decodedLength)
{
    const char *at = p + 1;
    if (at == end)
        return unfinished;
    if (*at == '#') {
        ++at;
        if (at == end)
            return unfinished;
        const bool hex = *at == 'x';
        if (hex)
            ++at;
        char32_t code = 0;
        const char *digits = at;
        for (;; ++at) {
            if (at == end)
                return unfinished;
            const char c = *at;
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0)
                break;
            code = code * (hex ? 16 : 10) + char32_t(digit);
            if (code > 0x10FFFF)
                return invalid;
        }
        if (at == digits || *at != ';' || !isAllowedCharacter(code))
            return invalid;
        *decodedLength = utf8Encode(code, decoded);
        return int(at + 1 - p);
    }
    static constexpr std::array<std::pair<std::string_view, char>, 5> entities = {
        {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}}};
    for (const auto &[name, character] : entities) {
        if (startsWith(at, end, name)) {
            decoded[0] = character;
            *decodedLength = 1;
            return int(name.size()) + 1;
        }
    }
    // Unfinished while it may still become a name and its ';'.
    const char *name = at;
    while (at < end && (uchar(*at) >= 0x80 || asciiNameChar[uchar(*at)]))
        ++at;
    return at == end && (name == end || uchar(*name) >= 0x80 || asciiNameStart[uchar(*name)]) ? unfinished
                                                                                                : invalid;
}

// From p, checking each character on the way, up to marker, whose place
// at receives: whole (1), invalid or unfinished. The scan stops at the
// specials; the marker's first byte must be one of them.
int readUntil(const char *p, const char *end, const ByteTable &specials, std::string_view marker,
              const char **at)
{
    for (;;) {
        while (p < end && !specials[uchar(*p)])
            ++p;
        if (p == end)
            return unfinished;
        if (*p == marker.front()) {
            if (startsWith(p, end, marker)) {
                *at = p;
                return 1;
            }
            if (couldStartWith(p, end, marker))
                return unfinished;
            ++p;
            continue;
        }
        const int length = checkedCharacter(p, end);
        if (length <= 0)
            return length;
        p += length;
    }
}

// The value of an attribute from p up to its closing quote, which valueEnd
// receives: whole (1), invalid or unfinished. normalize is set when it holds
// references, tabs or line ends, which normalizedValue() replaces.
int readAttributeValue(char *p, const char *end, char quote, char **valueEnd, bool *normalize)
{
    for (;;) {
        while (p < end && !valueSpecials[uchar(*p)])
            ++p;
        if (p == end)
            return unfinished;
        const char c = *p;
        if (c == quote) {
            *valueEnd = p;
            return 1;
        }
        if (c == '"' || c == '\'') {
            ++p;
        } else if (c == '&') {
            char decoded[4];
            int decodedLength = 0;
            const int length = readReference(p, end, decoded, &decodedLength);
            if (length <= 0)
                return length;
            p += length;
            *normalize = true;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            ++p;
            *normalize = true;
        } else {
            const int length = checkedCharacter(p, end); // '<' and control characters are refused
            if (length <= 0)
                return length;
            p += length;
        }
    }
}

// The name at p: its length, invalid or unfinished. A name ends at the first
// byte that cannot continue it.
int readName(const char *p, const char *end)
{
    const char *at = p;
    for (;;) {
        if (at == end)
            return unfinished;
        const auto c = uchar(*at);
        if (c < 0x80) {
            if (!(at == p ? asciiNameStart[c] : asciiNameChar[c]))
                break;
            ++at;
            continue;
        }
        char32_t code = 0;
        const int length = utf8Character(at, end, &code);
        if (length == unfinished)
            return unfinished;
        if (length == invalid || !(at == p ? isXmlNameStartChar(code) : isXmlNameChar(code)))
            return invalid;
        at += length;
    }
    return at == p ? invalid : int(at - p);
}

// The pseudo-attributes of an XML declaration between "<?xml" and "?>";
// false when they are not well formed. encoding receives the declared
// encoding, empty when none is declared.
bool readDeclaration(const char *p, const char *end, std::string_view *encoding)
{
    *encoding = {};
    int seen = 0; // 1 version, 2 encoding, 3 standalone: each once, in this order
    while (p < end) {
        if (!isSpace(*p))
            return false;
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            break;
        const char *name = p;
        while (p < end && *p != '=' && !isSpace(*p) && uchar(*p) < 0x80)
            ++p;
        const std::string_view key(name, size_t(p - name));
        while (p < end && isSpace(*p))
            ++p;
        if (p == end || *p != '=' || key.empty())
            return false;
        ++p;
        while (p < end && isSpace(*p))
            ++p;
        if (p == end || (*p != '"' && *p != '\''))
            return false;
        const char quote = *p++;
        const char *value = p;
        while (p < end && *p != quote) {
            const char c = *p;
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
                  || c == '-' || c == '_'))
                return false;
            ++p;
        }
        if (p == end)
            return false;
        const std::string_view text(value, size_t(p - value));
        ++p;
        if (key == "version" && seen == 0) {
            seen = 1;
        } else if (key == "encoding" && seen == 1) {
            const char first = text.empty() ? '\0' : text.front();
            if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')))
                return false;
            *encoding = text;
            seen = 2;
        } else if (key == "standalone" && (seen == 1 || seen == 2) && (text == "yes" || text == "no")) {
            seen = 3;
        } else {
            return false;
        }
    }
    return seen > 0;
}

// text == lower, ignoring the case of ASCII letters.
bool equalsIgnoringCase(std::string_view text, std::string_view lower)
{
    return text.size() == lower.size()
           && std::equal(text.begin(), text.end(), lower.begin(),
                         [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a | 0x20) : a) == b; });
}

// How a document starts, once enough of it is read to tell.
enum class Start { Unknown, Utf8, Utf8WithMark, OtherEncoding };

Start documentStart(const char *p, const char *end, bool last)
{
    const qsizetype size = end - p;
    const bool moreToCome = !last && size <= longestTagBytes;
    if (size == 0)
        return moreToCome ? Start::Unknown : Start::Utf8;
    // UTF-16 and UTF-32, with or without a byte order mark, go to expat.
    if (p[0] == '\0' || uchar(p[0]) == 0xFE || uchar(p[0]) == 0xFF || (size >= 2 && p[1] == '\0'))
        return Start::OtherEncoding;
    if (size < 2 || (couldStartWith(p, end, "\xEF\xBB\xBF") && size < 3))
        return moreToCome ? Start::Unknown : Start::Utf8;
    const bool mark = startsWith(p, end, "\xEF\xBB\xBF");
    const Start utf8 = mark ? Start::Utf8WithMark : Start::Utf8;
    const char *at = p + (mark ? 3 : 0);
    if (end - at < 6)
        return moreToCome && couldStartWith(at, end, "<?xml") ? Start::Unknown : utf8;
    if (!startsWith(at, end, "<?xml") || !isSpace(at[5]))
        return utf8;
    const char *close = std::search(at, end, "?>", "?>" + 2);
    if (close == end)
        return moreToCome ? Start::Unknown : utf8;
    std::string_view encoding;
    if (readDeclaration(at + 5, close, &encoding) && !encoding.empty() && !equalsIgnoringCase(encoding, "utf-8"))
        return Start::OtherEncoding;
    return utf8; // a bad declaration fails in the scan
}

} // namespace

XmlScanner::XmlScanner(XmlHandler &handler) : m_handler(handler) {}

XmlScanner::~XmlScanner() = default;

bool XmlScanner::parse(QIODevice *device, QString *error)
{
    const auto failWith = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    bool started = false;
    qint64 bytesRead = 0;
    m_buffer.resize(size_t(blockBytes));
    m_at = m_end = m_buffer.data();
    for (;;) {
        // The unfinished rest goes to the front, the next block after it.
        const qsizetype rest = m_end - m_at;
        if (m_at != m_buffer.data())
            std::memmove(m_buffer.data(), m_at, size_t(rest));
        if (m_buffer.size() < size_t(rest + blockBytes))
            m_buffer.resize(size_t(rest + blockBytes));
        m_at = m_buffer.data();
        m_end = m_at + rest;
        const qint64 got = device->read(m_end, blockBytes);
        if (got < 0)
            return failWith(QString());
        m_end += got;
        const bool last = got == 0;
        bytesRead += got;

        if (!started) {
            const Start start = documentStart(m_at, m_end, last);
            if (start == Start::OtherEncoding) {
                ExpatParser expat(m_handler);
                expat.setBlockWatch(m_blockWatch);
                return expat.parse(device, QByteArrayView(m_at, m_end - m_at), error);
            }
            if (start == Start::Unknown) {
                if (m_blockWatch && !m_blockWatch(bytesRead))
                    return failWith(WorkProgress::cancelledMessage());
                continue;
            }
            started = true;
            if (start == Start::Utf8WithMark)
                m_at += 3;
        }

        if (scan(last) == Result::Failed)
            return failWith(m_handler.stopped() ? m_handler.stopReason() : QString());
        if (last) {
            const bool complete = m_at == m_end && !m_inCdata && m_place == Place::AfterRoot;
            return complete || failWith(QString());
        }
        if (m_end - m_at > longestTagBytes)
            return failWith(XmlHandler::tagTooLong());
        if (m_blockWatch && !m_blockWatch(bytesRead))
            return failWith(WorkProgress::cancelledMessage());
    }
}

XmlScanner::Result XmlScanner::scan(bool last)
{
    while (m_at < m_end) {
        Result result = Result::Read;
        if (!m_inCdata && *m_at == '<')
            result = scanBoundedMarkup(last);
        else if (m_inCdata || m_place == Place::InRoot)
            result = scanCharacters(last);
        else
            result = scanSpace(); // outside the root element only white space
        if (m_handler.stopped())
            return Result::Failed;
        if (result != Result::Read)
            return result;
    }
    return Result::More;
}

XmlScanner::Result XmlScanner::need(bool last)
{
    return last ? Result::Failed : Result::More;
}

XmlScanner::Result XmlScanner::notWhole(int read, bool last)
{
    return read == invalid ? Result::Failed : need(last);
}

XmlScanner::Result XmlScanner::scanSpace()
{
    char *p = m_at;
    while (p < m_end && isSpace(*p))
        ++p;
    m_at = p;
    m_atDocumentStart = false;
    return p == m_end || *p == '<' ? Result::Read : Result::Failed;
}

XmlScanner::Result XmlScanner::scanCharacters(bool last)
{
    const ByteTable &specials = m_inCdata ? cdataSpecials : textSpecials;
    char *p = m_at;
    char *const end = m_end;
    char *const begin = p;
    char *out = p; // the text so far, decoded in place: it never grows
    bool waiting = false;
    bool cdataClosed = false;
    for (;;) {
        char *const run = p;
        while (p < end && !specials[uchar(*p)])
            ++p;
        if (out != run)
            std::memmove(out, run, size_t(p - run));
        out += p - run;
        if (p == end || *p == '<')
            break;
        const char c = *p;
        if (c == '&') {
            char decoded[4];
            int decodedLength = 0;
            const int length = readReference(p, end, decoded, &decodedLength);
            if (length == invalid)
                return Result::Failed;
            if (length == unfinished) {
                waiting = true;
                break;
            }
            out = std::copy_n(decoded, decodedLength, out);
            p += length;
        } else if (c == '\r') {
            if (p + 1 == end && !last) {
                waiting = true;
                break;
            }
            *out++ = '\n';
            p += p + 1 < end && p[1] == '\n' ? 2 : 1;
        } else if (c == ']') {
            if (startsWith(p, end, "]]>")) {
                if (!m_inCdata)
                    return Result::Failed; // "]]>" may only end a CDATA section
                cdataClosed = true;
                break;
            }
            if (end - p < 3 && couldStartWith(p, end, "]]>") && !last) {
                waiting = true;
                break;
            }
            *out++ = *p++;
        } else {
            const int length = checkedCharacter(p, end);
            if (length == invalid)
                return Result::Failed;
            if (length == unfinished) {
                waiting = true;
                break;
            }
            out = std::copy(p, p + length, out);
            p += length;
        }
    }
    if (out != begin)
        m_handler.characters(begin, int(out - begin));
    m_at = cdataClosed ? p + 3 : p;
    m_inCdata = m_inCdata && !cdataClosed;
    return waiting ? need(last) : Result::Read;
}

XmlScanner::Result XmlScanner::scanBoundedMarkup(bool last)
{
    char *const end = m_end;
    const bool bounded = end - m_at > longestTagBytes + 1;
    if (bounded)
        m_end = m_at + longestTagBytes + 1;
    const Result result = scanMarkup(last && !bounded);
    m_end = end;
    if (bounded && result == Result::More) {
        m_handler.stop(XmlHandler::tagTooLong());
        return Result::Failed;
    }
    return result;
}

XmlScanner::Result XmlScanner::scanMarkup(bool last)
{
    const char *const p = m_at;
    if (m_end - p < 2)
        return need(last);
    switch (p[1]) {
    case '/':
        return m_place == Place::InRoot ? scanEndTag(last) : Result::Failed;
    case '?':
        return scanInstruction(last);
    case '!':
        if (couldStartWith(p, m_end, "<!--"))
            return startsWith(p, m_end, "<!--") ? scanComment(last) : need(last);
        if (m_place == Place::InRoot && couldStartWith(p, m_end, "<![CDATA[")) {
            if (!startsWith(p, m_end, "<![CDATA["))
                return need(last);
            m_at += 9;
            m_inCdata = true;
            return Result::Read;
        }
        if (m_place == Place::BeforeRoot && couldStartWith(p, m_end, "<!DOCTYPE")) {
            if (!startsWith(p, m_end, "<!DOCTYPE"))
                return need(last);
            m_handler.stop(XmlHandler::doctypeRefused());
            return Result::Failed;
        }
        return Result::Failed;
    default:
        return m_place == Place::AfterRoot ? Result::Failed : scanStartTag(last);
    }
}

XmlScanner::Result XmlScanner::scanStartTag(bool last)
{
    char *p = m_at + 1;
    char *const end = m_end;
    char *const name = p;
    const int nameLength = readName(p, end);
    if (nameLength <= 0)
        return notWhole(nameLength, last);
    p += nameLength;
    char *const nameEnd = p;

    m_pending.clear();
    bool empty = false;
    for (;;) {
        const char *const beforeSpace = p;
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            return need(last);
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 == end)
                return need(last);
            if (p[1] != '>')
                return Result::Failed;
            p += 2;
            empty = true;
            break;
        }
        if (p == beforeSpace) // attributes are set apart by white space
            return Result::Failed;
        PendingAttribute attribute;
        attribute.name = p;
        const int attributeNameLength = readName(p, end);
        if (attributeNameLength <= 0)
            return notWhole(attributeNameLength, last);
        p += attributeNameLength;
        attribute.nameEnd = p;
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            return need(last);
        if (*p != '=')
            return Result::Failed;
        ++p;
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            return need(last);
        const char quote = *p;
        if (quote != '"' && quote != '\'')
            return Result::Failed;
        attribute.value = ++p;
        const int value = readAttributeValue(p, end, quote, &attribute.valueEnd, &attribute.normalize);
        if (value <= 0)
            return notWhole(value, last);
        p = attribute.valueEnd + 1;
        m_pending.push_back(attribute);
    }

    // The tag is whole: its names and values are ended in place and handed on.
    m_attributes.clear();
    for (PendingAttribute &attribute : m_pending) {
        if (attribute.normalize)
            attribute.valueEnd = normalizedValue(attribute.value, attribute.valueEnd);
        *attribute.nameEnd = '\0';
        *attribute.valueEnd = '\0';
        m_attributes.push_back(attribute.name);
        m_attributes.push_back(attribute.value);
    }
    *nameEnd = '\0';
    if (hasDuplicateAttribute())
        return Result::Failed;
    m_attributes.push_back(nullptr);
    m_at = p;
    m_atDocumentStart = false;
    m_place = Place::InRoot;
    m_handler.startElement(name, m_attributes.data());
    if (empty) {
        if (!m_handler.stopped())
            m_handler.endElement(name);
        if (m_openStarts.empty())
            m_place = Place::AfterRoot;
    } else {
        m_openStarts.push_back(m_openNames.size());
        m_openNames.append(name, size_t(nameEnd - name) + 1);
    }
    return Result::Read;
}

char *XmlScanner::normalizedValue(char *begin, char *end)
{
    char *out = begin;
    for (const char *p = begin; p < end;) {
        const char c = *p;
        if (c == '&') {
            int decodedLength = 0;
            const int length = readReference(p, end, out, &decodedLength);
            out += decodedLength;
            p += length;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            *out++ = ' ';
            p += c == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1;
        } else {
            *out++ = *p++;
        }
    }
    return out;
}

bool XmlScanner::hasDuplicateAttribute() const
{
    const size_t count = m_attributes.size() / 2;
    if (count < 2)
        return false;
    if (count <= 16) {
        for (size_t i = 0; i < count; ++i) {
            for (size_t j = i + 1; j < count; ++j) {
                if (std::strcmp(m_attributes[2 * i], m_attributes[2 * j]) == 0)
                    return true;
            }
        }
        return false;
    }
    // A hostile tag may hold a great many: sorted, not compared pairwise.
    std::vector<std::string_view> names;
    names.reserve(count);
    for (size_t i = 0; i < count; ++i)
        names.emplace_back(m_attributes[2 * i]);
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) != names.end();
}

XmlScanner::Result XmlScanner::scanEndTag(bool last)
{
    char *p = m_at + 2;
    char *const end = m_end;
    const char *const name = p;
    const int nameLength = readName(p, end);
    if (nameLength <= 0)
        return notWhole(nameLength, last);
    p += nameLength;
    while (p < end && isSpace(*p))
        ++p;
    if (p == end)
        return need(last);
    if (*p != '>')
        return Result::Failed;
    const size_t openStart = m_openStarts.back();
    const char *const openName = m_openNames.data() + openStart;
    if (m_openNames.size() - openStart - 1 != size_t(nameLength)
        || std::memcmp(openName, name, size_t(nameLength)) != 0)
        return Result::Failed; // not the element that is open
    m_at = p + 1;
    m_handler.endElement(openName);
    m_openNames.resize(openStart);
    m_openStarts.pop_back();
    if (m_openStarts.empty())
        m_place = Place::AfterRoot;
    return Result::Read;
}

XmlScanner::Result XmlScanner::scanComment(bool last)
{
    const char *close = nullptr;
    const int read = readUntil(m_at + 4, m_end, commentSpecials, "--", &close);
    if (read <= 0)
        return notWhole(read, last);
    // "--" ends a comment and may stand nowhere else.
    if (close + 2 == m_end)
        return need(last);
    if (close[2] != '>')
        return Result::Failed;
    m_at += close + 3 - m_at;
    m_atDocumentStart = false;
    return Result::Read;
}

XmlScanner::Result XmlScanner::scanInstruction(bool last)
{
    const char *p = m_at + 2;
    const char *const end = m_end;
    const char *const target = p;
    const int targetLength = readName(p, end);
    if (targetLength <= 0)
        return notWhole(targetLength, last);
    p += targetLength;
    const std::string_view name(target, size_t(targetLength));
    const bool declaration = name == "xml";
    // "xml" in any other case is reserved; the declaration stands only at the start.
    if ((declaration && !m_atDocumentStart) || (!declaration && equalsIgnoringCase(name, "xml")))
        return Result::Failed;
    const char *const content = p;
    if (p == end || (*p == '?' && p + 1 == end))
        return need(last);
    if (*p == '?') {
        if (p[1] != '>' || declaration)
            return Result::Failed;
    } else {
        if (!isSpace(*p))
            return Result::Failed;
        const int read = readUntil(p, end, instructionSpecials, "?>", &p);
        if (read <= 0)
            return notWhole(read, last);
    }
    std::string_view encoding;
    if (declaration && !readDeclaration(content, p, &encoding))
        return Result::Failed;
    m_at += p + 2 - m_at;
    m_atDocumentStart = false;
    return Result::Read;
}
