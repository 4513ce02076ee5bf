#include "exchange/columnwidth.h"

namespace ColumnWidth {

namespace {

// East Asian wide and full-width ranges.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E)
        || (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF)
        || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
        || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
        || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F)
        || (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

int displayUnits(QStringView text)
{
    int units = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        units += isWide(c) ? 2 : 1;
        if (units >= maxUnits)
            return maxUnits;
    }
    return units;
}

std::array<int, 4> fitted(const ContactList &contacts, qsizetype first, qsizetype count)
{
    std::array<int, 4> widths{};
    const qsizetype end = std::min(contacts.size(), first + count);
    for (qsizetype i = first; i < end; ++i) {
        const std::array<QStringView, 4> fields = contacts.at(i).texts();
        for (int column = 0; column < 4; ++column)
            widths[column] = std::max(widths[column], displayUnits(fields[column]));
    }
    return widths;
}

} // namespace ColumnWidth
