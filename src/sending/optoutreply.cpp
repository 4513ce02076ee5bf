#include "sending/optoutreply.h"

#include <QStringList>

namespace {

// Longest first, so that "td" is not read as "t" and then "d".
const QStringList RefusalWords = {QStringLiteral("退订"), QStringLiteral("取消"),
                                  QStringLiteral("td"), QStringLiteral("t"), QStringLiteral("n")};

// Full-width letters as ASCII, folded case, and only letters and CJK left.
QString normalized(const QString &text)
{
    const QString folded = text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString kept;
    for (QChar c : folded) {
        if (c.isLetterOrNumber())
            kept.append(c);
    }
    return kept;
}

} // namespace

bool isOptOutReply(const QString &text)
{
    QString rest = normalized(text);
    if (rest.startsWith(u'回'))
        rest.remove(0, 1);
    for (const QStringView thanks : {u"谢谢你", u"谢谢"}) {
        if (rest.endsWith(thanks)) {
            rest.chop(thanks.size());
            break;
        }
    }
    if (rest.isEmpty())
        return false;
    while (!rest.isEmpty()) {
        const auto word = std::find_if(RefusalWords.cbegin(), RefusalWords.cend(),
                                       [&rest](const QString &each) { return rest.startsWith(each); });
        if (word == RefusalWords.cend())
            return false;
        rest.remove(0, word->size());
    }
    return true;
}
