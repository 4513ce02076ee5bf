#include "exchange/phonebook/gbkencoder.h"

#include <QString>
#include <QStringEncoder>

#include <array>
#include <memory>

namespace GbkEncoder {

namespace {

constexpr char Unknown = '?';

// GBK bytes of each UTF-16 unit from U+0080 on: below 0x100 one byte, else
// lead byte << 8 | trail byte (lead bytes are 0x81 to 0xFE). Surrogates map
// to "?" here; pairs are handled by the caller.
class Table
{
public:
    Table()
    {
        // One call for all characters, each followed by a line feed: GBK
        // never uses 0x0A inside a character, so the output splits cleanly.
        QString all;
        all.reserve(2 * qsizetype(0x10000));
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            all += isSurrogate(c) ? QChar(u'?') : QChar(char16_t(c));
            all += u'\n';
        }
        QStringEncoder encoder("GBK");
        const QByteArray bytes = encoder.encode(all);

        qsizetype pos = 0;
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            const qsizetype end = bytes.indexOf('\n', pos);
            m_codes[c] = end < 0 ? Unknown : code(bytes.mid(pos, end - pos));
            pos = end + 1;
        }
    }

    quint16 operator[](char16_t c) const { return m_codes[c]; }

private:
    static bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

    static quint16 code(const QByteArray &bytes)
    {
        if (bytes.size() == 1)
            return quint8(bytes[0]);
        if (bytes.size() == 2)
            return quint16(quint8(bytes[0]) << 8 | quint8(bytes[1]));
        return Unknown;
    }

    std::array<quint16, 0x10000> m_codes {};
};

const Table &table()
{
    static const std::unique_ptr<Table> instance = std::make_unique<Table>();
    return *instance;
}

} // namespace

char *write(char *out, QStringView text)
{
    const Table &codes = table();
    const char16_t *c = text.utf16();
    const char16_t *const end = c + text.size();
    while (c < end) {
        const char16_t unit = *c++;
        if (unit < 0x80) {
            *out++ = char(unit);
            continue;
        }
        if (QChar::isHighSurrogate(unit)) {
            if (c < end && QChar::isLowSurrogate(*c))
                ++c;
            *out++ = Unknown;
            continue;
        }
        const quint16 code = codes[unit];
        if (code > 0xFF)
            *out++ = char(code >> 8);
        *out++ = char(code & 0xFF);
    }
    return out;
}

QByteArray encode(QStringView text)
{
    QByteArray out(text.size() * MaxBytesPerUnit, Qt::Uninitialized);
    out.truncate(write(out.data(), text) - out.data());
    return out;
}

} // namespace GbkEncoder
