#include "exchange/csv/gbkdecoder.h"

#include <QStringDecoder>
#include <QtEndian>

#include <bit>
#include <cstring>
#include <vector>

namespace GbkDecoder {

namespace {

constexpr int firstLead = 0x81;
constexpr int lastLead = 0xFE;
constexpr int firstTrail = 0x40;
constexpr int lastTrail = 0xFE;

bool isTrail(int byte)
{
    return byte >= firstTrail && byte <= lastTrail && byte != 0x7F;
}

// The character of every pair of bytes whose first has its high bit set,
// indexed by (first - 0x80) * 256 + second; 0 where the pair is no two-byte
// code, so that one look-up also checks both bytes. Empty when Qt's decoder
// does not give one character per code.
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
        result.assign(size_t(128) * 256, 0);
        qsizetype next = 0;
        for (int lead = firstLead; lead <= lastLead; ++lead) {
            for (int trail = firstTrail; trail <= lastTrail; ++trail) {
                if (isTrail(trail))
                    result[size_t(lead - 0x80) * 256 + size_t(trail)] = decoded[next++].unicode();
            }
        }
        return result;
    }();
    return characters;
}

constexpr quint64 eachByte(quint64 byte)
{
    return byte * 0x0101010101010101;
}

// One bit (the high bit of its byte) for the first byte of word, counted from
// the lowest, that is NUL or has its high bit set; bits above it may be set
// too (a borrow only runs on above a byte that was NUL).
quint64 firstNotPlain(quint64 word)
{
    return ((word - eachByte(1)) | word) & eachByte(0x80);
}

// The eight bytes of word, lowest first, as eight UTF-16 units (little-endian
// machines only): each half spread to 16 bits a byte.
void widen(quint64 word, char16_t *out)
{
    for (qsizetype half = 0; half < 2; ++half) {
        quint64 units = (word >> (32 * half)) & 0xFFFFFFFF;
        units = (units | units << 16) & 0x0000FFFF0000FFFF;
        units = (units | units << 8) & 0x00FF00FF00FF00FF;
        std::memcpy(out + 4 * half, &units, sizeof units);
    }
}

} // namespace

bool decode(QByteArrayView bytes, QString *text)
{
    const std::vector<char16_t> &characters = table();
    if (characters.empty())
        return false;
    // Never more characters than bytes; a buffer the text already holds is reused.
    text->resize(bytes.size());
    char16_t *out = reinterpret_cast<char16_t *>(text->data());
    char16_t *const begin = out;
    const uchar *in = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = in + bytes.size();

    constexpr bool littleEndian = std::endian::native == std::endian::little;
    while (in < end) {
        // Mostly ASCII: eight bytes at a time up to the first that is not
        // plain ASCII. All eight are widened even when fewer are taken: the
        // output never runs ahead of the input, so there is room, and what is
        // beyond is overwritten next.
        if (littleEndian && end - in >= 8) {
            const quint64 word = qFromLittleEndian<quint64>(in);
            widen(word, out);
            const quint64 mark = firstNotPlain(word);
            const int plain = mark == 0 ? 8 : std::countr_zero(mark) / 8;
            in += plain;
            out += plain;
            if (plain == 8)
                continue;
        } else if (*in != 0 && *in < 0x80) {
            *out++ = *in++;
            continue;
        }
        // Two-byte codes come in runs (Chinese words).
        while (in < end && *in >= 0x80) {
            const char16_t c = end - in >= 2 ? characters[size_t(in[0] - 0x80) * 256 + in[1]] : 0;
            if (c == 0)
                return false;
            *out++ = c;
            in += 2;
        }
        if (in < end && *in == 0)
            return false;
    }
    text->truncate(out - begin);
    return true;
}

} // namespace GbkDecoder
