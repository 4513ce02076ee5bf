#include "exchange/xlsx/expatparser.h"

#include <QIODevice>

#include <expat.h>

#include <cstring>

namespace {

constexpr int blockBytes = 1 << 18;
// Longer than any tag a workbook writes. expat scans an unfinished tag again
// from its start with every block it is given, so a tag of many megabytes
// (one endless name) would cost time quadratic in its length before failing.
constexpr qint64 longestTagBytes = 1 << 20;

} // namespace

ExpatParser::ExpatParser(Handler &handler)
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
            parser->m_handler.startElement(localName(name), attributes);
        },
        [](void *self, const XML_Char *name) {
            auto *parser = static_cast<ExpatParser *>(self);
            parser->noteEventEnd();
            parser->m_handler.endElement(localName(name));
        });
    XML_SetCharacterDataHandler(m_parser, [](void *self, const XML_Char *data, int length) {
        auto *parser = static_cast<ExpatParser *>(self);
        parser->noteEventEnd();
        parser->m_handler.characters(data, length);
    });
    // Comments, declarations and the like: only their end is of interest.
    XML_SetDefaultHandlerExpand(m_parser, [](void *self, const XML_Char *, int) {
        static_cast<ExpatParser *>(self)->noteEventEnd();
    });
    XML_SetStartDoctypeDeclHandler(
        m_parser, [](void *self, const XML_Char *, const XML_Char *, const XML_Char *, int) {
            static_cast<ExpatParser *>(self)->stop(
                QStringLiteral("工作簿内容已损坏（含有文档类型声明）"));
        });
}

ExpatParser::~ExpatParser()
{
    if (m_parser)
        XML_ParserFree(m_parser);
}

bool ExpatParser::parse(QIODevice *device, QString *error)
{
    if (!m_parser)
        return false;
    for (;;) {
        void *buffer = XML_GetBuffer(m_parser, blockBytes);
        if (!buffer)
            return false;
        const qint64 got = device->read(static_cast<char *>(buffer), blockBytes);
        if (got < 0)
            return false;
        m_fedBytes += got;
        if (XML_ParseBuffer(m_parser, int(got), got == 0) != XML_STATUS_OK) {
            if (error)
                *error = m_stopReason;
            return false;
        }
        if (got == 0)
            return true;
        if (m_fedBytes - m_parsedBytes > longestTagBytes) {
            if (error)
                *error = QStringLiteral("工作簿内容已损坏（元素或属性的名称过长）");
            return false;
        }
    }
}

void ExpatParser::noteEventEnd()
{
    m_parsedBytes = qint64(XML_GetCurrentByteIndex(m_parser)) + XML_GetCurrentByteCount(m_parser);
}

void ExpatParser::stop(const QString &reason)
{
    if (m_stopReason.isEmpty())
        m_stopReason = reason;
    XML_StopParser(m_parser, XML_FALSE);
}

const char *ExpatParser::attribute(const char **attributes, const char *name)
{
    for (; attributes[0]; attributes += 2) {
        if (std::strcmp(localName(attributes[0]), name) == 0)
            return attributes[1];
    }
    return nullptr;
}
