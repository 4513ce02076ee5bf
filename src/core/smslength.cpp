#include "core/smslength.h"

#include <array>

namespace SmsLength {

namespace {

// The GSM 03.38 default alphabet (without the escape to the extension table)
// and the extension table, as Unicode.
const QStringView BasicAlphabet =
    u"@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
    u"¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà";
const QStringView ExtensionTable = u"\f^{}\\[~]|€";

// Places a character takes in a 7-bit message: 1, 2 (extension table), or 0
// when it is not in the alphabet.
int septets(QChar c)
{
    static const auto table = [] {
        std::array<quint8, 0x10000> places{};
        for (QChar basic : BasicAlphabet)
            places[basic.unicode()] = 1;
        for (QChar extended : ExtensionTable)
            places[extended.unicode()] = 2;
        return places;
    }();
    return table[c.unicode()];
}

qsizetype parts(qsizetype length, qsizetype single, qsizetype part)
{
    if (length == 0)
        return 0;
    return length <= single ? 1 : (length + part - 1) / part;
}

} // namespace

Count count(QStringView text)
{
    Count result;
    result.characters = text.size();
    qsizetype places = 0;
    bool sevenBit = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            --result.characters; // one character in two UTF-16 units
        if (sevenBit) {
            const int taken = septets(c);
            places += taken;
            sevenBit = taken > 0;
        }
    }
    // UCS-2 messages count UTF-16 units: a character outside the BMP takes two.
    result.messages = sevenBit ? parts(places, 160, 153) : parts(text.size(), 70, 67);
    return result;
}

QString describe(QStringView text)
{
    const Count length = count(text);
    return QStringLiteral("%1 字，%2 条").arg(length.characters).arg(length.messages);
}

} // namespace SmsLength
