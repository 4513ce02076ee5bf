#include "exchange/contactimport.h"

#include "core/textrules.h"
#include "exchange/sheetreader.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <vector>

namespace ContactImport {

// Which contacts repeat the mobile of an earlier one. Nearly every mobile is
// 11 plain digits: those are noted as numbers beside the contact's position
// and sorted once at the end, which touches memory in order; a hash set probed
// for every row spends most of its time waiting for cache misses. While the
// numbers keep rising, as in a sheet sorted by mobile, none can repeat and
// none is noted: the first one out of order notes those of the contacts
// before it. Other mobiles are rare and go through a set of texts at once.
class Builder::SeenMobiles
{
public:
    // Nearly every mobile is 11 plain digits; key is then 1 followed by them
    // (the leading 1 keeps leading zeros apart).
    static bool isPlainNumber(QStringView mobile, quint64 *key)
    {
        constexpr qsizetype digits = 11; // every valid mobile is 11 characters
        if (mobile.size() != digits)
            return false;
        quint64 number = 1;
        bool plain = true;
        for (QChar c : mobile) {
            plain = plain && c >= u'0' && c <= u'9';
            number = number * 10 + (c.unicode() - u'0');
        }
        *key = number;
        return plain;
    }

    // The key of eleven zeros, the one plain number that is no valid mobile.
    static constexpr quint64 zeroKey = 100'000'000'000ULL;

    // False when mobile is known already not to be the first of its kind.
    bool mayBeFirst(QStringView mobile, qsizetype position, const ContactList &earlier)
    {
        quint64 key = 0;
        if (isPlainNumber(mobile, &key) && notePlain(key, position, earlier))
            return true;
        const qsizetype before = m_texts.size();
        m_texts.insert(mobile.toString());
        return m_texts.size() != before;
    }

    // Notes the key of a plain mobile; false when position is beyond what a
    // key can hold (the mobile then has to go through mayBeFirst's texts).
    // earlier: the contacts taken so far, whose mobiles are the trimmed texts.
    bool notePlain(quint64 key, qsizetype position, const ContactList &earlier)
    {
        if (position >= positionLimit)
            return false;
        if (m_rising) {
            if (key > m_lastKey) {
                m_lastKey = key;
                return true;
            }
            m_rising = false;
            for (qsizetype i = 0; i < position; ++i) {
                quint64 earlierKey = 0;
                if (isPlainNumber(earlier.at(i).mobile(), &earlierKey))
                    m_numbered.push_back(earlierKey << positionBits | quint64(i));
            }
        }
        m_numbered.push_back(key << positionBits | quint64(position));
        return true;
    }

    // The positions of contacts whose plain-digit mobile an earlier contact
    // has, in ascending order.
    std::vector<quint32> repeated()
    {
        // A few sorting passes over the whole list only pay off beyond short lists.
        if (m_numbered.size() >= 1024)
            sortByNumber(m_numbered);
        else
            std::sort(m_numbered.begin(), m_numbered.end());
        std::vector<quint32> positions;
        constexpr quint64 positionMask = (quint64(1) << positionBits) - 1;
        for (qsizetype i = 1; i < m_numbered.size(); ++i) {
            if ((m_numbered[i] >> positionBits) == (m_numbered[i - 1] >> positionBits))
                positions.push_back(quint32(m_numbered[i] & positionMask));
        }
        m_numbered = QList<quint64>();
        std::sort(positions.begin(), positions.end());
        return positions;
    }

private:
    // 1 and 11 digits need 38 bits; the position gets the rest.
    static constexpr int positionBits = 26;
    static constexpr qsizetype positionLimit = qsizetype(1) << positionBits;

    // A stable radix sort on the number alone, ten bits a pass, least
    // significant first: the keys were noted in the order of their positions,
    // so equal numbers stay in that order without sorting on the position too.
    // A pass whose digit is the same in every key is skipped.
    static void sortByNumber(QList<quint64> &keys)
    {
        constexpr int digitBits = 10;
        constexpr quint64 digitMask = (quint64(1) << digitBits) - 1;
        QList<quint64> other(keys.size());
        std::vector<quint32> counts(size_t(1) << digitBits);
        for (int shift = positionBits; shift < 64; shift += digitBits) {
            std::fill(counts.begin(), counts.end(), 0);
            for (quint64 key : keys)
                ++counts[(key >> shift) & digitMask];
            if (counts[(keys.front() >> shift) & digitMask] == quint32(keys.size()))
                continue;
            quint32 sum = 0;
            for (quint32 &count : counts)
                sum += std::exchange(count, sum);
            for (quint64 key : keys)
                other[counts[(key >> shift) & digitMask]++] = key;
            keys.swap(other);
        }
    }

    // number << positionBits | position. A QList grows in place (realloc)
    // where a std::vector copies itself into fresh memory at every step.
    QList<quint64> m_numbered;
    QSet<QString> m_texts;
    // Every plain number so far rose above the one before; the last of them.
    bool m_rising = true;
    quint64 m_lastKey = 0;
};

QStringView mappedSalutation(QStringView cell)
{
    const QStringView trimmed = TextRules::trimmedView(cell);
    if (trimmed == u"男")
        return u"先生";
    if (trimmed == u"女")
        return u"女士";
    return trimmed;
}

Builder::Builder() : m_seen(std::make_unique<SeenMobiles>()) {}

Builder::~Builder() = default;

void Builder::takeRow(qsizetype, std::span<QString> cells)
{
    if (cells.empty())
        return;
    const qsizetype position = m_contacts.size();
    // The usual mobile, 11 plain digits without blanks, is checked and noted
    // in one pass over its characters.
    QStringView mobile = cells[0];
    quint64 key = 0;
    if (SeenMobiles::isPlainNumber(mobile, &key)) {
        if (key == SeenMobiles::zeroKey)
            return;
        if (!m_seen->notePlain(key, position, m_contacts)
            && !m_seen->mayBeFirst(mobile, position, m_contacts))
            return;
    } else {
        mobile = TextRules::trimmedView(mobile);
        if (!TextRules::isValidMobile(mobile) || !m_seen->mayBeFirst(mobile, position, m_contacts))
            return;
    }

    // Built where it lies in the list, its one string straight from the
    // cells, which stay as they are for the reader to reuse.
    const auto cell = [cells](size_t column) {
        return column < cells.size() ? QStringView(cells[column]) : QStringView();
    };
    m_contacts.emplaceBack(mobile, cell(1), mappedSalutation(cell(2)), cell(3), -(position + 1));
}

ContactList Builder::takeContacts()
{
    // Only the first row of each mobile stays; the contacts behind a removed
    // one move up and are numbered anew.
    const std::vector<quint32> repeated = m_seen->repeated();
    if (!repeated.empty()) {
        qsizetype kept = repeated.front();
        auto next = repeated.cbegin();
        for (qsizetype i = kept; i < m_contacts.size(); ++i) {
            if (next != repeated.cend() && *next == quint32(i)) {
                ++next;
                continue;
            }
            m_contacts[kept] = std::move(m_contacts[i]);
            m_contacts[kept].rowId = -(kept + 1);
            ++kept;
        }
        m_contacts.resize(kept);
    }
    m_seen = std::make_unique<SeenMobiles>();
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

bool importContacts(const QString &path, ContactList *contacts, QString *error)
{
    ContactImport::Builder builder;
    return importContacts(path, builder, contacts, error);
}

bool importContacts(const QString &path, ContactImport::Builder &builder, ContactList *contacts,
                    QString *error)
{
    auto fail = [&path, error](const QString &reason) {
        if (error)
            *error = QStringLiteral("无法导入“%1”：%2。").arg(QDir::toNativeSeparators(path), reason);
        return false;
    };

    QString reason;
    const std::unique_ptr<SheetReader> reader = SheetReader::forFile(path, &reason);
    if (!reader)
        return fail(reason);
    if (!reader->read(path, ContactImport::columnCount, builder, &reason))
        return fail(reason);
    *contacts = builder.takeContacts();
    return true;
}
