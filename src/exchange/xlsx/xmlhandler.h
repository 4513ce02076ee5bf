#pragma once

#include <QString>

#include <cstddef>
#include <cstring>

// Receives the elements of an XML document from a parser (XmlScanner, or
// ExpatParser for the encodings the scanner leaves to it). Names come as
// written, with any prefix; localName() drops it. Every text is UTF-8 and
// ends with a NUL.
class XmlHandler
{
public:
    virtual ~XmlHandler() = default;
    // attributes: name, value, name, value, ..., nullptr.
    virtual void startElement(const char *name, const char **attributes) = 0;
    virtual void endElement(const char *name) = 0;
    // Character data of the current element, possibly in several pieces.
    virtual void characters(const char *data, int length) = 0;

    // Parsing ends after the current event and fails with reason (the first
    // one given when called again). Called by the handler itself, or by the
    // parser for a document it refuses with a reason of its own.
    void stop(const QString &reason)
    {
        if (!m_stopped)
            m_stopReason = reason;
        m_stopped = true;
    }
    bool stopped() const { return m_stopped; }
    const QString &stopReason() const { return m_stopReason; }

    // The reasons a parser gives for a document it refuses itself.
    static QString doctypeRefused() { return QStringLiteral("工作簿内容已损坏（含有文档类型声明）"); }
    static QString tagTooLong() { return QStringLiteral("工作簿内容已损坏（元素或属性的名称过长）"); }
    // Longer than any tag, comment or instruction a workbook writes: markup
    // that is not whole within its first longestMarkupBytes + 1 bytes is
    // damage (or an attack) and refused with tagTooLong(), however the reads
    // cut the document, once that much has been read.
    static constexpr qint64 longestMarkupBytes = 1 << 20;

    // The value of the attribute with this local name, or nullptr.
    static const char *attribute(const char **attributes, const char *local)
    {
        for (; attributes[0]; attributes += 2) {
            if (std::strcmp(localName(attributes[0]), local) == 0)
                return attributes[1];
        }
        return nullptr;
    }

    // Inline: called for every element and attribute of a sheet with millions of cells.
    static const char *localName(const char *name)
    {
        for (const char *at = name; *at; ++at) {
            if (*at == ':')
                return at + 1;
        }
        return name;
    }

    // name == literal, without a call; stops at the first difference, so it
    // never reads past the end of name.
    template <std::size_t N>
    static bool isName(const char *name, const char (&literal)[N])
    {
        for (std::size_t i = 0; i < N; ++i) {
            if (name[i] != literal[i])
                return false;
        }
        return true;
    }

private:
    QString m_stopReason;
    bool m_stopped = false;
};
