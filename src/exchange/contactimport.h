#pragma once

#include "core/contact.h"
#include "exchange/sheetreader.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The rules that turn the rows of a worksheet into working-list contacts; the
// same for every file format.
namespace ContactImport {

// Columns A..D: mobile, name, salutation, remark.
constexpr int columnCount = 4;

// The salutation as stored: trimmed, and a bare "男"/"女" spelled out. A
// view into cell or into static text.
QStringView mappedSalutation(QStringView cell);

// Turns rows into contacts as a reader hands them over: rows with a valid
// mobile (trimmed column A), the first row of each mobile only, every contact
// ticked and numbered -1, -2, ... as a working-list entry. Nothing of a
// skipped row is kept. The cells are only read: a reader may reuse their
// buffers for the next row.
class Builder : public SheetRowSink
{
public:
    Builder();
    ~Builder() override;

    void takeRow(qsizetype rowNumber, std::span<QString> cells) override;
    ContactList takeContacts();

private:
    class SeenMobiles;
    ContactList m_contacts;
    std::unique_ptr<SeenMobiles> m_seen;
};

// The same for rows already in memory.
ContactList contactsFromRows(const QVector<QStringList> &rows);

} // namespace ContactImport

// Reads the first worksheet of the workbook at path into contacts. On failure
// contacts is left alone (the caller keeps its working list as it was) and
// error names the file and the reason, ready for a message box.
bool importContacts(const QString &path, ContactList *contacts, QString *error);

// The same through a given builder, e.g. one that passes the reader's
// progress on (SheetRowSink::proceed) and may stop it.
bool importContacts(const QString &path, ContactImport::Builder &builder, ContactList *contacts,
                    QString *error);
