#include "exchange/xlsx/expatparser.h"

#include "core/workprogress.h"
#include "exchange/xlsx/xmlhandler.h"

#include <QIODevice>

#include <expat.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int blockBytes = 1 << 18;
// XmlHandler::longestMarkupBytes. expat scans an unfinished tag again from its
// start with every block it is given, so a tag of many megabytes (one endless
// name) would cost time quadratic in its length before failing. As in
// XmlScanner, markup longer than this and one byte is refused whether it came
// whole within a block or not.
constexpr qint64 longestTagBytes = XmlHandler::longestMarkupBytes;

} // namespace

ExpatParser::ExpatParser(XmlHandler &handler)
    : m_parser(XML_ParserCreate(nullptr))
    , m_handler(handler)
{
    if (!m_parser)
        return;
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(
        m_parser,
        [](void *self, const XML_Char *name, const XML_Char **attributes) {
            auto *parser = static_cast<ExpatParser *>(self);
            parser->noteEventEnd();
            if (parser->refusedAsTooLong())
                return;
            parser->m_handler.startElement(name, attributes);
            parser->afterEvent();
        },
        [](void *self, const XML_Char *name) {
            auto *parser = static_cast<ExpatParser *>(self);
            parser->noteEventEnd();
            if (parser->refusedAsTooLong())
                return;
            parser->m_handler.endElement(name);
            parser->afterEvent();
        });
    XML_SetCharacterDataHandler(m_parser, [](void *self, const XML_Char *data, int length) {
        auto *parser = static_cast<ExpatParser *>(self);
        parser->noteEventEnd();
        parser->m_handler.characters(data, length);
        parser->afterEvent();
    });
    // Comments, declarations and the like: only their end is of interest.
    XML_SetDefaultHandlerExpand(m_parser, [](void *self, const XML_Char *text, int length) {
        auto *parser = static_cast<ExpatParser *>(self);
        parser->noteEventEnd();
        // Markup only: white space around the root element is not limited.
        if (length > 0 && text[0] == '<')
            parser->refusedAsTooLong();
    });
    XML_SetStartDoctypeDeclHandler(
        m_parser, [](void *self, const XML_Char *, const XML_Char *, const XML_Char *, int) {
            auto *parser = static_cast<ExpatParser *>(self);
            parser->m_handler.stop(XmlHandler::doctypeRefused());
            parser->afterEvent();
        });
}

ExpatParser::~ExpatParser()
{
    if (m_parser)
        XML_ParserFree(m_parser);
}

bool ExpatParser::parse(QIODevice *device, QByteArrayView head, QString *error)
{
    if (!m_parser)
        return false;
    qint64 bytesRead = 0;
    for (;;) {
        void *buffer = XML_GetBuffer(m_parser, int(std::max<qsizetype>(blockBytes, head.size())));
        if (!buffer)
            return false;
        qint64 got = 0;
        if (!head.isEmpty()) {
            std::memcpy(buffer, head.data(), size_t(head.size()));
            got = head.size();
            head = {};
        } else {
            got = device->read(static_cast<char *>(buffer), blockBytes);
        }
        if (got < 0)
            return false;
        m_fedBytes += got;
        if (XML_ParseBuffer(m_parser, int(got), got == 0) != XML_STATUS_OK) {
            if (error)
                *error = m_handler.stopReason();
            return false;
        }
        if (got == 0)
            return true;
        if (m_fedBytes - m_parsedBytes > longestTagBytes) {
            if (error)
                *error = XmlHandler::tagTooLong();
            return false;
        }
        bytesRead += got;
        if (m_blockWatch && !m_blockWatch(bytesRead)) {
            if (error)
                *error = WorkProgress::cancelledMessage();
            return false;
        }
    }
}

void ExpatParser::noteEventEnd()
{
    m_parsedBytes = qint64(XML_GetCurrentByteIndex(m_parser)) + XML_GetCurrentByteCount(m_parser);
}

bool ExpatParser::refusedAsTooLong()
{
    if (XML_GetCurrentByteCount(m_parser) <= longestTagBytes + 1)
        return false;
    m_handler.stop(XmlHandler::tagTooLong());
    XML_StopParser(m_parser, XML_FALSE);
    return true;
}

void ExpatParser::afterEvent()
{
    if (m_handler.stopped())
        XML_StopParser(m_parser, XML_FALSE);
}
