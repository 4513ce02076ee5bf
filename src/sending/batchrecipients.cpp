#include "sending/batchrecipients.h"

#include "core/smslength.h"
#include "core/textrules.h"

namespace {

constexpr qsizetype InvalidExamples = 5;

QStringView placeholderValue(qsizetype index, const Contact &contact)
{
    switch (index) {
    case 0:
        return TextRules::trimmedView(contact.mobile());
    case 1:
        return contact.name();
    case 2:
        return contact.salutation();
    default:
        return contact.remark();
    }
}

} // namespace

namespace PersonalText {

QString fill(const QString &text, const Contact &contact)
{
    if (!text.contains(u'{'))
        return text;
    QString result;
    result.reserve(text.size() + 16);
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype open = text.indexOf(u'{', from);
        if (open < 0)
            break;
        result.append(QStringView(text).sliced(from, open - from));
        qsizetype matched = -1;
        for (qsizetype i = 0; i < qsizetype(Placeholders.size()); ++i) {
            if (QStringView(text).sliced(open).startsWith(QStringView(Placeholders[i]))) {
                matched = i;
                break;
            }
        }
        if (matched < 0) {
            result.append(u'{');
            from = open + 1;
            continue;
        }
        result.append(placeholderValue(matched, contact));
        from = open + QStringView(Placeholders[matched]).size();
    }
    result.append(QStringView(text).sliced(from));
    return result;
}

QStringList unknownPlaceholders(const QString &text)
{
    QStringList pieces;
    const QStringView view(text);
    qsizetype at = 0;
    while (at < view.size()) {
        const QChar c = view.at(at);
        if (c != u'{' && c != u'}') {
            ++at;
            continue;
        }
        const auto known = std::find_if(Placeholders.cbegin(), Placeholders.cend(),
                                        [&](const char16_t *placeholder) {
                                            return view.sliced(at).startsWith(QStringView(placeholder));
                                        });
        if (known != Placeholders.cend()) {
            at += QStringView(*known).size();
            continue;
        }
        // The piece as typed: up to where its braces close, a space, or a
        // few characters on.
        qsizetype end = at;
        int depth = 0;
        while (end < view.size() && !view.at(end).isSpace() && end - at < 20) {
            depth += view.at(end) == u'{' ? 1 : view.at(end) == u'}' ? -1 : 0;
            ++end;
            if (depth <= 0)
                break;
        }
        const QString piece = view.sliced(at, end - at).toString();
        if (!pieces.contains(piece))
            pieces.append(piece);
        at = end;
    }
    return pieces;
}

QString withOptOutLine(const QString &text)
{
    const QStringView line(OptOutLine);
    return text.endsWith(line) ? text : text + line.toString();
}

} // namespace PersonalText

bool isSendableMobile(QStringView mobile)
{
    if (!TextRules::isValidMobile(mobile))
        return false;
    for (QChar c : TextRules::trimmedView(mobile)) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

BatchRecipients BatchRecipients::select(const ContactList &contacts, const QString &text,
                                        bool optOutLine, const QSet<QString> &optOuts)
{
    BatchRecipients result;
    const QString typed = optOutLine ? PersonalText::withOptOutLine(text) : text;
    QList<qsizetype> used; // placeholders the text holds
    for (qsizetype i = 0; i < qsizetype(PersonalText::Placeholders.size()); ++i) {
        if (typed.contains(QStringView(PersonalText::Placeholders[i])))
            used.append(i);
    }
    QList<qsizetype> empty(used.size(), 0);
    QSet<QString> seen;
    for (const Contact &contact : contacts) {
        if (!contact.ticked)
            continue;
        if (!isSendableMobile(contact.mobile())) {
            if (result.invalidExamples.size() < InvalidExamples)
                result.invalidExamples.append(contact.mobile().toString());
            ++result.invalid;
            continue;
        }
        const QString mobile = TextRules::trimmedView(contact.mobile()).toString();
        if (optOuts.contains(mobile)) {
            ++result.optedOut;
            continue;
        }
        if (seen.contains(mobile)) {
            ++result.repeated;
            continue;
        }
        seen.insert(mobile);
        for (qsizetype i = 0; i < used.size(); ++i) {
            if (placeholderValue(used[i], contact).trimmed().isEmpty())
                ++empty[i];
        }
        QString personal = PersonalText::fill(typed, contact);
        const qsizetype parts = SmsLength::count(personal).messages;
        result.totalParts += parts;
        result.mostParts = std::max(result.mostParts, parts);
        result.recipients.append({mobile, contact.name().toString(), std::move(personal)});
    }
    result.unknownPlaceholders = PersonalText::unknownPlaceholders(typed);
    for (qsizetype i = 0; i < used.size(); ++i) {
        if (empty[i] > 0)
            result.emptyPlaceholders.append(
                {QString::fromUtf16(PersonalText::Placeholders[used[i]]), empty[i]});
    }
    return result;
}

QString BatchRecipients::summary() const
{
    QStringList lines{QStringLiteral("收信人 %1 人，共 %2 条短信。")
                          .arg(recipients.size())
                          .arg(totalParts)};
    if (optedOut > 0)
        lines.append(QStringLiteral("%1 人在退订名单上，不发送。").arg(optedOut));
    if (repeated > 0)
        lines.append(QStringLiteral("%1 个号码重复，只发一次。").arg(repeated));
    if (invalid > 0) {
        QString names = invalidExamples.join(u'、');
        if (invalid > invalidExamples.size())
            names += QStringLiteral(" 等");
        lines.append(QStringLiteral("%1 个号码不是 11 位手机号，不发送：%2").arg(invalid).arg(names));
    }
    return lines.join(u'\n');
}

QString BatchRecipients::placeholderWarning() const
{
    QStringList lines;
    for (const auto &[placeholder, count] : emptyPlaceholders)
        lines.append(QStringLiteral("注意：%1 人的 %2 是空的。").arg(count).arg(placeholder));
    if (!unknownPlaceholders.isEmpty())
        lines.append(QStringLiteral("注意：短信里的 %1 不是能替换的内容（只认 {姓名}、{称呼}、{备注}、{手机号}），"
                                    "会按原样发出。")
                         .arg(unknownPlaceholders.join(u'、')));
    return lines.join(u'\n');
}
