#include "exchange/csv/gbkdecoder.h"

#include <QStringDecoder>

#include <vector>

namespace GbkDecoder {

namespace {

constexpr int firstLead = 0x81;
constexpr int lastLead = 0xFE;
constexpr int firstTrail = 0x40;
constexpr int lastTrail = 0xFE;
constexpr int trailCount = lastTrail - firstTrail + 1;

bool isTrail(int byte)
{
    return byte >= firstTrail && byte <= lastTrail && byte != 0x7F;
}

// The character of every two-byte code, 0 where there is none; empty when
// Qt's decoder does not give one character per code.
const std::vector<char16_t> &table()
{
    static const std::vector<char16_t> characters = [] {
        QByteArray codes;
        for (int lead = firstLead; lead <= lastLead; ++lead) {
            for (int trail = firstTrail; trail <= lastTrail; ++trail) {
                if (isTrail(trail))
                    codes.append(char(lead)).append(char(trail));
            }
        }
        QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
        const QString decoded = decoder.decode(codes);
        std::vector<char16_t> result;
        if (decoder.hasError() || decoded.size() * 2 != codes.size())
            return result;
        result.assign(size_t(lastLead - firstLead + 1) * trailCount, 0);
        qsizetype next = 0;
        for (int lead = firstLead; lead <= lastLead; ++lead) {
            for (int trail = firstTrail; trail <= lastTrail; ++trail) {
                if (isTrail(trail))
                    result[size_t(lead - firstLead) * trailCount + (trail - firstTrail)] = decoded[next++].unicode();
            }
        }
        return result;
    }();
    return characters;
}

} // namespace

bool decode(QByteArrayView bytes, QString *text)
{
    const std::vector<char16_t> &characters = table();
    if (characters.empty())
        return false;
    QString result(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(result.data());
    const uchar *in = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *end = in + bytes.size();
    char16_t *const begin = out;
    while (in < end) {
        const uchar byte = *in;
        if (byte < 0x80) {
            *out++ = byte;
            ++in;
            continue;
        }
        if (byte < firstLead || byte > lastLead || in + 1 == end || !isTrail(in[1]))
            return false;
        const char16_t c = characters[size_t(byte - firstLead) * trailCount + (in[1] - firstTrail)];
        if (c == 0)
            return false;
        *out++ = c;
        in += 2;
    }
    result.truncate(out - begin);
    *text = std::move(result);
    return true;
}

} // namespace GbkDecoder
