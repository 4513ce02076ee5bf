#include "exchange/xls/biffbuffer.h"

#include <QtEndian>

void BiffBuffer::u16(quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    m_bytes.append(reinterpret_cast<const char *>(&le), 2);
}

void BiffBuffer::u32(quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    m_bytes.append(reinterpret_cast<const char *>(&le), 4);
}

void BiffBuffer::chars(QStringView text, bool compressed)
{
    if (compressed) {
        for (QChar c : text)
            m_bytes.append(char(c.unicode()));
        return;
    }
    const qsizetype start = m_bytes.size();
    m_bytes.resize(start + text.size() * 2);
    qToLittleEndian<quint16>(text.utf16(), text.size(), m_bytes.data() + start);
}

void BiffBuffer::beginRecord(quint16 id)
{
    m_recordStart = m_bytes.size();
    u16(id);
    u16(0);
}

void BiffBuffer::endRecord()
{
    const qsizetype length = m_bytes.size() - m_recordStart - 4;
    Q_ASSERT(length >= 0 && length <= maxRecordBody);
    qToLittleEndian<quint16>(quint16(length), m_bytes.data() + m_recordStart + 2);
    m_recordStart = -1;
}

void BiffBuffer::record(quint16 id, const QByteArray &body)
{
    Q_ASSERT(body.size() <= maxRecordBody);
    u16(id);
    u16(quint16(body.size()));
    m_bytes.append(body);
}

void BiffBuffer::patchU32(qsizetype at, quint32 value)
{
    qToLittleEndian<quint32>(value, m_bytes.data() + at);
}

bool fitsCompressed(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}
