#include "model/recipientlines.h"

#include "core/textrules.h"
#include "model/documentlines.h"

QString RecipientLines::build(const ContactList &contacts, bool withRemark)
{
    QString text;
    QVector<qint64> lengths(contacts.size(), 0);
    m_count = 0;
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        const Contact &contact = contacts[i];
        if (!contact.ticked || !TextRules::isValidMobile(contact.mobile()))
            continue;
        const qsizetype start = text.size();
        TextRules::appendRecipientLine(text, contact, withRemark);
        text += DocumentLines::breakAfter(QStringView(text).mid(start), i);
        lengths[i] = text.size() - start;
        ++m_count;
    }
    m_lengths.assign(std::move(lengths));
    m_withRemark = withRemark;
    m_current = true;
    return text;
}

std::optional<RecipientLines::Change> RecipientLines::changeForTick(const ContactList &contacts,
                                                                    qsizetype index)
{
    const Contact &contact = contacts.at(index);
    const qint64 position = m_lengths.prefixSum(index);
    const qint64 shown = m_lengths.prefixSum(index + 1) - position;
    if (contact.ticked && shown == 0 && TextRules::isValidMobile(contact.mobile())) {
        Change change{position, 0, TextRules::recipientLine(contact, m_withRemark)};
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
