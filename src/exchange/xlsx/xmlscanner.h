#pragma once

#include <QtGlobal>

#include <functional>
#include <string>
#include <vector>

class QIODevice;
class QString;
class XmlHandler;

// Reads an XML document from a device block by block and hands its elements
// to a handler. Workbook parts are UTF-8 and are read here directly, several
// times faster than a general parser; a document in another encoding (a byte
// order mark or a declaration that says so) goes to expat whole.
//
// The rules of well-formed XML are checked as expat checks them: names and
// nesting, attribute syntax and duplicates, entity and character references,
// characters XML does not allow, UTF-8 sequences, one root element. Text
// comes with line ends as "\n" and references replaced; attribute values
// also with their white space normalized. A document type declaration is
// refused (no entity is ever defined, so none can be expanded), and so is a
// tag, comment or instruction longer than any a workbook holds, as soon as
// that much has been read.
class XmlScanner
{
public:
    explicit XmlScanner(XmlHandler &handler);
    ~XmlScanner();
    XmlScanner(const XmlScanner &) = delete;
    XmlScanner &operator=(const XmlScanner &) = delete;

    // Reads device to its end. False on a read error, an XML error or when
    // the handler stopped; error then receives the handler's (or the
    // refusal's) reason, and is left empty when the document or the device
    // failed (the caller names the part).
    bool parse(QIODevice *device, QString *error);

    // Called after each block with the bytes read from the device so far;
    // false stops parsing with WorkProgress::cancelledMessage().
    void setBlockWatch(std::function<bool(qint64 bytesRead)> watch) { m_blockWatch = std::move(watch); }

private:
    // Read: a piece was handed on (or skipped); More: the rest is unfinished
    // and needs the next block; Failed: not well formed, or the handler stopped.
    enum class Result { Read, More, Failed };
    enum class Place { BeforeRoot, InRoot, AfterRoot };
    struct PendingAttribute
    {
        char *name = nullptr;
        char *nameEnd = nullptr;
        char *value = nullptr;
        char *valueEnd = nullptr;
        bool normalize = false; // holds references, tabs or line ends
    };

    // Hands on every whole piece of the buffer from m_at on; last: no more
    // bytes will come, so an unfinished piece is an error.
    Result scan(bool last);
    // Text of an element, or of a CDATA section up to its end.
    Result scanCharacters(bool last);
    Result scanSpace();
    // Markup read within its first longestTagBytes + 1 bytes: one not whole
    // by then is refused as too long, whatever the reads deliver.
    Result scanBoundedMarkup(bool last);
    Result scanMarkup(bool last);
    Result scanStartTag(bool last);
    Result scanEndTag(bool last);
    Result scanComment(bool last);
    Result scanInstruction(bool last);
    // More bytes are needed: More, or Failed when no more will come.
    static Result need(bool last);
    // A piece read as invalid or unfinished (see the .cpp): Failed or need().
    static Result notWhole(int read, bool last);
    // An attribute value with references replaced and white space made
    // spaces, in place; its new end.
    static char *normalizedValue(char *begin, char *end);
    bool hasDuplicateAttribute() const;

    XmlHandler &m_handler;
    std::function<bool(qint64)> m_blockWatch;
    std::vector<char> m_buffer; // the block being scanned, after the unfinished rest of the last
    char *m_at = nullptr;       // the first byte not handed on yet
    char *m_end = nullptr;      // the end of the bytes read
    std::vector<PendingAttribute> m_pending;
    std::vector<const char *> m_attributes; // handed to startElement
    std::string m_openNames; // the open elements' names, each ended by a NUL
    std::vector<size_t> m_openStarts;
    Place m_place = Place::BeforeRoot;
    bool m_inCdata = false;
    bool m_atDocumentStart = true;
};
