#pragma once

#include <QByteArray>
#include <QStringView>

#include <cstdint>

// A growing BIFF8 byte stream: little-endian fields and whole records.
class BiffBuffer
{
public:
    // Largest record body BIFF8 allows; longer data goes into CONTINUE records.
    static constexpr int maxRecordBody = 8224;

    qsizetype size() const { return m_bytes.size(); }
    const QByteArray &bytes() const { return m_bytes; }
    QByteArray &bytes() { return m_bytes; }

    void u8(quint8 value) { m_bytes.append(char(value)); }
    void u16(quint16 value);
    void u32(quint32 value);
    void zeros(int count) { m_bytes.append(count, '\0'); }
    // Characters as UTF-16LE, or as one byte each when compressed.
    void chars(QStringView text, bool compressed);

    // Record header with a body length patched in by endRecord().
    void beginRecord(quint16 id);
    void endRecord();
    void record(quint16 id, const QByteArray &body);
    // Where the open record's header starts, and how long its body is so far.
    qsizetype recordStart() const { return m_recordStart; }
    qsizetype recordBodySize() const { return m_bytes.size() - m_recordStart - 4; }

    void patchU32(qsizetype at, quint32 value);

private:
    QByteArray m_bytes;
    qsizetype m_recordStart = -1;
};

// True when every character fits into one byte (BIFF8 "compressed" string).
bool fitsCompressed(QStringView text);
