#include "contactimport.h"

#include "sheetreader.h"
#include "textrules.h"

#include <QDir>
#include <QSet>

namespace ContactImport {

// The mobiles taken so far. Nearly every mobile is plain digits: those are
// kept as numbers, far cheaper to hash and compare than texts.
class Builder::SeenMobiles
{
public:
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

QString mappedSalutation(const QString &cell)
{
    const QString trimmed = TextRules::trimBlanks(cell);
    if (trimmed == u"男")
        return QStringLiteral("先生");
    if (trimmed == u"女")
        return QStringLiteral("女士");
    return trimmed;
}

Builder::Builder() : m_seen(std::make_unique<SeenMobiles>()) {}

Builder::~Builder() = default;

void Builder::takeRow(qsizetype, std::span<QString> cells)
{
    if (cells.empty())
        return;
    QString mobile = TextRules::trimBlanks(cells[0]);
    if (!TextRules::isValidMobile(mobile) || !m_seen->firstTime(mobile))
        return;

    auto cell = [&cells](size_t column) { return column < cells.size() ? std::move(cells[column]) : QString(); };
    Contact contact;
    contact.rowId = -(m_contacts.size() + 1);
    contact.mobile = std::move(mobile);
    contact.name = cell(1);
    contact.salutation = mappedSalutation(cell(2));
    contact.remark = cell(3);
    contact.ticked = true;
    m_contacts.append(std::move(contact));
}

ContactList Builder::takeContacts()
{
    return std::exchange(m_contacts, ContactList());
}

ContactList contactsFromRows(const QVector<QStringList> &rows)
{
    Builder builder;
    std::vector<QString> cells(columnCount);
    qsizetype number = 0;
    for (const QStringList &row : rows) {
        for (qsizetype i = 0; i < columnCount; ++i)
            cells[size_t(i)] = i < row.size() ? row.at(i) : QString();
        builder.takeRow(++number, cells);
    }
    return builder.takeContacts();
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
    ContactImport::Builder builder;
    if (!reader->read(path, ContactImport::columnCount, builder, &reason)) {
        result.error = failure(reason);
        return result;
    }
    result.contacts = builder.takeContacts();
    result.ok = true;
    return result;
}
