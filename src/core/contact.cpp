#include "core/contact.h"

#include <algorithm>
#include <limits>

Contact::Contact(QStringView mobile, QStringView name, QStringView salutation, QStringView remark,
                 qint64 rowId, bool ticked)
    : rowId(rowId), ticked(ticked)
{
    assign(mobile, name, salutation, remark);
}

void Contact::assign(QStringView mobile, QStringView name, QStringView salutation,
                     QStringView remark)
{
    const qsizetype size = mobile.size() + name.size() + salutation.size() + remark.size();
    // The boundaries are 32 bits: 4 G characters, 8 GB of text in one contact.
    if (size > qsizetype(std::numeric_limits<quint32>::max()))
        qBadAlloc();
    // Built aside first: the views may point into m_text.
    QString text;
    if (size > 0) {
        text = QString(size, Qt::Uninitialized);
        QChar *out = text.data();
        for (QStringView part : {mobile, name, salutation, remark})
            out = std::copy(part.begin(), part.end(), out);
    }
    m_nameStart = quint32(mobile.size());
    m_salutationStart = m_nameStart + quint32(name.size());
    m_remarkStart = m_salutationStart + quint32(salutation.size());
    m_text = std::move(text);
}
