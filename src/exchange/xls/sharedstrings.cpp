#include "exchange/xls/sharedstrings.h"

#include "exchange/xls/biffrecords.h"

#include <QVector>

namespace {

struct BucketStart
{
    quint32 streamPosition;
    quint16 offsetInRecord;
};

} // namespace

namespace {

// A lone surrogate is not a character: readers refuse a workbook that holds
// one. It is written as "?", as the .xlsx writer's UTF-8 conversion does.
bool hasLoneSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

QString withoutLoneSurrogates(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = u'?';
    }
    return text;
}

} // namespace

quint32 SharedStrings::use(QStringView text)
{
    if (hasLoneSurrogate(text))
        return use(withoutLoneSurrogates(text.toString()));
    ++m_total;
    const auto found = m_index.constFind(text);
    if (found != m_index.cend())
        return found.value();
    const quint32 index = quint32(m_strings.size());
    m_strings.append(text.toString());
    m_index.insert(m_strings.constLast(), index);
    return index;
}

void SharedStrings::write(BiffBuffer &out) const
{
    constexpr int maxBody = BiffBuffer::maxRecordBody;
    constexpr int stringHeader = 3; // character count (2) + option flags (1)

    // EXTSST keeps the position of every n-th string; Excel's own choice of n.
    const quint16 stringsPerBucket = quint16(std::max<quint32>(8, uniqueCount() / 128 + 1));
    QVector<BucketStart> buckets;

    out.beginRecord(BiffRecord::Sst);
    out.u32(m_total);
    out.u32(uniqueCount());

    for (qsizetype i = 0; i < m_strings.size(); ++i) {
        const QString &text = m_strings.at(i);
        const bool compressed = fitsCompressed(text);
        const int charBytes = compressed ? 1 : 2;
        const quint8 flags = compressed ? 0x00 : 0x01;

        // The header and the first character stay together in one record.
        const int needed = stringHeader + (text.isEmpty() ? 0 : charBytes);
        if (maxBody - out.recordBodySize() < needed) {
            out.endRecord();
            out.beginRecord(BiffRecord::Continue);
        }
        if (i % stringsPerBucket == 0)
            buckets.append({quint32(out.size()), quint16(out.size() - out.recordStart())});

        out.u16(quint16(text.size()));
        out.u8(flags);
        qsizetype done = 0;
        while (done < text.size()) {
            const qsizetype room = (maxBody - out.recordBodySize()) / charBytes;
            if (room == 0) {
                // The characters go on in a CONTINUE record that repeats the flags.
                out.endRecord();
                out.beginRecord(BiffRecord::Continue);
                out.u8(flags);
                continue;
            }
            const qsizetype count = std::min(room, text.size() - done);
            out.chars(QStringView(text).mid(done, count), compressed);
            done += count;
        }
    }
    out.endRecord();

    out.beginRecord(BiffRecord::ExtSst);
    out.u16(stringsPerBucket);
    for (const BucketStart &bucket : buckets) {
        out.u32(bucket.streamPosition);
        out.u16(bucket.offsetInRecord);
        out.u16(0);
    }
    out.endRecord();
}
