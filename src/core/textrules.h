#pragma once

#include "core/contact.h"

#include <QString>
#include <QStringView>

// The small text rules that several commands share: how a mobile number is
// judged, how a recipient line is built and how numbers become text.
namespace TextRules {

// Removes blanks (U+0020) at both ends, nothing else.
QString trimBlanks(QStringView text);
// The same; a text without blanks at its ends is handed back shared, not copied.
QString trimBlanks(const QString &text);
QStringView trimmedView(QStringView text);

// The number a text begins with: optional sign, digits, an optional decimal
// point with digits, an optional exponent. Reading stops at the first
// character that cannot continue the number; blanks, tabs and line feeds
// inside are skipped. A text that does not begin with a number reads as 0.
double leadingNumber(QStringView text);

// A mobile worth sending to: trimmed it is exactly 11 characters long and its
// leading number is greater than 0.
bool isValidMobile(QStringView mobile);

// The contact editor's looser test: 11 characters trimmed, leading number not 0.
bool isAcceptableEditorMobile(QStringView mobile);

// A number as plain decimal text: integral values without ".0" or exponent,
// others with at most 15 significant digits.
QString plainDecimal(double value);

// The first number in a text, as plain decimal text: from the first digit on,
// the leading number of the rest. Empty when the text holds no digit.
QString firstNumber(QStringView text);

// A sender's number as the program keeps mobiles: +86 / 0086 / 86 in front of
// 11 digits dropped, other characters than digits removed; a text without
// digits stays as it is.
QString localMobile(const QString &number);

// One line of the recipient list, without its line break:
// mobile@name+salutation[@remark], with at most two trailing "@" removed.
QString recipientLine(const Contact &contact, bool withRemark);
// The same line appended to text.
void appendRecipientLine(QString &text, const Contact &contact, bool withRemark);

struct RecipientList
{
    QString text; // every line followed by the line break
    qsizetype count = 0;
};

// The recipient list of the ticked contacts with a valid mobile, every line
// followed by lineBreak.
RecipientList buildRecipientList(const ContactList &contacts, bool withRemark,
                                 QStringView lineBreak = u"\r\n");

} // namespace TextRules
