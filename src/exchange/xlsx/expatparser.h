#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

class QIODevice;
class XmlHandler;
struct XML_ParserStruct;

// Feeds an XML document to expat block by block and hands its elements to a
// handler. Used for documents in an encoding other than UTF-8, which
// XmlScanner leaves to it. A document type declaration is refused: workbooks
// have none, and refusing it keeps entity expansion out entirely. So is a
// tag longer than any a workbook holds (a name of megabytes), as soon as that
// much has been read.
class ExpatParser
{
public:
    explicit ExpatParser(XmlHandler &handler);
    ~ExpatParser();
    ExpatParser(const ExpatParser &) = delete;
    ExpatParser &operator=(const ExpatParser &) = delete;

    // Reads head (the document's first bytes, already read from device),
    // then device to its end. False on a read error, an XML error or when the
    // handler stopped; error then receives the handler's reason, and is left
    // empty when the document or the device failed (the caller names the part).
    bool parse(QIODevice *device, QByteArrayView head, QString *error);
    // The whole document from device.
    bool parse(QIODevice *device, QString *error) { return parse(device, {}, error); }

    // Called after each block with the bytes read from the device so far
    // (head included); false stops parsing with WorkProgress::cancelledMessage().
    void setBlockWatch(std::function<bool(qint64 bytesRead)> watch) { m_blockWatch = std::move(watch); }

private:
    // Where the last event reported by expat ended in the document.
    void noteEventEnd();
    // After a handler's event: expat stops when the handler did.
    void afterEvent();
    // The current event's markup is longer than a tag may be: parsing stops
    // with XmlHandler::tagTooLong() (true).
    bool refusedAsTooLong();

    XML_ParserStruct *m_parser;
    qint64 m_fedBytes = 0;
    qint64 m_parsedBytes = 0;
    XmlHandler &m_handler;
    std::function<bool(qint64)> m_blockWatch;
};
