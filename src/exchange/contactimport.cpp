#include "contactimport.h"

#include "sheetreader.h"
#include "textrules.h"

#include <QDir>
#include <QSet>

namespace ContactImport {

namespace {

// The mobiles taken so far. Nearly every mobile is plain digits: those are
// kept as numbers, far cheaper to hash and compare than texts.
class SeenMobiles
{
public:
    explicit SeenMobiles(qsizetype expected) { m_numbers.reserve(expected); }

    // True the first time a mobile is offered.
    bool firstTime(const QString &mobile)
    {
        constexpr qsizetype maxDigits = 18; // with the leading 1 below, still fits 64 bits
        if (mobile.size() > maxDigits)
            return added(m_texts, mobile);
        quint64 number = 1; // a leading 1 keeps leading zeros apart: "01" is not "1"
        for (QChar c : mobile) {
            if (c < u'0' || c > u'9')
                return added(m_texts, mobile);
            number = number * 10 + (c.unicode() - u'0');
        }
        return added(m_numbers, number);
    }

private:
    template<typename Set, typename Key>
    static bool added(Set &set, const Key &key)
    {
        const qsizetype before = set.size();
        set.insert(key);
        return set.size() != before;
    }

    QSet<quint64> m_numbers;
    QSet<QString> m_texts;
};

} // namespace

QString mappedSalutation(const QString &cell)
{
    QString trimmed = TextRules::trimBlanks(cell);
    if (trimmed == u"男")
        return QStringLiteral("先生");
    if (trimmed == u"女")
        return QStringLiteral("女士");
    return trimmed;
}

ContactList contactsFromRows(const QVector<QStringList> &rows)
{
    ContactList contacts;
    contacts.reserve(rows.size());
    SeenMobiles seenMobiles(rows.size());
    const QString none;
    auto cell = [&none](const QStringList &row, int column) -> const QString & {
        return column < row.size() ? row.at(column) : none;
    };

    for (const QStringList &row : rows) {
        QString mobile = TextRules::trimBlanks(cell(row, 0));
        if (!TextRules::isValidMobile(mobile) || !seenMobiles.firstTime(mobile))
            continue;

        Contact contact;
        contact.rowId = -(contacts.size() + 1);
        contact.mobile = std::move(mobile);
        contact.name = cell(row, 1);
        contact.salutation = mappedSalutation(cell(row, 2));
        contact.remark = cell(row, 3);
        contact.ticked = true;
        contacts.append(std::move(contact));
    }
    return contacts;
}

} // namespace ContactImport

ImportResult importContacts(const QString &path)
{
    ImportResult result;
    auto failure = [&path](const QString &reason) {
        return QStringLiteral("无法导入“%1”：%2。").arg(QDir::toNativeSeparators(path), reason);
    };

    QString reason;
    const std::unique_ptr<SheetReader> reader = SheetReader::forFile(path, &reason);
    if (!reader) {
        result.error = failure(reason);
        return result;
    }
    const SheetRows sheet = reader->readFirstSheet(path, ContactImport::columnCount);
    if (!sheet.ok) {
        result.error = failure(sheet.error);
        return result;
    }
    result.contacts = ContactImport::contactsFromRows(sheet.rows);
    result.ok = true;
    return result;
}
