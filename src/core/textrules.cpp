#include "core/textrules.h"

#include <QVarLengthArray>
#include <cmath>
#include <cstdlib>

namespace TextRules {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Strips zeros after the decimal point, and the point itself when nothing is left.
QString withoutTrailingZeros(QString text)
{
    if (!text.contains(u'.'))
        return text;
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

} // namespace

QStringView trimmedView(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString trimBlanks(QStringView text)
{
    return trimmedView(text).toString();
}

QString trimBlanks(const QString &text)
{
    const QStringView trimmed = trimmedView(text);
    return trimmed.size() == text.size() ? text : trimmed.toString();
}

double leadingNumber(QStringView text)
{
    // Collect the characters of the number, without the blanks, then let the
    // C library convert them. Runs for every contact on every rebuild of the
    // recipient list, so short numbers stay on the stack.
    QVarLengthArray<char, 64> number;
    enum class Stage { Sign, Integer, Fraction, ExponentSign, ExponentDigits };
    Stage stage = Stage::Sign;
    qsizetype exponentStart = -1; // where "e" was appended, to drop a bare "e"
    bool exponentHasDigits = false;

    for (QChar c : text) {
        if (isBlank(c))
            continue;
        const char ascii = c.toLatin1();
        if (stage == Stage::Sign && (ascii == '+' || ascii == '-')) {
            number.append(ascii);
            stage = Stage::Integer;
        } else if (isAsciiDigit(c) && stage != Stage::ExponentSign) {
            number.append(ascii);
            if (stage == Stage::Sign)
                stage = Stage::Integer;
            if (stage == Stage::ExponentDigits)
                exponentHasDigits = true;
        } else if (isAsciiDigit(c)) { // first digit after "e"
            number.append(ascii);
            stage = Stage::ExponentDigits;
            exponentHasDigits = true;
        } else if (ascii == '.' && (stage == Stage::Sign || stage == Stage::Integer)) {
            number.append('.');
            stage = Stage::Fraction;
        } else if ((ascii == 'e' || ascii == 'E')
                   && (stage == Stage::Integer || stage == Stage::Fraction)) {
            exponentStart = number.size();
            number.append('e');
            stage = Stage::ExponentSign;
        } else if (stage == Stage::ExponentSign && (ascii == '+' || ascii == '-')) {
            number.append(ascii);
            stage = Stage::ExponentDigits;
        } else {
            break;
        }
    }
    if (exponentStart >= 0 && !exponentHasDigits)
        number.resize(exponentStart);
    if (number.isEmpty())
        return 0.0;
    number.append('\0');
    return std::strtod(number.constData(), nullptr);
}

namespace {

// -1, 0 or 1 as the leading number of text is negative, zero or positive.
// A text of plain digits, as nearly every mobile is, needs no conversion.
int leadingNumberSign(QStringView text)
{
    bool digitsOnly = true;
    bool zero = true;
    for (QChar c : text) {
        digitsOnly = digitsOnly && isAsciiDigit(c);
        zero = zero && c == u'0';
    }
    if (digitsOnly)
        return zero ? 0 : 1;
    const double number = leadingNumber(text);
    return number > 0 ? 1 : (number < 0 ? -1 : 0);
}

} // namespace

bool isValidMobile(QStringView mobile)
{
    const QStringView trimmed = trimmedView(mobile);
    return trimmed.size() == 11 && leadingNumberSign(trimmed) > 0;
}

bool isAcceptableEditorMobile(QStringView mobile)
{
    const QStringView trimmed = trimmedView(mobile);
    return trimmed.size() == 11 && leadingNumberSign(trimmed) != 0;
}

QString plainDecimal(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0)
        return QStringLiteral("0");
    if (value == std::trunc(value))
        return QString::number(value, 'f', 0);
    QString text = QString::number(value, 'g', 15);
    if (!text.contains(u'e'))
        return text;
    // Very small or very large: write it out without an exponent.
    const int magnitude = int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::max(0, 14 - magnitude);
    return withoutTrailingZeros(QString::number(value, 'f', decimals));
}

QString firstNumber(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isAsciiDigit(text[i]))
            return plainDecimal(leadingNumber(text.mid(i)));
    }
    return QString();
}

void appendRecipientLine(QString &text, const Contact &contact, bool withRemark)
{
    const qsizetype start = text.size();
    text += trimmedView(contact.mobile());
    text += u'@';
    text += trimmedView(contact.name());
    text += contact.salutation();
    if (withRemark) {
        text += u'@';
        text += trimmedView(contact.remark());
    }
    for (int i = 0; i < 2 && text.size() > start && text.endsWith(u'@'); ++i)
        text.chop(1);
}

QString localMobile(const QString &number)
{
    QString digits;
    for (QChar c : number) {
        if (c.isDigit())
            digits.append(c);
    }
    for (QStringView prefix : {u"0086", u"86"}) {
        if (digits.size() == 11 + prefix.size() && digits.startsWith(prefix))
            return digits.sliced(prefix.size());
    }
    return digits.isEmpty() ? number : digits;
}

QString recipientLine(const Contact &contact, bool withRemark)
{
    QString line;
    appendRecipientLine(line, contact, withRemark);
    return line;
}

RecipientList buildRecipientList(const ContactList &contacts, bool withRemark,
                                 QStringView lineBreak)
{
    RecipientList list;
    for (const Contact &contact : contacts) {
        if (!contact.ticked || !isValidMobile(contact.mobile()))
            continue;
        appendRecipientLine(list.text, contact, withRemark);
        list.text += lineBreak;
        ++list.count;
    }
    return list;
}

} // namespace TextRules
