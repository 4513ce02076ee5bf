#pragma once

#include <QString>

#include <cstddef>

class QIODevice;
struct XML_ParserStruct;

// Feeds an XML document to expat block by block and hands its elements to a
// handler. Element and attribute names are local names (any prefix dropped).
// A document type declaration is refused: workbooks have none, and refusing
// it keeps entity expansion out entirely. So is a tag longer than any a
// workbook holds (a name of megabytes), as soon as that much has been read.
class ExpatParser
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        // attributes: name, value, name, value, ..., nullptr (names local).
        virtual void startElement(const char *name, const char **attributes) = 0;
        virtual void endElement(const char *name) = 0;
        // Character data of the current element, possibly in several pieces.
        virtual void characters(const char *data, int length) = 0;
    };

    explicit ExpatParser(Handler &handler);
    ~ExpatParser();
    ExpatParser(const ExpatParser &) = delete;
    ExpatParser &operator=(const ExpatParser &) = delete;

    // Reads device to its end. False on a read error, an XML error or stop();
    // error then receives the reason given to stop(), and is left empty when
    // the document or the device failed (the caller names the part).
    bool parse(QIODevice *device, QString *error);

    // Called by a handler: parsing ends and parse() fails with this reason.
    void stop(const QString &reason);

    // The attribute's value, or nullptr.
    static const char *attribute(const char **attributes, const char *localName);

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
    // Where the last event reported by expat ended in the document.
    void noteEventEnd();

    XML_ParserStruct *m_parser;
    qint64 m_fedBytes = 0;
    qint64 m_parsedBytes = 0;
    Handler &m_handler;
    QString m_stopReason;
};
