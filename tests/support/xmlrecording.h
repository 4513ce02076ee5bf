#pragma once

// Runs an XML document through a parser (ExpatParser or XmlScanner) and
// records what its handler receives, so that the two can be compared event by
// event. Header-only and free of Qt Test: the fuzz target uses it too.

#include "exchange/xlsx/xmlhandler.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QIODevice>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstring>
#include <optional>

namespace XmlRecording {

// One event: "S" name (attribute name, value)..., "E" name, or "T" text (the
// pieces of one run of character data joined).
using Event = QByteArrayList;

// How a document is handed out: in one read, in reads of one length, or in
// reads of lengths drawn from 1 to randomUpTo by a seeded generator, the way a
// pipe or an inflating zip entry hands out its bytes.
struct Reads
{
    qint64 length = 0; // 0: the whole document at once
    qint64 randomUpTo = 0;
    quint32 seed = 1;
    qint64 failAt = -1; // a read error once this many bytes are handed out

    QString describe() const
    {
        if (randomUpTo > 0)
            return QStringLiteral("reads of 1 to %1 bytes (seed %2)").arg(randomUpTo).arg(seed);
        return length > 0 ? QStringLiteral("reads of %1 bytes").arg(length)
                          : QStringLiteral("one read");
    }
};

// A read-only sequential device that never returns more than the next length
// of its Reads, and never an empty read before the end.
class ChunkedDevice final : public QIODevice
{
public:
    ChunkedDevice(const QByteArray &bytes, const Reads &reads)
        : m_bytes(bytes)
        , m_reads(reads)
        , m_random(reads.seed)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_bytes.size() - m_at + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_reads.failAt >= 0 && m_at >= m_reads.failAt)
            return -1;
        qint64 length = m_bytes.size() - m_at;
        if (m_reads.randomUpTo > 0)
            length = std::min(length, qint64(m_random.bounded(quint64(m_reads.randomUpTo))) + 1);
        else if (m_reads.length > 0)
            length = std::min(length, m_reads.length);
        length = std::min(length, maxSize);
        if (m_reads.failAt >= 0)
            length = std::min(length, m_reads.failAt - m_at);
        std::memcpy(data, m_bytes.constData() + m_at, size_t(length));
        m_at += length;
        return length;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_at = 0;
    Reads m_reads;
    QRandomGenerator m_random;
};

// Where a handler stops parsing: at the start or the end of the first element
// of this name.
struct StopAt
{
    char kind = 'S'; // 'S', 'E', or 'T' for the first piece of text (any name)
    QByteArray name;
    QString reason;
};

struct Outcome
{
    bool accepted = false;
    QString error;
    QList<Event> events;
    int eventsAfterStop = 0; // handed on although the handler had stopped
};

class RecordingHandler : public XmlHandler
{
public:
    explicit RecordingHandler(std::optional<StopAt> stopAt)
        : m_stopAt(std::move(stopAt))
    {
    }

    void startElement(const char *name, const char **attributes) override
    {
        Event event{"S", name};
        for (; *attributes; attributes += 2)
            event << attributes[0] << attributes[1];
        record(std::move(event));
    }
    void endElement(const char *name) override { record(Event{"E", name}); }
    void characters(const char *data, int length) override
    {
        if (stopped()) {
            ++m_outcome.eventsAfterStop;
            return;
        }
        if (!m_outcome.events.isEmpty() && m_outcome.events.constLast().constFirst() == "T")
            m_outcome.events.last()[1].append(data, length);
        else
            m_outcome.events.append(Event{"T", QByteArray(data, length)});
        if (m_stopAt && m_stopAt->kind == 'T')
            stop(m_stopAt->reason);
    }

    Outcome &outcome() { return m_outcome; }

private:
    void record(Event event)
    {
        if (stopped()) {
            ++m_outcome.eventsAfterStop;
            return;
        }
        const bool stopHere =
            m_stopAt && event[0].at(0) == m_stopAt->kind && event[1] == m_stopAt->name;
        m_outcome.events.append(std::move(event));
        if (stopHere)
            stop(m_stopAt->reason);
    }

    std::optional<StopAt> m_stopAt;
    Outcome m_outcome;
};

template<class Parser>
Outcome parseWith(const QByteArray &document, const Reads &reads, std::optional<StopAt> stopAt = {})
{
    RecordingHandler handler(std::move(stopAt));
    ChunkedDevice device(document, reads);
    Parser parser(handler);
    QString error;
    handler.outcome().accepted = parser.parse(&device, &error);
    handler.outcome().error = error;
    return std::move(handler.outcome());
}

// Printable ASCII as it is, everything else as a C escape; at most limit
// bytes of the start.
inline QString escaped(const QByteArray &bytes, qsizetype limit = 600)
{
    QString text;
    for (qsizetype i = 0; i < std::min(limit, bytes.size()); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\\' || byte == '"')
            text += QLatin1String(byte == '"' ? "\\\"" : "\\\\");
        else if (byte == '\n')
            text += QLatin1String("\\n");
        else if (byte == '\r')
            text += QLatin1String("\\r");
        else if (byte == '\t')
            text += QLatin1String("\\t");
        else if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(char(byte));
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    if (bytes.size() > limit)
        text += QStringLiteral("... (%1 bytes in all)").arg(bytes.size());
    return text;
}

inline QString describe(const Event &event)
{
    QStringList fields;
    for (const QByteArray &field : event)
        fields << QLatin1Char('"') + escaped(field, 200) + QLatin1Char('"');
    return fields.join(QLatin1Char(' '));
}

// Empty when outcome (of what) agrees with reference: the same decision, the
// same events when both accepted the document, and expat's reason when it
// refused the document with one (a document type, a tag too long). Broken XML
// has no reason of its own; the scanner may still name one where expat gives
// up sooner (a document type declaration that is itself broken).
inline QString difference(const QByteArray &document, const Outcome &reference,
                          const Outcome &outcome, const QString &what)
{
    QString problem;
    if (reference.accepted != outcome.accepted) {
        problem =
            QStringLiteral("expat %1 the document, %2 %3 it (%4)")
                .arg(reference.accepted ? QStringLiteral("accepts") : QStringLiteral("refuses"),
                     what, outcome.accepted ? QStringLiteral("accepts") : QStringLiteral("refuses"),
                     outcome.error.isEmpty() ? QStringLiteral("no reason") : outcome.error);
    } else if (!reference.accepted && !reference.error.isEmpty()
               && reference.error != outcome.error) {
        problem = QStringLiteral("expat refuses the document with reason \"%1\", %2 with \"%3\"")
                      .arg(reference.error, what, outcome.error);
    } else if (reference.accepted && reference.events != outcome.events) {
        qsizetype at = 0;
        while (at < reference.events.size() && at < outcome.events.size()
               && reference.events[at] == outcome.events[at])
            ++at;
        problem =
            QStringLiteral("%1 events from expat, %2 from %3; event %4 is\n  expat: %5\n  %3: %6")
                .arg(reference.events.size())
                .arg(outcome.events.size())
                .arg(what)
                .arg(at)
                .arg(at < reference.events.size() ? describe(reference.events[at])
                                                  : QStringLiteral("none"),
                     at < outcome.events.size() ? describe(outcome.events[at])
                                                : QStringLiteral("none"));
    }
    if (problem.isEmpty())
        return problem;
    return problem + QStringLiteral("\n  document: \"%1\"").arg(escaped(document));
}

} // namespace XmlRecording
