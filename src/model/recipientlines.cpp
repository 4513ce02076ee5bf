#include "model/recipientlines.h"

#include "core/textrules.h"
#include "model/documentlines.h"

QString RecipientLines::build(const ContactList &contacts, bool withRemark)
{
    return adopt(lay(contacts, withRemark));
}

RecipientLines::Layout RecipientLines::lay(const ContactList &contacts, bool withRemark)
{
    Layout layout;
    QString &text = layout.m_text;
    QVector<qint64> lengths(contacts.size(), 0);
    layout.m_withRemark = withRemark;
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        const Contact &contact = contacts[i];
        if (!contact.ticked || !TextRules::isValidMobile(contact.mobile()))
            continue;
        const qsizetype start = text.size();
        TextRules::appendRecipientLine(text, contact, withRemark);
        shorten(text, start, i, layout.m_shortened);
        text += DocumentLines::breakAfter(QStringView(text).mid(start), i);
        lengths[i] = text.size() - start;
        ++layout.m_count;
    }
    layout.m_lengths.assign(std::move(lengths));
    return layout;
}

QString RecipientLines::adopt(Layout layout)
{
    m_lengths = std::move(layout.m_lengths);
    m_shortened = std::move(layout.m_shortened);
    m_count = layout.m_count;
    m_withRemark = layout.m_withRemark;
    m_current = true;
    return std::move(layout.m_text);
}

std::optional<RecipientLines::Change> RecipientLines::changeForTick(const ContactList &contacts,
                                                                    qsizetype index)
{
    const Contact &contact = contacts.at(index);
    const qint64 position = m_lengths.prefixSum(index);
    const qint64 shown = m_lengths.prefixSum(index + 1) - position;
    if (contact.ticked && shown == 0 && TextRules::isValidMobile(contact.mobile())) {
        Change change{position, 0, TextRules::recipientLine(contact, m_withRemark)};
        shorten(change.inserted, 0, index, m_shortened);
        change.inserted += DocumentLines::breakAfter(change.inserted, index);
        m_lengths.add(index, change.inserted.size());
        ++m_count;
        return change;
    }
    if (!contact.ticked && shown > 0) {
        m_lengths.add(index, -shown);
        --m_count;
        return Change{position, shown, QString()};
    }
    return std::nullopt;
}

namespace {

const QChar CutMark(0x2026); // …

} // namespace

void RecipientLines::shorten(QString &text, qsizetype start, qsizetype index,
                             QHash<QString, qsizetype> &shortened)
{
    if (text.size() - start <= LongestShownLine)
        return;
    text.truncate(start + LongestShownLine);
    text += CutMark;
    shortened.insert(text.mid(start), index);
}

QString RecipientLines::wholeText(const ContactList &contacts, const QString &shownText) const
{
    if (m_shortened.isEmpty() || !m_current)
        return shownText;
    // A cut line starts a line and has its mark at a fixed distance: only
    // there is a line looked up.
    QString whole;
    qsizetype copied = 0;
    for (qsizetype start = 0; start + LongestShownLine < shownText.size();) {
        const auto found = shownText.at(start + LongestShownLine) == CutMark
                               ? m_shortened.constFind(shownText.mid(start, LongestShownLine + 1))
                               : m_shortened.constEnd();
        if (found != m_shortened.constEnd() && found.value() < contacts.size()) {
            whole += QStringView(shownText).mid(copied, start - copied);
            whole += TextRules::recipientLine(contacts[found.value()], m_withRemark);
            copied = start + LongestShownLine + 1;
        }
        const qsizetype lineEnd = shownText.indexOf(u'\n', found != m_shortened.constEnd()
                                                               ? start + LongestShownLine + 1
                                                               : start);
        if (lineEnd < 0)
            break;
        start = lineEnd + 1;
    }
    whole += QStringView(shownText).mid(copied);
    return whole;
}
