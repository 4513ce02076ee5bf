#include "contactimport.h"

#include "sheetreader.h"
#include "textrules.h"

#include <QDir>
#include <QSet>

namespace ContactImport {

QString mappedSalutation(QStringView cell)
{
    const QString trimmed = TextRules::trimBlanks(cell);
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
    QSet<QString> seenMobiles;
    seenMobiles.reserve(rows.size());
    auto cell = [](const QStringList &row, int column) {
        return column < row.size() ? row.at(column) : QString();
    };

    for (const QStringList &row : rows) {
        const QString mobile = TextRules::trimBlanks(cell(row, 0));
        if (!TextRules::isValidMobile(mobile))
            continue;
        const qsizetype seenBefore = seenMobiles.size();
        seenMobiles.insert(mobile);
        if (seenMobiles.size() == seenBefore) // not the first row with this mobile
            continue;

        Contact contact;
        contact.rowId = -(contacts.size() + 1);
        contact.mobile = mobile;
        contact.name = cell(row, 1);
        contact.salutation = mappedSalutation(cell(row, 2));
        contact.remark = cell(row, 3);
        contact.ticked = true;
        contacts.append(contact);
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
