#pragma once

#include "core/contact.h"
#include "core/textrules.h"
#include "sending/log/batchlog.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>

// The personal text each recipient gets: {姓名}, {称呼}, {备注} and {手机号}
// are replaced by the contact's own texts; any other {…} stays as typed.
namespace PersonalText {

inline constexpr std::array<const char16_t *, 4> Placeholders = {u"{手机号}", u"{姓名}",
                                                                   u"{称呼}", u"{备注}"};
// What "末尾加上“回T退订”" adds.
inline constexpr const char16_t *OptOutLine = u"回T退订";

QString fill(const QString &text, const Contact &contact);
// The pieces of text with a brace that make no placeholder, each once.
QStringList unknownPlaceholders(const QString &text);
// The text as typed with the opt-out words at its end, unless it already
// ends with them.
QString withOptOutLine(const QString &text);

} // namespace PersonalText

// The recipients of a batch from the ticked contacts of the working list, in
// its order: only valid 11-digit mobiles, none on the opt-out list, each
// number once.
struct BatchRecipients
{
    QList<BatchRecipient> recipients;
    qsizetype optedOut = 0;
    qsizetype repeated = 0;
    qsizetype invalid = 0;
    QStringList invalidExamples; // the first few numbers that are not mobiles
    // For each placeholder ({姓名} …) the text uses: how many recipients
    // have it empty.
    QList<QPair<QString, qsizetype>> emptyPlaceholders;
    // Braces in the text that make no placeholder ("{未知}", "{{姓名}}",
    // "{姓名 "), as typed: they would be sent as they stand.
    QStringList unknownPlaceholders;
    qsizetype totalParts = 0; // messages the whole batch costs
    qsizetype mostParts = 0;  // of the longest personal text

    static BatchRecipients select(const ContactList &contacts, const QString &text,
                                  bool optOutLine, const QSet<QString> &optOuts);

    // "共 N 人" and what was left out for each reason, one line each.
    QString summary() const;
    // A warning line per placeholder left empty for some recipients, and
    // one naming the braces that make no placeholder; "" when none.
    QString placeholderWarning() const;
};

// A mobile worth sending to: the valid-mobile rule, and 11 digits.
bool isSendableMobile(QStringView mobile);
// A sender's number as the log keeps mobiles (the rule lives with the text rules).
using TextRules::localMobile;
